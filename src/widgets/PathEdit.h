#pragma once
#include <QLineEdit>

namespace ui {

// A line edit for a file system path. Out of focus, a path too long for it loses whole folder
// names from its middle ("/home/…/Документы/База"), so that where it starts and the folder it
// names stay readable; the whole path is in its tooltip. In focus it edits as any line edit.
class PathEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit PathEdit(QWidget* parent = nullptr);

    // What the field shows while out of focus.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace ui
