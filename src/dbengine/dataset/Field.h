#pragma once
#include "FieldKind.h"
#include "Variant.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace db {

class Dataset;

// A persistent field object of a dataset: its column, its display label and width, and for a
// lookup field the dictionary it reads.
class Field : public QObject {
    Q_OBJECT
public:
    Field(Dataset* owner, const QString& objectName, const QString& fieldName, FieldKind kind, int size = 0);

    Dataset* dataSet() const { return dataset_; }
    const QString& fieldName() const { return fieldName_; }
    FieldKind kind() const { return kind_; }
    int size() const { return size_; }
    bool isLookup() const { return kind_ == FieldKind::Lookup; }
    bool isNumeric() const {
        return kind_ == FieldKind::Smallint || kind_ == FieldKind::Integer || kind_ == FieldKind::Float;
    }

    QString displayLabel() const { return label_.isEmpty() ? fieldName_ : label_; }
    void setDisplayLabel(const QString& l) { label_ = l; }
    // Width in characters for grids: the given one, else what the field's size suggests.
    int displayWidth() const;
    void setDisplayWidth(int w) { width_ = w; }
    bool visible() const { return visible_; }
    void setVisible(bool v) { visible_ = v; }

    // Lookup definition: KeyFields in this dataset, matched against LookupKeyFields of
    // LookupDataSet's current view, yielding LookupResultField cut to this field's size.
    void setLookup(const QString& keyField, Dataset* lookupDataSet, const QString& lookupKeyField,
                   const QString& resultField);
    const QString& keyField() const { return keyField_; }
    // The dictionary; nullptr once it is deleted.
    Dataset* lookupDataSet() const;
    const QString& lookupKeyField() const { return lookupKeyField_; }
    const QString& lookupResultField() const { return lookupResultField_; }

    // Value of the current record (the edit buffer while editing).
    Variant value() const;
    void setValue(const Variant& v);
    bool isNull() const { return value().isNull(); }
    int64_t asInteger() const { return value().toInt(); }
    double asFloat() const { return value().toDouble(); }
    QString asString() const;
    void setAsString(const QString& s);

    // Column index in the table (-1 for lookup fields and unbound ones).
    int column() const { return column_; }
    void setColumn(int c) { column_ = c; }

    // Converts a value to this field's type; throws ConversionError when it cannot.
    Variant convert(const Variant& v) const;
    QString format(const Variant& v) const;

private:
    Dataset* dataset_;
    QString fieldName_;
    FieldKind kind_;
    int size_;
    QString label_;
    int width_ = 0;
    bool visible_ = true;
    int column_ = -1;
    QString keyField_, lookupKeyField_, lookupResultField_;
    QPointer<Dataset> lookupDataSet_;
};

} // namespace db

#include "Dataset.h" // Field::value, inline
