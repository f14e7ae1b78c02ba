#pragma once
#include "CodePage.h"

#include <QDate>
#include <QString>
#include <string_view>

// The values of a record's field bytes, for readers that hold records of their own.
namespace dbf {

// The date a date field's text holds; invalid when blank or no calendar day.
QDate parseDate(std::string_view s);
// A text field's bytes, right-trimmed, in the table's code page.
QString decodeText(std::string_view s, CodePage cp);

} // namespace dbf
