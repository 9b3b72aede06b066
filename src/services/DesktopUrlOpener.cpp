#include "services/UrlOpener.h"

#include <QDesktopServices>

namespace tarn {

void DesktopUrlOpener::open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

} // namespace tarn
