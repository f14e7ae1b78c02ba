#pragma once
#include "widgets/DBGridModel.h"

#include <QList>
#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;
namespace db {
class DataSource;
}
namespace ui {
class DBGrid;
class DBNavigator;
class Panel;
} // namespace ui

// The parts the two list windows and the two details windows are built from alike.
namespace registry {

// The red caption of a list window's top strip, 41 pixels high.
QLabel* heading(ui::Panel* top, const QString& text);
// The read-only whole-row list over source that fills the middle strip.
ui::DBGrid* listGrid(ui::Panel* middle, db::DataSource* source, const QList<ui::GridColumn>& columns);
QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint);
// First, prior, next and last only.
ui::DBNavigator* navigator(QWidget* parent, db::DataSource* source);
// The bottom strip: the buttons from the left, the navigator (if any) at the right.
void buttonRow(ui::Panel* bottom, const QList<QPushButton*>& buttons, ui::DBNavigator* nav);

} // namespace registry

class QScrollArea;
namespace registry {

// The body of a details window: a scroll box with the skyline picture at the left, stretched
// to picture, and the field column to its right; the bottom strip holds the two buttons.
struct DetailsBody {
    QScrollArea* scroll;
    QWidget* content; // the scroll box's page, where the fields go
    QLabel* picture;
    ui::Panel* bottom;
};
DetailsBody detailsBody(QWidget* form, const QSize& picture);
// Tab order through the given controls, in order.
void tabOrder(const QList<QWidget*>& controls);
// A caption above a field control in the column at x, top y; returns the caption.
QLabel* fieldCaption(QWidget* content, const char* name, const QString& text, int x, int y);
// A data control of the field column, bound to field of source and placed at.
template <typename Control>
Control* bound(Control* control, const char* name, db::DataSource* source, const char* field,
               const QRect& at) {
    control->setObjectName(QLatin1String(name));
    control->setDataSource(source);
    control->setDataField(QLatin1String(field));
    control->setGeometry(at);
    return control;
}

} // namespace registry
