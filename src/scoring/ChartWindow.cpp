#include "scoring/ChartWindow.h"

#include "data/DM.h"
#include "scoring/Printing.h"
#include "scoring/Run.h"
#include "widgets/DBChart.h"
#include "widgets/DBGrid.h"
#include "widgets/DBText.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

namespace scoring {

ChartWindow::ChartWindow(const char* name, bool pie, QWidget* parent) : ui::Form(parent) {
    setObjectName(QLatin1String(name));
    setWindowTitle(QStringLiteral("Диаграмма"));
    setClientSize(663, 415);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);

    Panel1 = new ui::Panel(this, "Panel1", 41);
    DBText1 = new ui::DBText(Panel1);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    ui::fill(DBText1, QColor(192, 220, 192));
    ui::style(DBText1, ui::font(QStringLiteral("Times New Roman Cyr"), 27, ui::BoldItalic), Qt::red);
    DBText1->setDataSource(BD->DS_test);
    DBText1->setDataField(QStringLiteral("NAME"));
    auto* top = new QVBoxLayout(Panel1);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(DBText1);

    Panel3 = new ui::Panel(this, "Panel3");
    DBChart1 = new ui::DBChart(Panel3);
    DBChart1->setObjectName(QStringLiteral("DBChart1"));
    DBChart1->setKind(pie ? ui::DBChart::Pie : ui::DBChart::Bar);
    DBChart1->setTitleLines({QStringLiteral("Диаграмма"), QString()});
    DBChart1->setTitleFrame(true);
    DBChart1->setSeriesTitle(QStringLiteral("Характеристика"));
    DBChart1->setBaseColor(Qt::red);
    DBChart1->setColorEachPoint(true);
    DBChart1->setWalls(QColor(255, 255, 128), Qt::white);
    DBChart1->setArrowLength(20);
    if (pie) DBChart1->setZoomEnabled(false);
    DBChart1->setXField(QStringLiteral("KRIT"));
    DBChart1->setValueField(QStringLiteral("BALL"));
    DBChart1->setDataSource(BD->DS_rez);

    Panel4 = new ui::Panel(Panel3, "Panel4");
    Panel4->setFixedWidth(182);
    DBGrid1 = new ui::DBGrid(Panel4);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setFrameShape(QFrame::NoFrame);
    DBGrid1->setReadOnly(true);
    DBGrid1->setTitles(false);
    DBGrid1->setIndicator(false);
    DBGrid1->setDataSource(BD->DS_Qanaliz);
    // The band is narrow and a level's name long: the name takes the rest of the band (stretched
    // from a token width) and wraps onto as many lines as it needs, rather than hiding behind a
    // scroll bar.
    DBGrid1->setColumns({{QStringLiteral("KRIT"), QString(), 32}, {QStringLiteral("UROV"), QString(), 1}});
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DBGrid1->setWordWrap(true);
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* list = new QVBoxLayout(Panel4);
    list->setContentsMargins(0, 0, 0, 0);
    list->addWidget(DBGrid1);

    auto* middle = new QHBoxLayout(Panel3);
    // The chart stands a little apart from the panel's edge and the list: 471 px wide as designed.
    middle->setContentsMargins(4, 0, 0, 0);
    middle->setSpacing(4);
    middle->addWidget(DBChart1, 1);
    middle->addWidget(Panel4);

    Panel2 = new ui::Panel(this, "Panel2", 39);
    ButtonClose = new QPushButton(QStringLiteral("Закрыть"), Panel2);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    ButtonClose->setGeometry(495, 8, 131, 25);
    setDefaultButton(ButtonClose);
    ButtonPrint = new QPushButton(QStringLiteral("Печать…"), Panel2);
    ButtonPrint->setObjectName(QStringLiteral("ButtonPrint"));
    ButtonPrint->setStatusTip(QStringLiteral("Напечатать или сохранить в PDF отчёт о тестировании"));
    ButtonPrint->setGeometry(24, 8, 131, 25);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(Panel3, 1);
    lay->addWidget(Panel2);

    ui::on(ButtonClose, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
    ui::on(ButtonPrint, &QPushButton::clicked, this, [this] { ButtonPrintClick(); });
}

void ChartWindow::FormActivate() {
    BD->Table_rez->filterBy(runFilter());
    BD->Query_analiz->close();
    BD->Query_analiz->setParam(QStringLiteral("NT"), BD->Table_testNTEST->value());
    BD->Query_analiz->open();
}

void ChartWindow::ButtonCloseClick() {
    Close();
}

void ChartWindow::ButtonPrintClick() {
    printRunReport(this);
}

} // namespace scoring
