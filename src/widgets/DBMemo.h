#pragma once
#include "widgets/FieldLink.h"

#include <QPlainTextEdit>

namespace ui {

// A multi-line editor over a memo (or long text) field of the current record, with the editing
// model of DBEdit: typing puts the dataset into edit, the text is written on leaving the editor
// and before the record is posted or left, Esc brings the stored text back. Enter is a new line.
class DBMemo : public QPlainTextEdit, public FieldControl {
    Q_OBJECT
public:
    explicit DBMemo(QWidget* parent = nullptr);

    void setReadOnly(bool ro);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void dataChanged();
    void stateChanged();
    void textChangedByUser();

    bool readOnly_ = false;
    bool loading_ = false;
    QString shown_;     // the editor's text as last loaded from the field
    bool crlf_ = false; // the stored text breaks lines with CR LF, as texts written on DOS do
};

} // namespace ui
