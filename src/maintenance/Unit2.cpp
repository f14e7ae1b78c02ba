#include "maintenance/Unit2.h"

#include "data/DM.h"
#include "widgets/DBMemo.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"

#include <QVBoxLayout>

TForm_bdanaliz* Form_bdanaliz = nullptr;

TForm_bdanaliz::TForm_bdanaliz(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("Form_bdanaliz"));
    setWindowTitle(QStringLiteral("Редактирование текста для анализа результатов"));
    setClientSize(544, 375);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    DBGrid1 = new ui::DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setIndicator(true);
    DBGrid1->setConfirmDelete(true);
    DBGrid1->setFixedHeight(145);
    // The standard hints only, shown in the main window's status bar, no tool tips.
    DBNavigator1 = new ui::DBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setFixedHeight(25);
    DBMemo1 = new ui::DBMemo(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    lay->addWidget(DBGrid1);
    lay->addWidget(DBNavigator1);
    lay->addWidget(DBMemo1, 1);
    BindData();
}

void TForm_bdanaliz::BindData() {
    DBGrid1->setDataSource(BD->DS_analiz);
    DBNavigator1->setDataSource(BD->DS_analiz);
    DBMemo1->setDataSource(BD->DS_analiz);
    DBMemo1->setDataField(QStringLiteral("TEXT"));
}
