#pragma once
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace ui {

// A pair of arrows that steps a whole number within min..max, without wrapping round, and keeps
// it as decimal text in an associated edit. Before each step the number is read back from the
// edit, so what the user typed there counts; text that is not a whole number is reported as
// "'%s' is not a valid integer value" and nothing moves. The Up and Down keys in the edit step
// too. All values stay within a 16-bit signed integer.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const { return edit_; }

    // A new range pulls the position into it but leaves the edit's text alone. A min above max
    // is allowed: the up arrow then counts down.
    int min() const { return min_; }
    void setMin(int v);
    int max() const { return max_; }
    void setMax(int v);
    int position() const { return position_; }
    // Kept within the range; writes the edit's text when it changes.
    void setPosition(int v);

    // One arrow click; throws db::ConversionError on text that is not a whole number.
    void stepUp() { step(true); }
    void stepDown() { step(false); }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void step(bool up);
    void clicked(bool up);
    int clamped(int v) const;

    QToolButton* up_;
    QToolButton* down_;
    QPointer<QLineEdit> edit_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};

} // namespace ui
