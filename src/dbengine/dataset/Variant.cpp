#include "Variant.h"

#include "../Errors.h"

#include <cmath>
#include <limits>

namespace db {

namespace {
bool parseDouble(const QString& s, double& out) {
    bool ok = false;
    out = s.trimmed().toDouble(&ok);
    if (!ok) out = QString(s.trimmed()).replace(',', '.').toDouble(&ok);
    return ok;
}
} // namespace

int64_t roundHalfEvenSlow(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 9.2e18) throw ConversionError();
    return int64_t(std::nearbyint(v)); // the default rounding mode rounds halves to even
}

int64_t Variant::toInt() const {
    switch (type()) {
    case Type::Int:
        return std::get<int64_t>(v_);
    case Type::Float:
        return roundHalfEven(std::get<double>(v_));
    case Type::Bool:
        return std::get<bool>(v_) ? -1 : 0;
    case Type::String: {
        const QString& s = std::get<QString>(v_);
        bool ok = false;
        qlonglong n = s.trimmed().toLongLong(&ok);
        if (!ok) throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(s));
        return n;
    }
    default:
        throw ConversionError();
    }
}

double Variant::toDoubleSlow() const {
    switch (type()) {
    case Type::Int:
        return double(std::get<int64_t>(v_));
    case Type::Float:
        return std::get<double>(v_);
    case Type::Bool:
        return std::get<bool>(v_) ? -1.0 : 0.0;
    case Type::String: {
        double d = 0;
        if (!parseDouble(std::get<QString>(v_), d))
            throw ConversionError(
                QStringLiteral("'%1' is not a valid floating point value").arg(std::get<QString>(v_)));
        return d;
    }
    default:
        throw ConversionError();
    }
}

QString Variant::toString() const {
    switch (type()) {
    case Type::Null:
        return {};
    case Type::Int:
        return QString::number(std::get<int64_t>(v_));
    case Type::Float:
        return QString::number(std::get<double>(v_), 'g', 15);
    case Type::String:
        return std::get<QString>(v_);
    case Type::Date:
        return std::get<QDate>(v_).toString(QStringLiteral("dd.MM.yyyy"));
    case Type::Bool:
        return std::get<bool>(v_) ? QStringLiteral("True") : QStringLiteral("False");
    }
    return {};
}

QDate Variant::toDate() const {
    if (type() == Type::Date) return std::get<QDate>(v_);
    if (type() == Type::String) {
        const QString& s = std::get<QString>(v_);
        for (const char* fmt : {"dd.MM.yyyy", "yyyy-MM-dd", "yyyyMMdd"}) {
            QDate d = QDate::fromString(s.trimmed(), QString::fromLatin1(fmt));
            if (d.isValid()) return d;
        }
        throw ConversionError(QStringLiteral("'%1' is not a valid date").arg(s));
    }
    throw ConversionError();
}

bool Variant::toBool() const {
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(v_);
    case Type::Int:
        return std::get<int64_t>(v_) != 0;
    case Type::Float:
        return std::get<double>(v_) != 0;
    case Type::String: {
        QString s = std::get<QString>(v_).trimmed().toLower();
        if (s == u"true" || s == u"t") return true;
        if (s == u"false" || s == u"f") return false;
        break;
    }
    default:
        break;
    }
    throw ConversionError();
}

bool Variant::sameAs(const Variant& o) const {
    if (isNull() || o.isNull()) return isNull() && o.isNull();
    if (isNumeric() && o.isNumeric()) return toDouble() == o.toDouble();
    if (type() == Type::Date && o.type() == Type::Date) return toDate() == o.toDate();
    if (type() == Type::Bool || o.type() == Type::Bool) {
        try {
            return toBool() == o.toBool();
        } catch (const ConversionError&) {
            return false;
        }
    }
    if (isNumeric() || o.isNumeric()) {
        double a = 0, b = 0;
        bool okA = isNumeric() ? (a = toDouble(), true) : parseDouble(toString(), a);
        bool okB = o.isNumeric() ? (b = o.toDouble(), true) : parseDouble(o.toString(), b);
        return okA && okB && a == b;
    }
    return toString() == o.toString();
}

namespace {
template <typename IntOp, typename FloatOp>
Variant arith(const Variant& a, const Variant& b, IntOp iop, FloatOp fop) {
    if (a.isNull() || b.isNull()) return {};
    if (a.type() == Variant::Type::Int && b.type() == Variant::Type::Int)
        return Variant(iop(a.toInt(), b.toInt()));
    return Variant(fop(a.toDouble(), b.toDouble()));
}
} // namespace

Variant operator+(const Variant& a, const Variant& b) {
    if (a.type() == Variant::Type::String && b.type() == Variant::Type::String)
        return Variant(a.toString() + b.toString());
    return arith(a, b, std::plus<int64_t>(), std::plus<double>());
}
Variant operator-(const Variant& a, const Variant& b) {
    return arith(a, b, std::minus<int64_t>(), std::minus<double>());
}
Variant operator*(const Variant& a, const Variant& b) {
    return arith(a, b, std::multiplies<int64_t>(), std::multiplies<double>());
}

} // namespace db
