#include "maintenance/Table.h"

#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Panel.h"

#include <QVBoxLayout>

TFormTable* FormTable = nullptr;

TFormTable::TFormTable(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTable"));
    setWindowTitle(QStringLiteral("Проверка содержимого таблиц"));
    setClientSize(577, 412);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    DBGrid1 = new ui::DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setIndicator(true);
    DBGrid1->setConfirmDelete(true);
    DBNavigator1 = new ui::DBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setFixedHeight(25);
    DBNavigator1->setHints({QStringLiteral("Первый"), QStringLiteral("Предыдущий"),
                            QStringLiteral("Следующий"), QStringLiteral("Последний"),
                            QStringLiteral("Добавить"), QStringLiteral("Удалить"),
                            QStringLiteral("Редактировать"), QStringLiteral("Принять"),
                            QStringLiteral("Отменить"), QStringLiteral("Обновить")});
    DBNavigator1->setShowHint(true);

    auto* lay = ui::column(this);
    lay->addWidget(DBGrid1, 1);
    lay->addWidget(DBNavigator1);
}

void TFormTable::setDataSource(db::DataSource* ds) {
    DBGrid1->setDataSource(ds);
    DBNavigator1->setDataSource(ds);
}

void TFormTable::ShowOn(db::DataSource* ds) {
    setDataSource(ds);
    Show();
}

int TFormTable::ShowModalOn(db::DataSource* ds) {
    setDataSource(ds);
    return ShowModal();
}
