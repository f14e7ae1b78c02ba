#pragma once
#include "widgets/FieldLink.h"

#include <QLabel>

namespace ui {

// The text of one field of the current record, read-only.
class DBText : public QLabel, public FieldControl {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);

signals:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void dataChanged();

    bool pressed_ = false;
};

} // namespace ui
