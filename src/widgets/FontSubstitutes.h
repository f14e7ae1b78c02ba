#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace ui {

// The families the windows are designed with, and what stands in for each where it is missing:
// one list per system (FontSubstitutes*.cpp).
struct FontSubstitute {
    QString family;
    QStringList replacements;
};
std::vector<FontSubstitute> fontSubstitutes();

} // namespace ui
