// The RTF reader that shows the licence and legal notes shipped with an application.
#include "FuzzSupport.h"
#include "screens/RtfReader.h"

#include <QGuiApplication>
#include <QTextDocument>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Fonts and text documents need a GUI application; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarn::RtfReader reader;
    const std::unique_ptr<QTextDocument> document = reader.read(QByteArrayView(data, static_cast<qsizetype>(size)));
    if (document) {
        (void)document->toPlainText();
    } else if (reader.errorString().isEmpty()) {
        std::abort(); // a refused document must say why
    }
    return 0;
}
