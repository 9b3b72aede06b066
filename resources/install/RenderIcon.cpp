// Renders the application icon, drawn in SVG, to one PNG size of the hicolor theme while building, so
// no generated picture is committed.
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fputs("usage: tarn_render_icon SVG SIZE PNG\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    bool isNumber = false;
    const int size = QByteArray(argv[2]).toInt(&isNumber);
    if (!renderer.isValid() || !isNumber || size <= 0) {
        std::fprintf(stderr, "tarn_render_icon: cannot render '%s' at size '%s'\n", argv[1], argv[2]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "tarn_render_icon: cannot write '%s'\n", argv[3]);
        return 1;
    }
    return 0;
}
