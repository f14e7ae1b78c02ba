#include "widgets/DBText.h"

#include <QMouseEvent>

namespace ui {

DBText::DBText(QWidget* parent) : QLabel(parent), FieldControl(this) {
    // Stored names may hold '<' or '&': never rich text.
    setTextFormat(Qt::PlainText);
    connect(&link_, &FieldLink::dataChanged, this, &DBText::dataChanged);
    connect(&link_, &FieldLink::stateChanged, this, &DBText::dataChanged);
}

void DBText::dataChanged() {
    setText(link_.text());
}

void DBText::mousePressEvent(QMouseEvent* e) {
    pressed_ = e->button() == Qt::LeftButton;
    e->accept();
}

void DBText::mouseReleaseEvent(QMouseEvent* e) {
    // The release that ends a double-click is no second click.
    const bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    pressed_ = false;
    e->accept();
    if (click) emit clicked();
}

void DBText::mouseDoubleClickEvent(QMouseEvent* e) {
    pressed_ = false;
    e->accept();
    if (e->button() == Qt::LeftButton) emit doubleClicked();
}

} // namespace ui
