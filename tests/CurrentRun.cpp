#include "CurrentRun.h"

#include "data/DM.h"
#include "registry/Org.h"

bool chooseRun(int org, int testee, int test) {
    BD->Table_org->setFiltered(false);
    if (!BD->Table_org->locate(QStringLiteral("NOM_ORG"), {org})) return false;
    BD->Table_anket->filterBy(TFormOrg::PinText());
    if (!BD->Table_anket->locate(QStringLiteral("NOMTESTIR"), {testee})) return false;
    BD->Table_test->setFiltered(false);
    if (!BD->Table_test->locate(QStringLiteral("NTEST"), {test})) return false;
    BD->Table_vopros->filterBy(QStringLiteral("NTEST=%1").arg(test));
    return true;
}
