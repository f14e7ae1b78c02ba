#pragma once
#include <QWidget>

class QProgressBar;

namespace ui {

// A plain bar from min to max. A range with min above max is refused with the toolkit's
// "TProgressBar property out of range" (db::InvalidOperation) and the old range stays; the
// position is always kept inside the range.
class ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    int min() const { return min_; }
    void setMin(int v);
    int max() const { return max_; }
    void setMax(int v);
    void setRange(int min, int max);
    int position() const { return position_; }
    void setPosition(int v);

    // Advances by delta, stopping at the ends.
    void stepBy(int delta);

    QProgressBar* bar() const { return bar_; }

private:
    void updateBar();

    QProgressBar* bar_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};

} // namespace ui
