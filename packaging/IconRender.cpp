// Build-time tool: renders the program's SVG icon into the PNG sizes of the hicolor
// icon theme, so the PNGs always match the SVG they come from.
//
//   quorvantis-icon-render ICON.svg OUTPUT_FOLDER NAME SIZE...
//
// writes OUTPUT_FOLDER/<SIZE>x<SIZE>/apps/NAME.png for every SIZE.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    // A build machine has no display; nothing here needs one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    const QStringList Args = App.arguments();
    if (Args.size() < 5) {
        std::fprintf(stderr, "Usage: quorvantis-icon-render ICON.svg OUTPUT_FOLDER NAME SIZE...\n");
        return 2;
    }
    QSvgRenderer Renderer(Args.at(1));
    if (!Renderer.isValid()) {
        std::fprintf(stderr, "Cannot read the SVG icon %s\n", qPrintable(Args.at(1)));
        return 1;
    }
    for (qsizetype I = 4; I < Args.size(); ++I) {
        bool Ok = false;
        const int Size = Args.at(I).toInt(&Ok);
        if (!Ok || Size <= 0 || Size > 1024) {
            std::fprintf(stderr, "Invalid icon size %s\n", qPrintable(Args.at(I)));
            return 2;
        }
        QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
        Image.fill(Qt::transparent);
        {
            QPainter Painter(&Image);
            Painter.setRenderHint(QPainter::Antialiasing);
            Renderer.render(&Painter, QRectF(0, 0, Size, Size));
        }
        const QString Folder = QStringLiteral("%1/%2x%2/apps").arg(Args.at(2)).arg(Size);
        const QString File = Folder + QLatin1Char('/') + Args.at(3) + QStringLiteral(".png");
        if (!QDir().mkpath(Folder) || !Image.save(File, "PNG")) {
            std::fprintf(stderr, "Cannot write %s\n", qPrintable(File));
            return 1;
        }
    }
    return 0;
}
