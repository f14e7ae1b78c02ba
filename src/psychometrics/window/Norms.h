#pragma once
#include "widgets/Form.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
namespace db {
class DataSource;
class Table;
} // namespace db
namespace ui {
class DBGrid;
class DBNavigator;
} // namespace ui

// "Нормы": the norm rows of the current test, edited in a grid, and the mean and standard
// deviation of a group computed from the database's scored runs ("по выборке").
class TFormNorms : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNorms(QWidget* parent = nullptr);

    QLabel *LabelTest, *LabelHint, *LabelSample;
    ui::DBGrid* DBGridNorm;
    ui::DBNavigator* DBNavigatorNorm;
    QComboBox *ComboKrit, *ComboSex;
    QSpinBox *SpinFrom, *SpinTo;
    QPushButton *ButtonSample, *ButtonClose;
    db::Table* Table_norm = nullptr;
    db::DataSource* DS_norm;

    // Opens the norms of test (with its number of criteria) in the database (a folder or a server), making
    // the table of norms there if it is missing.
    void open(const QString& database, int test, const QString& name, int criteria);
    void ButtonSampleClick();

protected:
    void FormClose(ui::CloseAction& action) override;

private:
    QString dir_;
    int test_ = 0;
};

extern TFormNorms* FormNorms;

// The menu item "Нормы…" (MenuNorms) of the tables menu: the norms of the current test.
QAction* AddNormsItem(QMenu* menu);
