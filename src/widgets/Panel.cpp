#include "widgets/Panel.h"

#include <QMouseEvent>
#include <QVBoxLayout>

namespace ui {

Panel::Panel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
}

Panel::Panel(QWidget* parent, const char* name, int height) : Panel(parent) {
    setObjectName(QLatin1String(name));
    if (height > 0) setFixedHeight(height);
}

bool Panel::onSelf(QMouseEvent* e) const {
    // Events a child left unhandled come up here too; those are not the panel's.
    QWidget* c = childAt(e->position().toPoint());
    return !c || !c->isVisible();
}

void Panel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && onSelf(e)) emit clicked();
    QFrame::mouseReleaseEvent(e);
}

void Panel::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && onSelf(e)) emit doubleClicked();
    QFrame::mouseDoubleClickEvent(e);
}

QVBoxLayout* column(QWidget* owner) {
    auto* lay = new QVBoxLayout(owner);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    return lay;
}

} // namespace ui
