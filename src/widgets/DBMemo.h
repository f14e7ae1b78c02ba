#pragma once
#include "widgets/FieldLink.h"

#include <QPlainTextEdit>

namespace ui {

// A multi-line editor over a memo (or long text) field of the current record, with the editing
// model of DBEdit: typing puts the dataset into edit, the text is written on leaving the editor
// and before the record is posted or left, Esc brings the stored text back. Enter is a new line.
class DBMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit DBMemo(QWidget* parent = nullptr);

    void setDataSource(db::DataSource* source) { link_.setDataSource(source); }
    db::DataSource* dataSource() const { return link_.dataSource(); }
    void setDataField(const QString& name) { link_.setDataField(name); }
    const QString& dataField() const { return link_.dataField(); }
    db::Field* field() const { return link_.field(); }

    void setReadOnly(bool ro);
    bool modified() const { return link_.modified(); }
    bool commit();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void dataChanged();
    void stateChanged();
    void textChangedByUser();

    FieldLink link_;
    bool readOnly_ = false;
    bool loading_ = false;
    QString shown_;     // the editor's text as last loaded from the field
    bool crlf_ = false; // the stored text breaks lines with CR LF, as texts written on DOS do
};

} // namespace ui
