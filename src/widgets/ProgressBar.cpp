#include "widgets/ProgressBar.h"

#include "Errors.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <algorithm>

namespace ui {

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent), bar_(new QProgressBar(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar_);
    bar_->setTextVisible(false);
    updateBar();
}

void ProgressBar::setMin(int v) {
    setRange(v, max_);
}

void ProgressBar::setMax(int v) {
    setRange(min_, v);
}

void ProgressBar::setRange(int min, int max) {
    // The old toolkit named the control's class in this message.
    if (min > max) throw db::InvalidOperation(QStringLiteral("TProgressBar property out of range"));
    min_ = min;
    max_ = max;
    position_ = std::clamp(position_, min_, max_);
    updateBar();
}

void ProgressBar::setPosition(int v) {
    position_ = std::clamp(v, min_, max_);
    updateBar();
}

void ProgressBar::stepBy(int delta) {
    // In 64 bits, so that a step near the int limits cannot overflow.
    setPosition(int(std::clamp<qint64>(qint64(position_) + delta, min_, max_)));
}

void ProgressBar::updateBar() {
    if (min_ == max_) {
        // Qt would draw an empty range as a busy indicator; the classic bar stays empty.
        bar_->setRange(0, 1);
        bar_->setValue(0);
        return;
    }
    bar_->setRange(min_, max_);
    bar_->setValue(position_);
}

} // namespace ui
