#pragma once
#include <QDate>
#include <QString>
#include <cstdint>
#include <variant>

namespace db {

// The value of a field or query column. Conversions follow the rules the windows rely on:
// a float becomes a whole number by rounding halves to even; a null never becomes a number.
class Variant {
public:
    enum class Type { Null, Int, Float, String, Date, Bool };

    Variant() = default;
    Variant(int v) : v_(int64_t(v)) {}
    Variant(int64_t v) : v_(v) {}
    Variant(double v) : v_(v) {}
    Variant(bool v) : v_(v) {}
    Variant(const QString& v) : v_(v) {}
    Variant(const char* v) : v_(QString::fromUtf8(v)) {}
    Variant(const QDate& v) : v_(v) {}

    Type type() const { return Type(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isNumeric() const { return type() == Type::Int || type() == Type::Float; }

    int64_t toInt() const;    // throws ConversionError
    double toDouble() const { // throws ConversionError
        if (const auto* d = std::get_if<double>(&v_)) return *d;
        if (const auto* i = std::get_if<int64_t>(&v_)) return double(*i);
        return toDoubleSlow();
    }
    QString toString() const; // null gives an empty text
    QDate toDate() const;     // throws ConversionError
    bool toBool() const;      // throws ConversionError

    // Same value: numbers by value whatever their type, texts exactly, null only with null.
    bool sameAs(const Variant& o) const;
    bool operator==(const Variant& o) const { return sameAs(o); }

    friend Variant operator+(const Variant& a, const Variant& b);
    friend Variant operator-(const Variant& a, const Variant& b);
    friend Variant operator*(const Variant& a, const Variant& b);

private:
    double toDoubleSlow() const;
    std::variant<std::monostate, int64_t, double, QString, QDate, bool> v_;
};

int64_t roundHalfEvenSlow(double v);
// Float to whole number, halves to the even neighbour.
inline int64_t roundHalfEven(double v) {
    if (v > -9.2e18 && v < 9.2e18) { // also false for NaN
        auto whole = int64_t(v);
        if (double(whole) == v) return whole; // most values read from whole-number columns
    }
    return roundHalfEvenSlow(v);
}

} // namespace db
