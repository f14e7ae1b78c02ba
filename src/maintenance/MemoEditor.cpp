#include "maintenance/MemoEditor.h"

#include "widgets/DBGrid.h"
#include "widgets/DBMemo.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Panel.h"

#include <QVBoxLayout>

TMemoEditor::TMemoEditor(const char* name, const QString& caption, int gridHeight, QWidget* parent)
    : ui::Form(parent) {
    setObjectName(QLatin1String(name));
    setWindowTitle(caption);
    setClientSize(544, 375);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    DBGrid1 = new ui::DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setIndicator(true);
    DBGrid1->setConfirmDelete(true);
    DBGrid1->setFixedHeight(gridHeight);
    // The standard hints only, shown in the main window's status bar, no tool tips.
    DBNavigator1 = new ui::DBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setFixedHeight(25);
    DBMemo1 = new ui::DBMemo(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));

    auto* lay = ui::column(this);
    lay->addWidget(DBGrid1);
    lay->addWidget(DBNavigator1);
    lay->addWidget(DBMemo1, 1);
}

void TMemoEditor::bind(db::DataSource* source, const QString& memoField) {
    DBGrid1->setDataSource(source);
    DBNavigator1->setDataSource(source);
    DBMemo1->setDataSource(source);
    DBMemo1->setDataField(memoField);
}
