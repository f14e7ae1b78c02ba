#pragma once
#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

namespace ui {

// A framed group of options, at most one selected. The options fill the given number of
// columns top to bottom, one column after the other, each column ceil(n / columns) rows high;
// the space is shared out evenly, so options never overlap however many there are. The group's
// font is its caption's and its options'.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kMaxColumns = 16;

    explicit RadioGroup(QWidget* parent = nullptr);

    void setItems(const QStringList& items);
    QStringList items() const;
    void addItem(const QString& text);
    // Removes the options one by one from the last; nothing is selected afterwards.
    void clearItems();
    int count() const { return int(buttons_.size()); }
    QRadioButton* button(int i) const { return buttons_.value(i); }

    // -1 when nothing is selected. Setting it never emits clicked(); a value past the last
    // option selects the last one, anything below 0 selects none.
    int itemIndex() const { return index_; }
    void setItemIndex(int i);

    // Kept within 1..16.
    int columns() const { return columns_; }
    void setColumns(int n);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user chose another option, by mouse or keyboard.
    void clicked();

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;

private:
    void arrange();
    int rowsPerColumn() const;
    QSize cellHint() const;

    QList<QRadioButton*> buttons_;
    int columns_ = 1;
    int index_ = -1;
    bool updating_ = false;
};

} // namespace ui
