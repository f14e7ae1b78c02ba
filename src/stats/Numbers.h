#pragma once
#include <QString>
#include <optional>
#include <stdexcept>

// The arithmetic of the statistics windows: results are text in edits, read back by later
// steps, and every kept value is a 6-byte real (40 significant bits) computed between stores in
// 80-bit extended precision.
namespace stats {

using Real = long double;

// A computation that has no defined result; the message says what is missing.
class NumberError : public std::runtime_error {
public:
    explicit NumberError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

// v rounded to 40 significant bits, ties to even. Below the 6-byte real's range it becomes 0;
// above it, or not a number, it throws, so no "inf" or "nan" is ever kept.
Real store(Real v);

// Fixed point with four decimals, no grouping; a value that shows as zero has no minus sign.
QString fixed4(Real v);
// A whole number right-aligned in at least two characters: 1 gives " 1".
QString width2(Real v);

// A decimal number with a point: leading and trailing blanks skipped, an optional sign and
// exponent; nothing when the text is not one.
std::optional<Real> readDecimal(const QString& text);
// A decimal whole number of 32 bits, blanks around it skipped; def when the text is not one.
int readWhole(const QString& text, int def);
// The same for 64-bit whole numbers; nothing when the text is not one.
std::optional<qint64> readWhole64(const QString& text);
// The decimal number an edit named what shows, stored; a text that is not one stops the step
// with a message naming the edit.
Real readNumber(const QString& text, const QString& what);

} // namespace stats
