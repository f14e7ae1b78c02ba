#include "RegistryTest.h"

#include "app/Main.h"
#include "data/DM.h"
#include "widgets/Form.h"

QStringList storedColumn(const TestDb& db, const char* file, const char* field) {
    db::Table t;
    t.setTableName(db.path(QString::fromLatin1(file)));
    t.open();
    const db::Field* f = t.fieldByName(QString::fromLatin1(field));
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r) {
        const db::Variant v = t.valueAt(r, f);
        out << (v.isNull()       ? QStringLiteral("-")
                : f->isNumeric() ? QString::number(v.toInt())
                                 : v.toString().trimmed());
    }
    return out;
}

void onModal(const std::function<void(ui::Form*)>& step) {
    whenModal([step](QWidget* w) { step(qobject_cast<ui::Form*>(w)); });
}

void inOrgWindow(const std::function<void(ui::Form*)>& step) {
    onModal(step);
    FormMain->MenuOrg->trigger();
}

void inTestirWindow(const std::function<void(ui::Form*)>& step) {
    onModal(step);
    FormMain->MenuTestir->setEnabled(true);
    FormMain->MenuTestir->trigger();
}

void addOrg(const db::Variant& number, const QString& name) {
    BD->Table_org->append();
    BD->Table_orgNOM_ORG->setValue(number);
    BD->Table_orgNAMEU->setValue(name);
    BD->Table_org->post();
}

void addTestee(const db::Variant& org, const db::Variant& number, const QString& surname) {
    // Straight through a table of its own, so no filter or master link of the program interferes.
    Table t;
    t.setDatabaseName(QStringLiteral("morv"));
    t.setTableName(QStringLiteral("bd_anket.dbf"));
    t.open();
    t.append();
    t.setFieldValue(QStringLiteral("NOMU"), org);
    t.setFieldValue(QStringLiteral("NOMTESTIR"), number);
    t.setFieldValue(QStringLiteral("FAMTESTIR"), surname);
    t.post();
    t.close();
    BD->Table_anket->refresh();
}
