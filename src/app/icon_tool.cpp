// skivaddon-icons OUTDIR NAME: writes the skin's emblem, as the window's
// own icon paints it, into OUTDIR/hicolor/SIZExSIZE/apps/NAME.png at the
// sizes desktops look for. Run at build time without a display.

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "app/skin_paint.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: skivaddon-icons OUTDIR NAME\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        const QString file = dir + "/" + name + ".png";
        if (!QDir().mkpath(dir) || !skiv::app::skinpaint::AppIcon(size, 1.0).save(file, "PNG")) {
            std::fprintf(stderr, "skivaddon-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
