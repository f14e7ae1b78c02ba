#include "widgets/AccessibleNames.h"

#include "widgets/Hints.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QBoxLayout>
#include <QFormLayout>
#include <QLabel>

namespace ui {

namespace {

// A caption as a screen reader says it: no mnemonic marks, no trailing colon.
QString spoken(QString text) {
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.trimmed();
}

// A plain caption, not a label that shows data (those are subclasses).
bool isCaption(const QWidget* w) {
    const auto* l = qobject_cast<const QLabel*>(w);
    return l && l->metaObject() == &QLabel::staticMetaObject && !l->text().trimmed().isEmpty() &&
           l->textFormat() != Qt::RichText;
}

// In a window placed by coordinates: the caption just left of the control on its row, or just
// above it over its width, whichever is nearer.
QString labelBeside(const QWidget* control) {
    const QRect c = control->geometry();
    QString best;
    int nearest = 40;
    for (const QLabel* l : control->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (!isCaption(l) || !l->isVisibleTo(control->parentWidget())) continue;
        const QRect g = l->geometry();
        int distance = nearest;
        if (g.bottom() >= c.top() && g.top() <= c.bottom() && g.right() <= c.left() + 2)
            distance = c.left() - g.right();
        else if (g.bottom() <= c.top() + 2 && g.left() < c.right() && g.right() > c.left())
            distance = c.top() - g.bottom();
        if (distance < nearest) {
            nearest = distance;
            best = l->text();
        }
    }
    return best;
}

// The layout, or the row nested in it, that holds control.
const QLayout* holding(const QLayout* layout, const QWidget* control) {
    if (layout->indexOf(control) >= 0) return layout;
    for (int i = 0; i < layout->count(); ++i)
        if (const QLayout* inner = layout->itemAt(i)->layout())
            if (const QLayout* found = holding(inner, control)) return found;
    return nullptr;
}

QString labelBefore(const QWidget* control) {
    const QWidget* parent = control->parentWidget();
    if (!parent) return {};
    for (const QLabel* l : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (l->buddy() == control && isCaption(l)) return l->text();
    const QLayout* layout = parent->layout();
    if (!layout) return labelBeside(control);
    if (const auto* form = qobject_cast<const QFormLayout*>(layout)) {
        const QWidget* l = form->labelForField(const_cast<QWidget*>(control));
        return isCaption(l) ? static_cast<const QLabel*>(l)->text() : QString();
    }
    layout = holding(layout, control);
    if (!qobject_cast<const QBoxLayout*>(layout)) return {};
    const int at = layout->indexOf(control);
    for (int i = at - 1; i >= 0; --i) {
        QWidget* w = layout->itemAt(i)->widget();
        if (!w) continue; // a stretch or a spacing
        return isCaption(w) ? static_cast<const QLabel*>(w)->text() : QString();
    }
    return {};
}

} // namespace

void nameControls(QWidget* window) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
        // Buttons are named even without the focus: a screen reader's pointer reaches them.
        if (w->focusPolicy() == Qt::NoFocus && !qobject_cast<QAbstractButton*>(w)) continue;
        if (!w->accessibleName().isEmpty()) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || !a->text(QAccessible::Name).trimmed().isEmpty()) continue;
        QString name = spoken(labelBefore(w));
        if (name.isEmpty()) name = spoken(HintHandler::hintOf(w));
        // A window's one grid or memo without caption or hint is what the window is about.
        if (name.isEmpty()) name = spoken(window->windowTitle());
        if (!name.isEmpty()) w->setAccessibleName(name);
    }
}

} // namespace ui
