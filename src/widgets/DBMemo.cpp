#include "widgets/DBMemo.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace ui {

DBMemo::DBMemo(QWidget* parent) : QPlainTextEdit(parent), FieldControl(this) {
    link_.setWriter([this](db::Field* f) {
        QString t = toPlainText();
        if (crlf_) t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        f->setAsString(t);
    });
    connect(&link_, &FieldLink::dataChanged, this, &DBMemo::dataChanged);
    connect(&link_, &FieldLink::stateChanged, this, &DBMemo::stateChanged);
    connect(this, &QPlainTextEdit::textChanged, this, &DBMemo::textChangedByUser);
    stateChanged();
}

void DBMemo::setReadOnly(bool ro) {
    readOnly_ = ro;
    stateChanged();
}

void DBMemo::stateChanged() {
    QPlainTextEdit::setReadOnly(readOnly_ || !link_.canModify());
    dataChanged();
}

void DBMemo::dataChanged() {
    if (link_.modified()) return;
    QString t = link_.text();
    crlf_ = t.contains(QLatin1String("\r\n"));
    // The editor would read a lone CR as a paragraph break of its own.
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (t == toPlainText()) {
        shown_ = t;
        return;
    }
    loading_ = true;
    setPlainText(t);
    loading_ = false;
    shown_ = toPlainText();
}

void DBMemo::textChangedByUser() {
    // textChanged also comes from our own loading and from format-only changes.
    if (loading_ || link_.modified() || toPlainText() == shown_) return;
    link_.startChange();
}

void DBMemo::keyPressEvent(QKeyEvent* e) {
    if (link_.escape(e)) return;
    QPlainTextEdit::keyPressEvent(e);
}

void DBMemo::focusOutEvent(QFocusEvent* e) {
    QPlainTextEdit::focusOutEvent(e);
    link_.focusLeft(e);
}

} // namespace ui
