#include "scoring/Run.h"

#include "data/DM.h"

namespace scoring {

int number(const db::Field* f) {
    return int(f->asInteger());
}

QString runFilter() {
    return QStringLiteral("NOMU=%1 and NOMTESTIR=%2 and NOMTESTA=%3")
        .arg(number(BD->Table_orgNOM_ORG))
        .arg(number(BD->Table_anketNOMTESTIR))
        .arg(number(BD->Table_testNTEST));
}

bool narrowToAnswerSet() {
    const db::Variant set = BD->Table_voprosNOTV->value();
    if (set.isNull()) return false;
    db::Table* otvet = BD->Table_otvet;
    const QString filter = QStringLiteral("NOMOTV=") + QString::number(set.toInt());
    // Refiltering is a rebuild of the view; most questions share their set with the one before.
    if (otvet->filtered() && otvet->filter() == filter)
        otvet->first();
    else
        otvet->filterBy(filter);
    return true;
}

} // namespace scoring
