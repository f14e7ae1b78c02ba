#include "scoring/Diagr.h"

#include "data/DM.h"
#include "widgets/DBText.h"
#include "widgets/Fonts.h"
#include "widgets/Panel.h"

#include <QVBoxLayout>

TFormDiagr* FormDiagr = nullptr;

TFormDiagr::TFormDiagr(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormDiagr"));
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

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addStretch(1);
}
