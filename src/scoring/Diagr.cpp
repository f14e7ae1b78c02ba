#include "scoring/Diagr.h"

#include "scoring/Diagr1.h"
#include "widgets/DBText.h"
#include "widgets/Handler.h"

TFormDiagr* FormDiagr = nullptr;

TFormDiagr::TFormDiagr(QWidget* parent) : scoring::ChartWindow("FormDiagr", false, parent) {
    const QString hint = QStringLiteral("Щелкните дважды для смены вида диаграммы");
    DBText1->setStatusTip(hint);
    DBText1->setToolTip(hint);
    ui::on(DBText1, &ui::DBText::clicked, this, [this] { DBText1Click(); });
}

// A single click, whatever the hint says.
void TFormDiagr::DBText1Click() {
    FormDiagr1->ShowModal();
}
