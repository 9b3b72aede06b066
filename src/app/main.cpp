#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarn-installer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Installs the companion applications of T.A.R.N. USB document scanners."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(application);
    return 0;
}
