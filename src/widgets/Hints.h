#pragma once
#include <QObject>
#include <QPointer>

class QStatusBar;

namespace ui {

// The application-wide hint handler: the hint (status tip) of the control under the mouse, or
// of its nearest enclosing control with one, and of a highlighted menu item, goes to one status
// bar, whatever window the control is in. Qt alone would stop at each window.
class HintHandler : public QObject {
    Q_OBJECT
public:
    explicit HintHandler(QStatusBar* bar, QObject* parent = nullptr);
    ~HintHandler() override;
    // The hint a control shows: its own, else its nearest enclosing control's, up to its window.
    static QString hintOf(const QWidget* w);

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void setHint(const QString& hint);
    QPointer<QStatusBar> bar_;
};

} // namespace ui
