#pragma once
#include "dataset/Dataset.h"

#include <QObject>
#include <QPointer>
#include <exception>
#include <functional>

class QFocusEvent;
class QWidget;

class QKeyEvent;

namespace ui {

// Binds a control to one field of a data source's dataset. It relays the source's signals as
// dataChanged (the shown value may differ) and stateChanged, and keeps the typed-text model of
// the edit controls: the first change puts the dataset into edit, and until the text is written
// an update hook writes it before the record is posted or left.
class FieldLink : public QObject {
    Q_OBJECT
public:
    explicit FieldLink(QWidget* control);
    ~FieldLink() override;

    void setDataSource(db::DataSource* source);
    db::DataSource* dataSource() const { return source_; }
    void setDataField(const QString& name);
    const QString& dataField() const { return fieldName_; }

    db::Dataset* dataSet() const; // nullptr without a source or once the dataset is gone
    db::Field* field() const;     // nullptr when the dataset has no such field
    bool active() const;
    // The dataset is open and modifiable and the field is a stored one.
    bool canModify() const;
    // Text of the field in the current record; empty for a closed or empty dataset.
    QString text() const;

    // The typed-text model. The writer stores the control's text into the field.
    void setWriter(std::function<void(db::Field*)> writer) { writer_ = std::move(writer); }
    bool modified() const { return modified_; }
    // Called on the user's first change; false (reported) when the record cannot be edited.
    bool startChange();
    // Writes the typed text; throws the data layer's error and keeps the text when it fails.
    void write();
    // Drops the typed text; the control shows the field again.
    void reset();
    // Esc over typed text drops it; true when the key was taken so.
    bool escape(QKeyEvent* e);
    // Writes typed text now; false (reported) when the field refuses it.
    bool commit();
    // The focus left the control: typed text is written, except when the user only switched
    // windows or opened a menu. A refused value takes the focus back, and the mouse press that
    // moved it goes no further, so a save button is not pressed on top of the refusal.
    void focusLeft(const QFocusEvent* e);

    // Runs fn with the source's signals ignored by this control, for steps the control drives.
    void quietly(const std::function<void()>& fn);

signals:
    void dataChanged();
    void stateChanged();

private:
    void reportReadFailure(std::exception_ptr error) const;
    void connectSource();
    void dropChange();
    void sourceEvent(bool stateOnly);
    bool relevant(db::Field* f) const;

    QWidget* control_;
    QPointer<db::DataSource> source_;
    QList<QMetaObject::Connection> links_;
    QString fieldName_;
    QPointer<db::Dataset> hooked_;
    std::function<void(db::Field*)> writer_;
    bool modified_ = false;
    int quiet_ = 0;
};

// The binding every control over one field offers, forwarded to its link.
class FieldControl {
public:
    void setDataSource(db::DataSource* source) { link_.setDataSource(source); }
    db::DataSource* dataSource() const { return link_.dataSource(); }
    void setDataField(const QString& name) { link_.setDataField(name); }
    const QString& dataField() const { return link_.dataField(); }
    db::Field* field() const { return link_.field(); }
    // Typed text not yet written to the field.
    bool modified() const { return link_.modified(); }
    // Writes typed text now; false (reported) when the field refuses it.
    bool commit() { return link_.commit(); }

protected:
    explicit FieldControl(QWidget* control) : link_(control) {}
    FieldLink link_;
};

} // namespace ui
