#include "widgets/UpDown.h"

#include "Errors.h"
#include "widgets/Handler.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>
#include <limits>

namespace ui {

namespace {

constexpr int kLow = std::numeric_limits<qint16>::min();
constexpr int kHigh = std::numeric_limits<qint16>::max();

int toShort(int v) {
    return std::clamp(v, kLow, kHigh);
}

// Leading blanks are allowed, trailing ones are not, as the integer reading of the old toolkit.
int readInt(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    const QString s = text.mid(i);
    bool ok = !s.isEmpty() && !s.back().isSpace();
    const int v = ok ? s.toInt(&ok, 10) : 0;
    if (!ok) throw db::ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return v;
}

QToolButton* arrow(Qt::ArrowType type, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setArrowType(type);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus); // the edit keeps the focus, as with the classic spinner
    return b;
}

} // namespace

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(arrow(Qt::UpArrow, this)), down_(arrow(Qt::DownArrow, this)) {
    connect(up_, &QToolButton::clicked, this, [this] { clicked(true); });
    connect(down_, &QToolButton::clicked, this, [this] { clicked(false); });
    resize(17, 21);
}

void UpDown::setAssociate(QLineEdit* edit) {
    if (edit_) edit_->removeEventFilter(this);
    edit_ = edit;
    if (edit_) edit_->installEventFilter(this);
}

int UpDown::clamped(int v) const {
    return std::clamp(v, std::min(min_, max_), std::max(min_, max_));
}

void UpDown::setMin(int v) {
    min_ = toShort(v);
    position_ = clamped(position_);
}

void UpDown::setMax(int v) {
    max_ = toShort(v);
    position_ = clamped(position_);
}

void UpDown::setPosition(int v) {
    position_ = clamped(v);
    const QString text = QString::number(position_);
    // An unchanged text must not run the edit's change handler again.
    if (edit_ && edit_->text() != text) edit_->setText(text);
}

void UpDown::step(bool up) {
    if (edit_) position_ = clamped(readInt(edit_->text()));
    const bool rising = max_ >= min_;
    setPosition(position_ + (up == rising ? 1 : -1));
}

void UpDown::clicked(bool up) {
    run(this, [this, up] { step(up); });
}

bool UpDown::eventFilter(QObject* watched, QEvent* e) {
    // The type first: a dying edit sends events while it is no longer a QLineEdit.
    if (e->type() == QEvent::KeyPress && watched == edit_) {
        auto* k = static_cast<QKeyEvent*>(e);
        const bool plain = (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) && isEnabled()) {
            clicked(k->key() == Qt::Key_Up);
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void UpDown::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

} // namespace ui
