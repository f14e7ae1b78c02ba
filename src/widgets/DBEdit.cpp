#include "widgets/DBEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace ui {

namespace {
constexpr int kNoLimit = 32767; // QLineEdit's own default
}

DBEdit::DBEdit(QWidget* parent) : QLineEdit(parent), FieldControl(this) {
    link_.setWriter([this](db::Field* f) { f->setAsString(text()); });
    connect(&link_, &FieldLink::dataChanged, this, &DBEdit::dataChanged);
    connect(&link_, &FieldLink::stateChanged, this, &DBEdit::stateChanged);
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (!link_.modified()) link_.startChange(); // on refusal the link makes us show the field again
    });
    stateChanged();
}

void DBEdit::setReadOnly(bool ro) {
    readOnly_ = ro;
    stateChanged();
}

void DBEdit::stateChanged() {
    db::Field* f = link_.field();
    setMaxLength(f && f->kind() == db::FieldKind::String && f->size() > 0 ? f->size() : kNoLimit);
    QLineEdit::setReadOnly(readOnly_ || !link_.canModify());
    dataChanged();
}

void DBEdit::dataChanged() {
    if (link_.modified()) return;
    const QString t = link_.text();
    if (t == text()) return; // setText moves the caret: only when the value differs
    setText(t);
    setCursorPosition(0); // a value longer than the box shows its beginning
}

void DBEdit::keyPressEvent(QKeyEvent* e) {
    if (link_.escape(e)) return;
    const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && plain && !commit()) {
        e->accept(); // a refused value must not also press the default button
        return;
    }
    QLineEdit::keyPressEvent(e); // ignores Esc and Enter, so the window's buttons get them
}

void DBEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    link_.focusLeft(e);
}

} // namespace ui
