#include "askpass/PasswordDialog.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

// sudo runs this with its prompt as the only argument and reads the password from standard output.
// TARN_ASKPASS_REPORT names a file that records each answer; TARN_ASKPASS_CANCEL_MESSAGE is written to
// standard error on a cancel, for a caller that no longer exists by then to do it (the script runner
// has become sudo).
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    tarn::askpass::PasswordDialog dialog(arguments.size() > 1 ? arguments[1] : QString());
    dialog.exec();

    QFile output;
    if (!output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return 1;
    }
    const int status = tarn::askpass::answer(dialog, output, qEnvironmentVariable("TARN_ASKPASS_REPORT"));
    const QByteArray cancelMessage = qgetenv("TARN_ASKPASS_CANCEL_MESSAGE");
    if (status != 0 && !cancelMessage.isEmpty()) {
        std::fprintf(stderr, "%s\n", cancelMessage.constData());
    }
    return status;
}
