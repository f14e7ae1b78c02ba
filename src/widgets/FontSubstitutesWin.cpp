#include "FontSubstitutes.h"

namespace ui {

// Windows has Times New Roman, Arial and Courier New with Cyrillic; the old "Cyr" names and the
// bitmap MS Sans Serif map to them. A substitute is used only where a family is missing, so under
// Wine (which has none of them) the Linux fonts it finds stand in.
std::vector<FontSubstitute> fontSubstitutes() {
    return {
        {QStringLiteral("MS Sans Serif"),
         {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}},
        {QStringLiteral("Times New Roman Cyr"),
         {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")}},
        {QStringLiteral("Courier New Cyr"),
         {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")}},
        {QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")}},
    };
}

} // namespace ui
