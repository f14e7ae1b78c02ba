// morv-icon OUTDIR: the program's icon in the sizes a desktop looks for, drawn from the
// program's own picture: OUTDIR/hicolor/NxN/apps/morvanta.png and .../scalable/apps/morvanta.svg.
#include "SvgPainter.h"
#include "app/Picture.h"
#include "widgets/Fonts.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: morv-icon OUTDIR\n");
        return 2;
    }
    ui::registerFontSubstitutions();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = out.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(size));
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        PaintProgramIcon(p, size);
        p.end();
        if (!QDir().mkpath(dir) || !img.save(dir + QStringLiteral("/morvanta.png"))) {
            std::fprintf(stderr, "morv-icon: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    const QString dir = out.filePath(QStringLiteral("hicolor/scalable/apps"));
    if (!QDir().mkpath(dir)) return 1;
    SvgPicture svg(256, 256, QStringLiteral("Психологическое тестирование"));
    QPainter p(&svg);
    PaintProgramIcon(p, 256);
    p.end();
    QSaveFile file(dir + QStringLiteral("/morvanta.svg"));
    if (!file.open(QIODevice::WriteOnly) || file.write(svg.document()) < 0 || !file.commit()) {
        std::fprintf(stderr, "morv-icon: cannot write %s/morvanta.svg\n", qPrintable(dir));
        return 1;
    }
    return 0;
}
