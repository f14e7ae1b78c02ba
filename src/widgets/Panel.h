#pragma once
#include <QFrame>

class QVBoxLayout;

namespace ui {

// A panel that reports clicks and double-clicks on itself. A click on a child control is the
// child's: a caption label inside the panel opens nothing.
class Panel : public QFrame {
    Q_OBJECT
public:
    explicit Panel(QWidget* parent = nullptr);
    // A named panel; a height above 0 fixes it, for the strips at the top and bottom of windows.
    Panel(QWidget* parent, const char* name, int height = 0);

signals:
    void clicked();
    void doubleClicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    bool onSelf(QMouseEvent* e) const;
};

// A column on owner whose panels and controls stand edge to edge, from the top strip down to
// the bottom one: no margins and no spacing.
QVBoxLayout* column(QWidget* owner);

} // namespace ui
