// The data module on a small database: opening, dictionary views, lookups, the testee link,
// the new-test handler and the queries.
#include "Errors.h"
#include "TestDb.h"
#include "app/Main.h"
#include "data/DM.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using db::Variant;

namespace {

class DataModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [kind, code, text] :
             std::initializer_list<std::tuple<int, int, const char*>>{{1, 1, "Личностные"},
                                                                      {1, 3, "Познавательные"},
                                                                      {2, 1, "Среднее"},
                                                                      {2, 2, "Высшее"},
                                                                      {3, 1, "Школа"},
                                                                      {3, 2, "Больница"},
                                                                      {4, 1, "Татарстан"},
                                                                      {5, 1, "Казань"},
                                                                      {5, 2, "Набережные Челны-Заречье"},
                                                                      {0, 1, "нулевой вид"},
                                                                      {6, 1, "шестой вид"},
                                                                      {3, 0, "Прочее"}})
            db.add("bd_sprav.dbf", {kind, code, QString::fromUtf8(text)});
        // Institutions 1, 7 and 2 in that stored order; 7 has a republic with no dictionary entry.
        db.add("bd_org.dbf",
               {1.0, 1, QStringLiteral("Школа №5"), QStringLiteral("Начальные классы"), 1.0, 2.0});
        db.add("bd_org.dbf", {7.0, 2, QStringLiteral("Больница"), QString(), 9.0, 1.0});
        db.add("bd_org.dbf", {2.0, 1, QStringLiteral("Школа №8"), QString(), 1.0, 1.0});
        // Testees stored out of institution order, to see the index order.
        db.add("bd_anket.dbf", {1.0, 2.0, QStringLiteral("Петров")});
        db.add("bd_anket.dbf", {1.0, 1.0, QStringLiteral("Иванова"), QStringLiteral("Анна"), QString(),
                                QStringLiteral("Ж"), 1990, 2});
        db.add("bd_anket.dbf", {2.0, 1.0, QStringLiteral("Сидоров")});
        db.add("bd_test.DBF", {1, 1, QStringLiteral("Тест один"), 1});
        db.add("bd_analiz.dbf", {1, 1, QStringLiteral("Низкий"), 0.0, 5.0});
        db.add("bd_analiz.dbf", {1, 1, QStringLiteral("Высокий"), 6.0, 10.0});
        db.add("bd_analiz.dbf", {2, 2, QStringLiteral("Средний"), 0.0, 10.0});
        db.add("bd_rez.dbf", {1.0, 1.0, QDate(2026, 1, 1), 1, 1, 7.0});
        db.add("bd_rez.dbf", {1.0, 1.0, QDate(2026, 1, 1), 2, 2, 3.0});
        FormMain = new TFormMain;
        BD = new TBD;
    }
    void TearDown() override {
        delete BD;
        BD = nullptr;
        delete FormMain;
        FormMain = nullptr;
    }
    QString text(db::Field* f) { return f->asString(); }

    TestDb db;
};

} // namespace

TEST_F(DataModuleTest, OpensEveryComponentUnderItsName) {
    QStringList names;
    for (db::Table* t : BD->tablesInOrder()) {
        names << t->objectName();
        EXPECT_TRUE(t->active()) << t->objectName().toStdString();
    }
    EXPECT_EQ(
        names.join(' '),
        "Table_test Table_spr_test Table_spr_obr Table_spr_org Table_spr_resp Table_spr_np "
        "Table_vopros Table_otvet Table_org Table_anket Table_rezult Table_analiz Table_rez Table_summa");
    EXPECT_TRUE(BD->Query1->active());
    EXPECT_TRUE(BD->Query2->active());
    EXPECT_FALSE(BD->Query_analiz->active());
    for (const char* n : {"DS_test", "DS_spr_np", "DS_anket", "DS_1", "DS_2", "DS_Qanaliz"})
        EXPECT_NE(BD->findChild<db::DataSource*>(n), nullptr) << n;
    for (const char* n : {"SmallintField8", "StringField4", "Table_orgTU", "Table_anketObr",
                          "Table_rezKRITEXT", "Table_testXARAKT"})
        EXPECT_NE(BD->findChild<db::Field*>(n), nullptr) << n;
    EXPECT_EQ(BD->Table_analizMAX->displayLabel(), QStringLiteral("Махимум"));
    EXPECT_EQ(BD->Table_testNAME->displayWidth(), 40);
    EXPECT_EQ(BD->Table_otvetBOTVET->displayLabel(), "BOTVET"); // no label: the field name

    // Every cursor stands on the first record of its view.
    EXPECT_EQ(BD->Table_orgNOM_ORG->asInteger(), 1);
    EXPECT_EQ(text(BD->Table_anketFAMTESTIR), QStringLiteral("Иванова"));
    EXPECT_EQ(text(BD->StringField1), QStringLiteral("Среднее"));
    EXPECT_EQ(text(BD->StringField2),
              QStringLiteral("Школа")); // the tag orders by kind only: stored order within it
}

TEST_F(DataModuleTest, DictionaryViewsSeeOnlyTheirKind) {
    EXPECT_EQ(BD->Table_spr_test->recordCount(), 2);
    EXPECT_EQ(BD->Table_spr_obr->recordCount(), 2);
    EXPECT_EQ(BD->Table_spr_org->recordCount(), 3);
    EXPECT_EQ(BD->Table_spr_resp->recordCount(), 1);
    EXPECT_EQ(BD->Table_spr_np->recordCount(), 2);
    // A row appended with SPRAV left empty drops out once posted; one with the view's kind stays.
    db::Table* obr = BD->Table_spr_obr;
    obr->append();
    BD->SmallintField2->setValue(9);
    BD->StringField1->setValue(QStringLiteral("Без вида"));
    obr->post();
    EXPECT_EQ(obr->recordCount(), 2);
    obr->append();
    obr->setFields({2, 3, QStringLiteral("Неполное среднее")});
    obr->post();
    EXPECT_EQ(obr->recordCount(), 3);
    EXPECT_EQ(text(BD->StringField1), QStringLiteral("Неполное среднее"));
    // The views share one file: another view sees the new row when it next builds its view.
    BD->Table_spr_test->setFiltered(false);
    EXPECT_EQ(BD->Table_spr_test->recordCount(), 14);
}

TEST_F(DataModuleTest, LookupFieldsCutEmptyAndFirstMatch) {
    EXPECT_EQ(text(BD->Table_orgTU), QStringLiteral("Школа"));
    EXPECT_EQ(text(BD->Table_orgRSP), QStringLiteral("Татарстан"));
    EXPECT_EQ(text(BD->Table_orgNP), QStringLiteral("Набережные Челны-Зар")); // 20 characters of 24
    BD->Table_org->next();
    EXPECT_EQ(text(BD->Table_orgRSP), QString()); // code 9 has no kind-4 row
    EXPECT_EQ(text(BD->Table_orgNP), QStringLiteral("Казань"));
    BD->Table_org->first();
    EXPECT_EQ(text(BD->Table_anketObr), QStringLiteral("Высшее"));
    // The criterion text is the first level row of the current analysis view.
    EXPECT_EQ(text(BD->Table_rezKRITEXT), QStringLiteral("Низкий"));
    BD->Table_analiz->filterBy("MIN>=6");
    EXPECT_EQ(text(BD->Table_rezKRITEXT), QStringLiteral("Высокий"));
    BD->Table_rez->next();
    EXPECT_EQ(text(BD->Table_rezKRITEXT), QString());
    // Lookups of rows read by position, as a grid does.
    EXPECT_EQ(BD->Table_org->valueAt(2, BD->Table_orgTU).toString(), QStringLiteral("Школа"));
}

TEST_F(DataModuleTest, TesteesFollowTheInstitution) {
    db::Table* anket = BD->Table_anket;
    ASSERT_EQ(anket->recordCount(), 2);
    EXPECT_EQ(BD->Table_anketNOMTESTIR->asInteger(), 1); // index order, not stored order
    BD->Table_org->next();                               // institution 7: no testees
    EXPECT_EQ(anket->recordCount(), 0);
    EXPECT_TRUE(anket->eof());
    EXPECT_EQ(std::string("Invalid variant type conversion"), [&] {
        try {
            BD->Table_anketNOMTESTIR->asInteger();
        } catch (const db::EngineError& e) {
            return std::string(e.what());
        }
        return std::string();
    }());
    anket->insert();
    EXPECT_EQ(BD->Table_anketNOMU->asInteger(), 7);
    BD->Table_anketNOMTESTIR->setValue(1.0);
    BD->Table_anketFAMTESTIR->setValue(QStringLiteral("Новиков"));
    anket->post();
    EXPECT_EQ(anket->recordCount(), 1);
    BD->Table_org->next();
    EXPECT_EQ(anket->recordCount(), 1);
    EXPECT_EQ(text(BD->Table_anketFAMTESTIR), QStringLiteral("Петров"));

    // A pin on top of the link: the list is empty while the cursor stands elsewhere.
    anket->filterBy("NOMU=1");
    EXPECT_EQ(anket->recordCount(), 0);
    BD->Table_org->first();
    EXPECT_EQ(anket->recordCount(), 2);

    db::Table check;
    check.setTableName(db.path("bd_anket.dbf"));
    check.open();
    ASSERT_TRUE(check.locate("FAMTESTIR", {QStringLiteral("Новиков")}));
    EXPECT_EQ(check.fieldByName("NOMU")->asInteger(), 7);
}

TEST_F(DataModuleTest, NewTestGetsTheCurrentTestType) {
    BD->Table_test->append();
    EXPECT_EQ(BD->Table_testTIP->asInteger(), 0);
    BD->Table_testNTEST->setValue(2);
    BD->Table_test->post();
    FormMain->CurTipTest = 3;
    BD->Table_test->insert();
    EXPECT_EQ(BD->Table_testTIP->asInteger(), 3);
    EXPECT_TRUE(BD->Table_testNTEST->isNull()); // the number is never generated
    BD->Table_testNTEST->setValue(3);
    BD->Table_testXARAKT->setValue(QStringLiteral("Описание теста"));
    BD->Table_test->post();
    BD->Table_test->last();
    EXPECT_EQ(BD->Table_testTIP->asInteger(), 3);
    EXPECT_EQ(text(BD->Table_testXARAKT), QStringLiteral("Описание теста"));
    EXPECT_EQ(peerCheck(db.dir()), 0);
}

TEST_F(DataModuleTest, Queries) {
    ASSERT_EQ(BD->Query1->recordCount(), 2);
    EXPECT_EQ(BD->Query1->fieldAt(0)->fieldName(), "KRIT");
    double sum = 0;
    for (BD->Query1->first(); !BD->Query1->eof(); BD->Query1->next())
        sum += BD->Query1->fieldAt(1)->asFloat();
    EXPECT_DOUBLE_EQ(sum, 10.0);
    BD->Query_analiz->close();
    BD->Query_analiz->setParam("NT", 1);
    BD->Query_analiz->open();
    EXPECT_EQ(BD->Query_analiz->recordCount(), 2);
    BD->Query_analiz->close();
    BD->Query_analiz->setParam("NT", 2);
    BD->Query_analiz->open();
    ASSERT_EQ(BD->Query_analiz->recordCount(), 1);
    EXPECT_EQ(BD->Query_analiz->fieldByName("UROV")->asString(), QStringLiteral("Средний"));
    EXPECT_THROW(BD->Query_analiz->edit(), db::InvalidOperation);
}

TEST(DataModuleStart, MissingTableNamesTheFileAndTheDirectory) {
    TestDb db;
    QFile::remove(db.path("bd_rezult.dbf"));
    try {
        TBD module;
        FAIL() << "opened without bd_rezult.dbf";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Table bd_rezult.dbf not found in %1 (alias morv)").arg(db.dir()));
    }
}

TEST(DataModuleStart, AForeignFileNeverStopsTheStartAndADamagedTableIsNamedWithItsFault) {
    {
        TestDb db;
        // Zero length, and not tables the start opens: only a query naming them reads them.
        for (const char* stray : {"notes.dbf", "bd_stat.dbf"}) {
            QFile f(db.path(QString::fromLatin1(stray)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.close();
        }
        EXPECT_NO_THROW(TBD module);
    }
    struct Damage {
        const char* what;
        std::function<void(QByteArray&)> apply;
        const char* expect;
    };
    const std::vector<Damage> damages = {
        {"zero length", [](QByteArray& b) { b.clear(); }, "shorter than a dBASE header"},
        {"cut inside the header", [](QByteArray& b) { b.truncate(40); }, "truncated inside its header"},
        {"count too large", [](QByteArray& b) { b[4] = char(200); }, "more than the file holds"},
        {"bad version byte", [](QByteArray& b) { b[0] = char(0x42); }, "version byte"},
        {"bad field length", [](QByteArray& b) { b[32 + 16] = char(250); }, "record length"},
    };
    for (const char* table : {"bd_rezult.dbf", "bd_vopros.dbf", "bd_test.dbf"}) {
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(table) + ": " + d.what);
            TestDb db;
            QString name = QString::fromLatin1(table);
            for (const QString& e : QDir(db.dir()).entryList(QDir::Files))
                if (e.compare(name, Qt::CaseInsensitive) == 0) name = e;
            QFile f(db.path(name));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            QByteArray bytes = f.readAll();
            f.close();
            d.apply(bytes);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();
            try {
                TBD module;
                ADD_FAILURE() << "started on a damaged table";
            } catch (const db::DatabaseError& e) {
                EXPECT_TRUE(e.message().contains(db.path(name)) &&
                            e.message().contains(QLatin1String(d.expect)))
                    << e.message().toStdString();
            }
        }
    }
}
