// skivaddon-skin-render: writes every skin picture, painted by the same
// code the Qt window uses, as the image resources of the Win32 window.
//
//   skivaddon-skin-render OUT_DIR          write the resources into OUT_DIR
//   skivaddon-skin-render --check DIR      exit 1 unless DIR holds exactly
//                                          what would be written now
//
// For each image number N and scale S (1 and 2) it writes skin_N@Sx.png, a
// straight-alpha PNG of N x S pixels, plus skin.rc naming them as RCDATA
// (resource N at scale 1, N + kScale2Offset at scale 2) and
// skin_generated.h with the hand cursor's hot spot per scale. PNGs are
// compared by pixels (an encoder update must not fail the check), the text
// files byte for byte.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPoint>
#include <cstdio>
#include <map>
#include <string>

#include "app/skin.h"
#include "app/skin_paint.h"
#include "ui_layout/skin_images.h"

namespace {

using skiv::app::Skin;
namespace ui = skiv::ui;

constexpr int kScale2Offset = 1000;

constexpr int kImages[] = {
    ui::kIconApp,           ui::kBmpLogo,      ui::kIconCloseHover, ui::kIconClose,
    ui::kIconMinimizeHover, ui::kIconMinimize, ui::kIconLogin,      ui::kBmpSeparator,
    ui::kIconRollBackHover, ui::kIconRollBack, ui::kIconSaveHover,  ui::kIconSave,
    ui::kIconInstallHover,  ui::kIconInstall,  ui::kCursorHand,     ui::kBmpBackLoggedOut,
    ui::kBmpBackLoggedIn,   ui::kBmpTree,
};

QString PngName(int id, int scale) {
    return QStringLiteral("skin_%1@%2x.png").arg(id).arg(scale);
}

// Everything the output folder holds: file name -> image or text.
struct Output {
    std::map<QString, QImage> images;
    std::map<QString, QByteArray> texts;
};

Output Render() {
    Output out;
    QByteArray rc =
        "// Written by skivaddon-skin-render (scripts/render-skin); do not edit.\n"
        "// Skin pictures: resource N at scale 1, N + 1000 at scale 2.\n";
    QByteArray header =
        "// Written by skivaddon-skin-render (scripts/render-skin); do not edit.\n"
        "#pragma once\n\n"
        "namespace skiv::win32 {\n\n"
        "// Resource number of an image at scale 2: its number plus this.\n"
        "inline constexpr int kScale2Offset = 1000;\n"
        "// Hot spot of the hand cursor in image pixels, by scale (1, 2).\n";
    QByteArray hotSpots = "inline constexpr int kHandHotSpot[2][2] = {";
    for (int scale : {1, 2}) {
        const Skin skin(scale);
        for (int id : kImages) {
            QImage image = skin.Image(id).toImage().convertToFormat(QImage::Format_ARGB32);
            image.setDevicePixelRatio(1.0);
            const QString name = PngName(id, scale);
            out.images[name] = image;
            rc += QByteArray::number(scale == 1 ? id : id + kScale2Offset) + " RCDATA \"skin/" +
                  name.toUtf8() + "\"\n";
        }
        QPoint hot;
        skiv::app::skinpaint::HandCursor(scale, &hot);
        hotSpots += QStringLiteral("{%1, %2}%3")
                        .arg(hot.x() * scale)
                        .arg(hot.y() * scale)
                        .arg(scale == 1 ? QStringLiteral(", ") : QString())
                        .toUtf8();
    }
    header += hotSpots + "};\n\n}  // namespace skiv::win32\n";
    out.texts[QStringLiteral("skin.rc")] = rc;
    out.texts[QStringLiteral("skin_generated.h")] = header;
    return out;
}

int Write(const Output& out, const QString& dirPath) {
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    for (const auto& [name, image] : out.images) {
        if (!image.save(dir.filePath(name), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(name)));
            return 1;
        }
    }
    for (const auto& [name, text] : out.texts) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}

int Check(const Output& out, const QString& dirPath) {
    const QDir dir(dirPath);
    int stale = 0;
    auto report = [&](const QString& name, const char* why) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(dir.filePath(name)), why);
        ++stale;
    };
    for (const auto& [name, image] : out.images) {
        QImage committed(dir.filePath(name));
        if (committed.isNull())
            report(name, "missing");
        else if (committed.convertToFormat(QImage::Format_ARGB32) != image)
            report(name, "differs from the skin painted now");
    }
    for (const auto& [name, text] : out.texts) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            report(name, "missing");
        else if (file.readAll() != text)
            report(name, "differs from the one written now");
    }
    const QStringList present = dir.entryList(QDir::Files);
    for (const QString& name : present)
        if (!out.images.count(name) && !out.texts.count(name))
            report(name, "is no skin resource");
    if (stale)
        std::fprintf(stderr, "%d stale skin resource(s): run scripts/render-skin\n", stale);
    return stale ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && !args[1].startsWith(QLatin1Char('-')))
        return Write(Render(), args[1]);
    if (args.size() == 3 && args[1] == QLatin1String("--check"))
        return Check(Render(), args[2]);
    std::fprintf(stderr, "usage: skivaddon-skin-render OUT_DIR | --check DIR\n");
    return 2;
}
