#pragma once
#include "dataset/Dataset.h"
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>

class QToolButton;

namespace db {
class DataSource;
class Dataset;
} // namespace db

namespace ui {

enum NavButton { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
constexpr int kNavButtonCount = nbRefresh + 1;

// The navigator bar: ten buttons that move the cursor of a data source and edit its records,
// each enabled only when its action makes sense for the cursor position and state.
class DBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DBNavigator(QWidget* parent = nullptr);
    ~DBNavigator() override;

    void setDataSource(db::DataSource* source);
    db::DataSource* dataSource() const { return source_; }

    // Hidden buttons take no room.
    void setVisibleButtons(const QSet<NavButton>& buttons);
    QSet<NavButton> visibleButtons() const;

    // Each button's hint (its status tip), in button order; missing or empty ones keep the
    // standard hint. With showHint the hints are also tool tips.
    void setHints(const QStringList& hints);
    QStringList hints() const;
    void setShowHint(bool on);
    bool showHint() const { return showHint_; }

    void setConfirmDelete(bool on) { confirmDelete_ = on; }
    bool confirmDelete() const { return confirmDelete_; }

    QToolButton* button(NavButton b) const { return buttons_[b]; }
    // Runs a button's action as a click does.
    void BtnClick(NavButton b);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked(ui::NavButton button); // after the button's action

private:
    db::Dataset* dataSet() const;
    void doAction(NavButton b);
    void updateButtons();
    void applyHints();

    QToolButton* buttons_[kNavButtonCount] = {};
    QPointer<db::DataSource> source_;
    QList<QMetaObject::Connection> links_;
    QStringList hints_;
    bool showHint_ = false;
    bool confirmDelete_ = true;
};

// The standard hints, in button order.
QStringList defaultNavigatorHints();

} // namespace ui
