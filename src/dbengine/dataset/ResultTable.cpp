#include "ResultTable.h"

#include <cstring>

namespace db {

void ResultTable::add(const Variant& v) {
    uint64_t bits = 0;
    switch (v.type()) {
    case Variant::Type::Null:
        break;
    case Variant::Type::Int:
        bits = uint64_t(v.toInt());
        break;
    case Variant::Type::Float: {
        double d = v.toDouble();
        std::memcpy(&bits, &d, sizeof d);
        break;
    }
    case Variant::Type::String:
        bits = strings_.size();
        strings_.push_back(v.toString());
        bytes_ += sizeof(QString) + size_t(strings_.back().size()) * 2;
        break;
    case Variant::Type::Date:
        bits = uint64_t(v.toDate().toJulianDay());
        break;
    case Variant::Type::Bool:
        bits = v.toBool() ? 1 : 0;
        break;
    }
    types_.push_back(uint8_t(v.type()));
    payload_.push_back(bits);
    bytes_ += 9;
}

Variant ResultTable::value(size_t row, int column) const {
    size_t i = row * size_t(columns_) + size_t(column);
    uint64_t bits = payload_[i];
    switch (Variant::Type(types_[i])) {
    case Variant::Type::Null:
        return {};
    case Variant::Type::Int:
        return Variant(int64_t(bits));
    case Variant::Type::Float: {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return Variant(d);
    }
    case Variant::Type::String:
        return Variant(strings_[bits]);
    case Variant::Type::Date:
        return Variant(QDate::fromJulianDay(int64_t(bits)));
    case Variant::Type::Bool:
        return Variant(bits != 0);
    }
    return {};
}

} // namespace db
