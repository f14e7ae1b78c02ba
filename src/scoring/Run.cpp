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

} // namespace scoring
