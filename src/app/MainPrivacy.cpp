// The «Табл» items beyond the fixed ones: a testee's data erased on request, the office's password.
#include "app/Main.h"

#include "data/DM.h"
#include "data/Erasure.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "maintenance/ChangePassword.h"
#include "testing/TesteeMode.h"
#include "widgets/Messages.h"

#include <QFileInfo>
#include <cmath>

using db::Table;

namespace {

// The tables the program holds a testee's rows in; an edit in one of them would be lost.
std::vector<Table*> testeeTables() {
    return {BD->Table_anket, BD->Table_rezult, BD->Table_rez};
}

QString personOf(const Table* anket) {
    QStringList parts;
    for (const char* f : {"FAMTESTIR", "NAMETESTIR", "OTCHTESTIR"}) {
        const QString s = anket->fieldValue(QLatin1String(f)).toString().trimmed();
        if (!s.isEmpty()) parts << s;
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

void TFormMain::TesteeModeClick() {
    // The same run the «Тестирование» item starts, once institution, testee and test are chosen.
    if (!MenuTest->isEnabled()) {
        ui::ShowMessage(QStringLiteral("Сначала выберите учреждение, тестируемого и тест."));
        return;
    }
    testing::runTesteeMode();
}

void TFormMain::EraseTesteeClick() {
    Table* anket = BD->Table_anket;
    if (!anket->active() || anket->isEmpty()) {
        ui::ShowMessage(QStringLiteral("Сначала выберите тестируемого."));
        return;
    }
    const int org = int(std::llround(anket->fieldValue(QStringLiteral("NOMU")).toDouble()));
    const int testee = int(std::llround(anket->fieldValue(QStringLiteral("NOMTESTIR")).toDouble()));
    const QString person = personOf(anket);
    // The folder, or the server database's URL, the tables were opened from.
    const QString alias = anket->databaseName();
    const QString dir = !alias.isEmpty() && db::isServerLocation(db::Aliases::resolve(alias))
                            ? db::Aliases::resolve(alias)
                            : QFileInfo(anket->filePath()).absolutePath();
    const schema::TesteeRows rows = schema::countTestee(dir, org, testee);
    const QString question =
        QStringLiteral(
            "Удалить навсегда все данные тестируемого «%1» (учреждение № %2, тестируемый № %3)?\n\n"
            "Будет удалено записей: %4, из них:\n%5\n\nВосстановить их будет нельзя.")
            .arg(person)
            .arg(org)
            .arg(testee)
            .arg(rows.total())
            .arg(rows.describe());
    if (!ui::Confirm(question)) return;
    for (Table* t : testeeTables())
        if (t->active() && t->state() != db::DataSetState::Browse) t->cancel();
    const schema::ErasureDone done = schema::eraseTestee(dir, org, testee);
    for (Table* t : testeeTables())
        t->refresh();
    if (!done.logError.isEmpty())
        ui::ShowError(QStringLiteral("Данные удалены, но запись в журнал не удалась: %1").arg(done.logError));
    else
        ui::ShowMessage(QStringLiteral("Данные тестируемого удалены (записей: %1).").arg(done.rows.total()));
}

void TFormMain::ChangePasswordClick() {
    TChangePasswordDlg dlg(this);
    dlg.ShowModal();
}
