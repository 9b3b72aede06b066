#include "askpass/PasswordDialog.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

// sudo runs this with its prompt as the only argument and reads the password from standard output.
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    tarn::askpass::PasswordDialog dialog(arguments.size() > 1 ? arguments[1] : QString());
    dialog.exec();

    QFile output;
    if (!output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return 1;
    }
    return tarn::askpass::answer(dialog, output, qEnvironmentVariable("TARN_ASKPASS_CANCEL_FILE"));
}
