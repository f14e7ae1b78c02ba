#include "widgets/Hints.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>

namespace ui {

HintHandler::HintHandler(QStatusBar* bar, QObject* parent) : QObject(parent), bar_(bar) {
    qApp->installEventFilter(this);
}

HintHandler::~HintHandler() {
    if (qApp) qApp->removeEventFilter(this);
}

QString HintHandler::hintOf(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        if (!w->statusTip().isEmpty()) return w->statusTip();
        if (w->isWindow()) break;
    }
    return {};
}

void HintHandler::setHint(const QString& hint) {
    if (!bar_) return;
    if (hint.isEmpty())
        bar_->clearMessage();
    else
        bar_->showMessage(hint);
}

bool HintHandler::eventFilter(QObject* obj, QEvent* e) {
    switch (e->type()) {
    case QEvent::Enter:
        if (obj->isWidgetType()) setHint(hintOf(static_cast<QWidget*>(obj)));
        break;
    case QEvent::Leave:
        // Back to the control the mouse is now over: the enclosing one.
        if (obj->isWidgetType()) {
            auto* w = static_cast<QWidget*>(obj);
            setHint(w->isWindow() ? QString() : hintOf(w->parentWidget()));
        }
        break;
    case QEvent::StatusTip:
        // Menus report their highlighted item this way; widgets' own status tips are ours to route.
        if (qobject_cast<QMenu*>(obj) || qobject_cast<QMenuBar*>(obj))
            setHint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    default:
        break;
    }
    return false;
}

} // namespace ui
