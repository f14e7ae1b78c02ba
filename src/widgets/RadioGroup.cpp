#include "widgets/RadioGroup.h"

#include <QEvent>
#include <QRadioButton>
#include <algorithm>

namespace ui {

namespace {
constexpr int kInset = 4; // keeps the indicators off the frame line

// An option takes clicks anywhere in its cell, not only on its indicator and text.
class Option : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& p) const override { return rect().contains(p); }
};

} // namespace

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent) {}

void RadioGroup::setItems(const QStringList& items) {
    clearItems();
    for (const QString& s : items)
        addItem(s);
}

QStringList RadioGroup::items() const {
    QStringList out;
    for (const QRadioButton* b : buttons_)
        out << b->text();
    return out;
}

void RadioGroup::addItem(const QString& text) {
    QRadioButton* b = new Option(text, this);
    const int i = int(buttons_.size());
    buttons_.append(b);
    // toggled() covers the mouse, the space bar and the arrow keys alike; code that selects
    // an option sets updating_ first.
    connect(b, &QRadioButton::toggled, this, [this, i](bool on) {
        if (!on || updating_) return;
        index_ = i;
        emit clicked();
    });
    arrange();
    b->show();
}

void RadioGroup::clearItems() {
    while (!buttons_.isEmpty())
        delete buttons_.takeLast();
    index_ = -1;
    updateGeometry();
}

void RadioGroup::setItemIndex(int i) {
    i = std::min(std::max(i, -1), count() - 1);
    if (i == index_) return;
    updating_ = true;
    if (index_ >= 0) {
        // An auto-exclusive button refuses to be unchecked directly.
        QRadioButton* old = buttons_[index_];
        old->setAutoExclusive(false);
        old->setChecked(false);
        old->setAutoExclusive(true);
    }
    if (i >= 0) buttons_[i]->setChecked(true);
    updating_ = false;
    index_ = i;
}

void RadioGroup::setColumns(int n) {
    n = std::clamp(n, 1, kMaxColumns);
    if (n == columns_) return;
    columns_ = n;
    arrange();
}

int RadioGroup::rowsPerColumn() const {
    return (count() + columns_ - 1) / columns_;
}

QSize RadioGroup::cellHint() const {
    QSize s(0, 0);
    for (const QRadioButton* b : buttons_)
        s = s.expandedTo(b->sizeHint());
    return s;
}

QSize RadioGroup::sizeHint() const {
    const QMargins m = contentsMargins();
    const QSize cell = cellHint();
    const QSize own(columns_ * cell.width() + 2 * kInset + m.left() + m.right(),
                    rowsPerColumn() * cell.height() + m.top() + m.bottom());
    return own.expandedTo(QGroupBox::minimumSizeHint());
}

QSize RadioGroup::minimumSizeHint() const {
    // Every row keeps its full height; the width may squeeze the texts.
    const QMargins m = contentsMargins();
    const QSize own(columns_ + 2 * kInset + m.left() + m.right(),
                    rowsPerColumn() * cellHint().height() + m.top() + m.bottom());
    return own.expandedTo(QGroupBox::minimumSizeHint());
}

void RadioGroup::arrange() {
    updateGeometry();
    if (buttons_.isEmpty()) return;
    const QRect area = contentsRect().adjusted(kInset, 0, -kInset, 0);
    const int perColumn = rowsPerColumn();
    const int w = std::max(area.width() / columns_, 0);
    const int h = std::max(area.height() / perColumn, 0);
    const int top = area.top() + (area.height() - h * perColumn) / 2; // the leftover split above and below
    for (int i = 0; i < count(); ++i)
        buttons_[i]->setGeometry(area.left() + (i / perColumn) * w, top + (i % perColumn) * h, w, h);
}

void RadioGroup::resizeEvent(QResizeEvent* e) {
    QGroupBox::resizeEvent(e);
    arrange();
}

bool RadioGroup::event(QEvent* e) {
    const bool done = QGroupBox::event(e);
    // A new caption or font moves the contents area and resizes the options.
    if (e->type() == QEvent::ContentsRectChange || e->type() == QEvent::FontChange) arrange();
    return done;
}

} // namespace ui
