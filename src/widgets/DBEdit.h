#pragma once
#include "widgets/FieldLink.h"

#include <QLineEdit>

namespace ui {

// An edit box over one field of the current record. Typing puts the dataset into edit; the text
// is written to the field on leaving the box, on Enter, and before the record is posted or left.
// Esc brings the field's value back. A value the field refuses is reported and stays typed.
class DBEdit : public QLineEdit, public FieldControl {
    Q_OBJECT
public:
    explicit DBEdit(QWidget* parent = nullptr);

    // The window's own read-only setting; the box is also read-only while the data cannot change.
    void setReadOnly(bool ro);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void dataChanged();
    void stateChanged();

    bool readOnly_ = false;
};

} // namespace ui
