// Renders the icon sources of resources/svg/ into the PNG files of resources/.
// Usage: render-icons-bin <svg> <png> <width> <height> [frames]
// With a frame count, writes <png> with "%1" replaced by the two-digit frame number, each
// frame turned by 360/frames degrees about the centre (for the busy spinners).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s svg png width height [frames]\n", argv[0]);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const int width = QByteArray(argv[3]).toInt();
    const int height = QByteArray(argv[4]).toInt();
    const int frames = argc > 5 ? QByteArray(argv[5]).toInt() : 0;
    const QString target = QString::fromLocal8Bit(argv[2]);
    for (int frame = 0; frame < qMax(frames, 1); ++frame) {
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        if (frames > 0) {
            painter.translate(width / 2.0, height / 2.0);
            painter.rotate(360.0 * frame / frames);
            painter.translate(-width / 2.0, -height / 2.0);
        }
        renderer.render(&painter, QRectF(0, 0, width, height));
        painter.end();
        const QString file = frames > 0 ? target.arg(frame, 2, 10, QLatin1Char('0')) : target;
        if (!image.convertToFormat(QImage::Format_ARGB32).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
