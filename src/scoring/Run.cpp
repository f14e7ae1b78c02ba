#include "scoring/Run.h"

#include "data/DM.h"

namespace scoring {

int number(const db::Field* f) {
    return int(f->asInteger());
}

results::RunKey currentRun() {
    return {number(BD->Table_orgNOM_ORG), number(BD->Table_anketNOMTESTIR), number(BD->Table_testNTEST)};
}

QString runFilter() {
    return results::runFilter(currentRun());
}

bool narrowToAnswerSet() {
    return results::narrowToAnswerSet(BD->Table_otvet, BD->Table_voprosNOTV->value());
}

} // namespace scoring
