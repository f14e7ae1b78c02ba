#include "FontSubstitutes.h"

namespace ui {

// Fonts every Linux machine here has (fonts-dejavu-core, fonts-liberation), with Cyrillic.
std::vector<FontSubstitute> fontSubstitutes() {
    return {
        {QStringLiteral("MS Sans Serif"), {QStringLiteral("DejaVu Sans")}},
        {QStringLiteral("Times New Roman Cyr"), {QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")}},
        {QStringLiteral("Courier New Cyr"), {QStringLiteral("Liberation Mono")}},
        {QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")}},
    };
}

} // namespace ui
