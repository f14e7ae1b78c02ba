#include "widgets/Fonts.h"
#include "widgets/FontSubstitutes.h"

#include <QPalette>
#include <QWidget>

namespace ui {

void registerFontSubstitutions() {
    for (const FontSubstitute& s : fontSubstitutes())
        QFont::insertSubstitutions(s.family, s.replacements);
}

QFont font(const QString& family, int pixelSize, int style) {
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(style & Bold);
    f.setItalic(style & Italic);
    return f;
}

void style(QWidget* w, const QFont& f, const QColor& color) {
    w->setFont(f);
    if (color.isValid()) {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, color);
        p.setColor(QPalette::Text, color);
        w->setPalette(p);
    }
}

void fill(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace ui
