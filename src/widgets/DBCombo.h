#pragma once
#include "widgets/FieldLink.h"

#include <QComboBox>
#include <QListWidget>
#include <vector>

namespace ui {

// A combo box with a fixed list of texts over one text field: it shows the field's text and
// writes the text of the item the user chooses.
class DBComboBox : public QComboBox, public FieldControl {
    Q_OBJECT
public:
    explicit DBComboBox(QWidget* parent = nullptr);

    void setItems(const QStringList& items);

private:
    void dataChanged();
    void choose(int index);
};

// The model shared by the lookup controls: a key field of the edited record (the data field,
// or the key of a lookup data field) and a list of the rows of another dataset's view, each
// with its key (KeyField) and shown text (ListField).
class LookupLink : public QObject {
    Q_OBJECT
public:
    explicit LookupLink(QWidget* control);

    FieldLink& data() { return data_; }
    const FieldLink& data() const { return data_; }
    void setListSource(db::DataSource* source);
    db::DataSource* listSource() const { return listSource_; }
    void setKeyField(const QString& name);
    const QString& keyField() const { return keyField_; }
    void setListField(const QString& name);
    const QString& listField() const { return listField_; }

    // The dataset the list comes from: the list source's, or a lookup data field's dictionary.
    db::Dataset* listDataSet() const;
    // The field of the edited record that holds the key.
    db::Field* keyTarget() const;
    bool canModify() const;

    const QStringList& texts() const { return texts_; }
    const std::vector<db::Variant>& keys() const { return keys_; }
    // Row of the first list entry whose key equals the record's key; -1 when none.
    int currentRow() const;
    db::Variant currentKey() const;
    // Writes the key of a list row into the record (edit first); false when refused (reported).
    bool choose(int row);
    // Name of the key field in the list dataset.
    QString listKeyName() const;

signals:
    void listChanged();  // the list was rebuilt
    void valueChanged(); // the record's key may have changed
    void recordMoved();  // the edited record moved, its key changed or the dataset was rebuilt

private:
    void rebuild();
    void connectList();
    QString listTextName() const;

    QWidget* control_;
    FieldLink data_;
    QPointer<db::DataSource> listSource_;
    QPointer<db::Dataset> listDs_;
    QMetaObject::Connection sourceLink_;
    QList<QMetaObject::Connection> listLinks_;
    QString keyField_, listField_;
    QStringList texts_;
    std::vector<db::Variant> keys_;
};

// The binding of the two lookup controls, forwarded to their link.
class LookupControl {
public:
    void setDataSource(db::DataSource* source) { link_.data().setDataSource(source); }
    db::DataSource* dataSource() const { return link_.data().dataSource(); }
    void setDataField(const QString& name) { link_.data().setDataField(name); }
    const QString& dataField() const { return link_.data().dataField(); }
    void setListSource(db::DataSource* source) { link_.setListSource(source); }
    db::DataSource* listSource() const { return link_.listSource(); }
    void setKeyField(const QString& name) { link_.setKeyField(name); }
    const QString& keyField() const { return link_.keyField(); }
    void setListField(const QString& name) { link_.setListField(name); }
    const QString& listField() const { return link_.listField(); }

protected:
    explicit LookupControl(QWidget* control) : link_(control) {}
    LookupLink link_;
};

// A combo box listing the ListField of every row of the list source's view; it shows the text
// whose key equals the record's key and writes the key of the row the user chooses.
class DBLookupComboBox : public QComboBox, public LookupControl {
    Q_OBJECT
public:
    explicit DBLookupComboBox(QWidget* parent = nullptr);

private:
    void fill();
    void showValue();
};

// The same model as a list: the entry of the record's key is highlighted, a click writes the
// clicked entry's key. As the record moves, the list dataset's cursor follows to the first row
// with the record's key (to its first row when none has it), so a grid over it follows too.
class DBLookupListBox : public QListWidget, public LookupControl {
    Q_OBJECT
public:
    explicit DBLookupListBox(QWidget* parent = nullptr);

signals:
    void itemClickedKey(const db::Variant& key);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void fill();
    void showValue();
    void followRecord();
    bool choose(int row);
};

} // namespace ui
