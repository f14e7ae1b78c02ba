#include "scoring/Printing.h"

#include "data/DM.h"
#include "reports/Preview.h"
#include "reports/Reports.h"
#include "results/Archive.h"
#include "scoring/Run.h"
#include "widgets/Handler.h"

#include <QProgressDialog>

namespace scoring {

namespace {

// Whole numbers of the current rows, or a message naming what has not been chosen.
int chosen(Table* t, const db::Field* f, const QString& missing) {
    if (t->isEmpty() || f->isNull()) throw reports::ReportError(missing);
    return number(f);
}

int currentOrg() {
    return chosen(BD->Table_org, BD->Table_orgNOM_ORG,
                  QStringLiteral("Учреждение не выбрано: отчёт не составлен."));
}

int currentTestee() {
    return chosen(BD->Table_anket, BD->Table_anketNOMTESTIR,
                  QStringLiteral("Тестируемый не выбран: отчёт не составлен."));
}

int currentTest() {
    return chosen(BD->Table_test, BD->Table_testNTEST, QStringLiteral("Тест не выбран: отчёт не составлен."));
}

} // namespace

void printRunReport(QWidget* parent) {
    const results::RunKey key{currentOrg(), currentTestee(), currentTest()};
    results::Archive archive;
    reports::preview(reports::runReport(archive, key), parent);
}

void printTesteeReport(QWidget* parent) {
    const int org = currentOrg(), testee = currentTestee();
    results::Archive archive;
    reports::preview(reports::testeeReport(archive, org, testee), parent);
}

void printGroupReport(QWidget* parent, bool anonymous) {
    const int org = currentOrg(), test = currentTest();
    results::Archive archive;
    // A large institution takes a moment: the progress shows after half a second.
    QProgressDialog progress(QStringLiteral("Составление отчёта…"), QStringLiteral("Отмена"), 0, 0, parent);
    progress.setObjectName(QStringLiteral("ReportProgress"));
    progress.setWindowTitle(QStringLiteral("Отчёт"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    reports::Report report;
    try {
        report = reports::groupReport(
            archive, org, test,
            [&](int done, int total) {
                progress.setMaximum(total);
                progress.setValue(done);
                return !progress.wasCanceled();
            },
            anonymous);
    } catch (const reports::Cancelled&) {
        throw ui::Abort(); // the user stopped it: nothing to say
    }
    progress.reset();
    reports::preview(report, parent);
}

} // namespace scoring
