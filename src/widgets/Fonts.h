#pragma once
#include <QColor>
#include <QFont>

class QWidget;

namespace ui {

// Maps the designed font families to ones the system has (FontSubstitutes*.cpp).
void registerFontSubstitutions();

enum FontStyle { Regular = 0, Bold = 1, Italic = 2, BoldItalic = 3 };

// A font of the given family and pixel size.
QFont font(const QString& family, int pixelSize, int style = Regular);
// Sets a widget's font and text colour.
void style(QWidget* w, const QFont& f, const QColor& color = QColor());
// Background colour of a panel.
void fill(QWidget* w, const QColor& color);

} // namespace ui
