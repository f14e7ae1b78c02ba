#include "Field.h"

#include "../Errors.h"
#include "../Fault.h"
#include "Dataset.h"

namespace db {

Field::Field(Dataset* owner, const QString& objectName, const QString& fieldName, FieldKind kind, int size)
    : QObject(owner), dataset_(owner), fieldName_(fieldName), kind_(kind), size_(size) {
    setObjectName(objectName);
}

int Field::displayWidth() const {
    if (width_ > 0) return width_;
    switch (kind_) {
    case FieldKind::String:
    case FieldKind::Lookup:
        return size_;
    case FieldKind::Smallint:
        return 6;
    case FieldKind::Integer:
        return 11;
    case FieldKind::Float:
        return 10;
    case FieldKind::Date:
        return 10;
    case FieldKind::Memo:
        return 10;
    case FieldKind::Boolean:
        return 5;
    }
    return 10;
}

void Field::setLookup(const QString& keyField, Dataset* lookupDataSet, const QString& lookupKeyField,
                      const QString& resultField) {
    keyField_ = keyField;
    lookupDataSet_ = lookupDataSet;
    lookupKeyField_ = lookupKeyField;
    lookupResultField_ = resultField;
}

Dataset* Field::lookupDataSet() const {
    return lookupDataSet_;
}

void Field::setValue(const Variant& v) {
    dataset_->setCurrentValue(this, v);
}

QString Field::asString() const {
    return format(value());
}

void Field::setAsString(const QString& s) {
    if (s.isEmpty() && kind_ != FieldKind::String && kind_ != FieldKind::Memo)
        setValue(Variant());
    else
        setValue(Variant(s));
}

QString Field::format(const Variant& v) const {
    if (v.isNull()) return {};
    if (kind_ == FieldKind::Date) return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    return v.toString();
}

Variant Field::convert(const Variant& v) const {
    if (v.isNull()) return v;
    switch (kind_) {
    case FieldKind::Smallint: {
        int64_t n = v.toInt();
        if (n < -32768 || n > 32767)
            throw ConversionFault(
                QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is -32768 to 32767")
                    .arg(n)
                    .arg(fieldName_),
                FaultInfo(Fault::ValueTooWide, {}, fieldName_, QString::number(n)));
        return Variant(n);
    }
    case FieldKind::Integer:
        return Variant(v.toInt());
    case FieldKind::Float:
        return Variant(v.toDouble());
    case FieldKind::Date:
        return Variant(v.toDate());
    case FieldKind::Boolean:
        return Variant(v.toBool());
    case FieldKind::String:
    case FieldKind::Lookup: {
        QString s = v.toString();
        // A text longer than the field keeps its first characters, as a fixed-width column must.
        if (size_ > 0 && s.size() > size_) s.truncate(size_);
        return Variant(s);
    }
    case FieldKind::Memo:
        return Variant(v.toString());
    }
    return v;
}

} // namespace db
