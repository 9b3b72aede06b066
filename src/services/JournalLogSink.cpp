#include "services/SystemLogSink.h"

#include <systemd/sd-journal.h>

#include <syslog.h>

namespace tarn {

void JournalLogSink::write(LogLevel level, const QString& subsystem, const QString& category, const QString& text) {
    const QByteArray message = text.toUtf8();
    const QByteArray subsystemText = subsystem.toUtf8();
    const QByteArray categoryText = category.toUtf8();
    const int priority = level == LogLevel::critical ? LOG_CRIT : LOG_INFO;
    // The result is dropped on purpose: without a journal there is nobody to tell.
    (void)sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                          "tarn-installer", "TARN_SUBSYSTEM=%s", subsystemText.constData(), "TARN_CATEGORY=%s",
                          categoryText.constData(), nullptr);
}

} // namespace tarn
