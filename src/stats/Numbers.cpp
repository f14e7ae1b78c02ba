#include "stats/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace stats {

namespace {

// The largest 6-byte real, about 1.7e38: all 40 bits set at the top exponent, 2^126.
const Real kMax = std::ldexp(Real(1), 126) * (2 - std::ldexp(Real(1), -39));
// The smallest 6-byte real, about 2.9e-39; there are no subnormals.
const Real kMin = std::ldexp(Real(1), -128);

QString trimmedBlanks(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == QLatin1Char(' '))
        ++b;
    while (e > b && text[e - 1] == QLatin1Char(' '))
        --e;
    return text.mid(b, e - b);
}

// Only ASCII digits, signs, point and exponent: from_chars would also take "inf" and "nan".
bool plainNumberChars(const QString& s, bool allowFraction) {
    if (s.isEmpty()) return false;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        const bool digit = u >= '0' && u <= '9';
        const bool sign = u == '+' || u == '-';
        const bool frac = u == '.' || u == 'e' || u == 'E';
        if (!digit && !sign && !(allowFraction && frac)) return false;
    }
    return true;
}

} // namespace

Real store(Real v) {
    if (std::isnan(v)) throw NumberError(QStringLiteral("Результат не определён"));
    if (v == 0) return 0;
    int e = 0;
    const Real m = std::frexp(v, &e); // |m| in [0.5, 1)
    // The long double has 64 bits of mantissa, so the scaled value is exact and nearbyint
    // rounds it to even under the default rounding mode.
    const Real r = std::ldexp(std::nearbyint(std::ldexp(m, 40)), e - 40);
    if (std::fabs(r) > kMax) throw NumberError(QStringLiteral("Слишком большое число"));
    if (std::fabs(r) < kMin) return 0;
    return r;
}

namespace {

QString printed(Real v, const char* format) {
    if (!std::isfinite(v)) throw NumberError(QStringLiteral("Результат не определён"));
    char buf[80];
    std::snprintf(buf, sizeof buf, format, v);
    return QString::fromLatin1(buf);
}

} // namespace

QString fixed4(Real v) {
    QString s = printed(v, "%.4Lf");
    if (s == QLatin1String("-0.0000")) s.remove(0, 1);
    return s;
}

QString width2(Real v) {
    const QString s = printed(v, "%2.0Lf");
    return s == QLatin1String("-0") ? QStringLiteral(" 0") : s;
}

namespace {

// The text to parse: blanks around it dropped, plain number characters only, a plus sign
// dropped (from_chars takes a minus only) and no second sign after the first.
std::optional<QByteArray> numberText(const QString& text, bool allowFraction) {
    const QString s = trimmedBlanks(text);
    if (!plainNumberChars(s, allowFraction)) return std::nullopt;
    QByteArray a = s.toLatin1();
    const auto sign = [&](int i) { return a.size() > i && (a[i] == '+' || a[i] == '-'); };
    if (sign(0) && sign(1)) return std::nullopt;
    if (a.startsWith('+')) a.remove(0, 1);
    return a;
}

} // namespace

std::optional<Real> readDecimal(const QString& text) {
    const std::optional<QByteArray> a = numberText(text, true);
    if (!a) return std::nullopt;
    Real v = 0;
    const char* end = a->constData() + a->size();
    const auto [stop, ec] = std::from_chars(a->constData(), end, v, std::chars_format::general);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return v;
}

std::optional<qint64> readWhole64(const QString& text) {
    const std::optional<QByteArray> a = numberText(text, false);
    if (!a) return std::nullopt;
    qint64 v = 0;
    const char* end = a->constData() + a->size();
    const auto [stop, ec] = std::from_chars(a->constData(), end, v);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return v;
}

Real readNumber(const QString& text, const QString& what) {
    const std::optional<Real> v = readDecimal(text);
    if (!v)
        throw NumberError(QStringLiteral("В поле \"%1\" не число: \"%2\". Дробную часть отделяйте точкой.")
                              .arg(what, text));
    return store(*v);
}

int readWhole(const QString& text, int def) {
    const std::optional<qint64> v = readWhole64(text);
    if (!v || *v < INT32_MIN || *v > INT32_MAX) return def;
    return int(*v);
}

} // namespace stats
