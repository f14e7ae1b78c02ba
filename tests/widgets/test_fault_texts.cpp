// Every message the windows show for the data layer's faults, made on real files and taken
// through the windows' one error path: Russian, in the user's words, or one of the texts the
// program keeps word for word.
#include "Damage.h"
#include "TestDb.h"
#include "UiTest.h"
#include "dataset/Table.h"
#include "dataset/Variant.h"
#include "dbf/Os.h"
#include "sql/SqlRunner.h"
#include "widgets/Handler.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The texts fixed word for word, whatever their language.
bool fixedText(const QString& text) {
    static const QRegularExpression fixed(QStringLiteral(
        "^(Invalid variant type conversion|'.*' is not a valid integer value|Cannot make a visible window "
        "modal|Delete record\\?|Record locked by another user\\.|\\w+ property out of range)$"));
    return fixed.match(text).hasMatch();
}

bool russian(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

// A table of the database, open.
std::unique_ptr<db::Table> table(const TestDb& d, const char* file) {
    auto t = std::make_unique<db::Table>();
    t->setTableName(d.path(QString::fromLatin1(file)));
    t->open();
    return t;
}

void appendOrg(db::Table& t, const QString& name) {
    t.append();
    t.setFields({1, 1, name, QString(), 1, 1});
    t.post();
}

void appendAnswer(db::Table& t, int question) {
    t.append();
    t.setFields({1, 1, QDate(2024, 5, 1), 1, question, 2});
    t.post();
}

struct Fault {
    const char* what;
    std::function<void(TestDb&)> step;
    const char* mustSay; // a word the message must hold, in the user's words
};

const std::vector<Fault>& faults() {
    static const std::vector<Fault> all = {
        {"full disk",
         [](TestDb& d) {
             auto t = table(d, "bd_org.dbf");
             dbf::os::failNext(dbf::os::Call::Write, ENOSPC);
             appendOrg(*t, QStringLiteral("Школа"));
         },
         "нет места"},
        {"failing sync",
         [](TestDb& d) {
             auto t = table(d, "bd_org.dbf");
             dbf::os::failNext(dbf::os::Call::Sync, EIO);
             appendOrg(*t, QStringLiteral("Школа"));
         },
         "bd_org"},
        {"table file the user may not write",
         [](TestDb& d) {
             dbf::os::failNext(dbf::os::Call::Open, EACCES);
             auto t = table(d, "bd_org.dbf");
             appendOrg(*t, QStringLiteral("Школа"));
         },
         "права"},
        {"memo block past the end of the .dbt",
         [](TestDb& d) {
             {
                 auto t = table(d, "bd_analiz.dbf");
                 t->append();
                 t->setFields({1, 1, QStringLiteral("Высокий"), 0, 10, QStringLiteral("Текст")});
                 t->post();
             }
             const QString file = d.path(QStringLiteral("bd_analiz.dbf"));
             patchFile(file, fieldOffset(file, 0, "TEXT"), "     99999");
             table(d, "bd_analiz.dbf")->fieldValue(QStringLiteral("TEXT")).toString();
         },
         "повреждён"},
        {"table cut inside its header",
         [](TestDb& d) {
             QFile(d.path(QStringLiteral("bd_org.dbf"))).resize(100);
             table(d, "bd_org.dbf");
         },
         "повреждена"},
        {"index node claiming 0xFFFFFFFF keys",
         [](TestDb& d) {
             auto t = table(d, "bd_rezult.dbf");
             appendAnswer(*t, 1);
             spoilIndexRoot(d.path(QStringLiteral("bd_rezult.MDX")));
             appendAnswer(*t, 2);
         },
         "morv-db reindex"},
        {"unreadable tag expression",
         [](TestDb& d) {
             spoilTagExpression(d.path(QStringLiteral("bd_rezult.MDX")), "NOSUCH(");
             auto t = table(d, "bd_rezult.dbf");
             appendAnswer(*t, 1);
         },
         "Индекс"},
        {"query beyond its memory",
         [](TestDb& d) {
             const qint64 old = db::sql::memoryLimit();
             db::sql::setMemoryLimit(qint64(16) << 20);
             struct Restore {
                 qint64 v;
                 ~Restore() { db::sql::setMemoryLimit(v); }
             } restore{old};
             db::sql::Select s(
                 d.dir(),
                 QStringLiteral("with recursive c(x) as (select 1 union all select x + 1 from c) "
                                "select x, x from c"),
                 {});
             db::ResultTable rows;
             s.fetch(rows);
         },
         "памяти"},
        {"letter the code page lacks",
         [](TestDb& d) { appendOrg(*table(d, "bd_org.dbf"), QStringLiteral("École")); },
         "«Название учреждения»"},
        {"missing table",
         [](TestDb& d) {
             QFile::remove(d.path(QStringLiteral("bd_org.dbf")));
             db::Table t;
             t.setDatabaseName(QStringLiteral("morv"));
             t.setTableName(QStringLiteral("bd_org.dbf"));
             t.open();
         },
         "bd_org.dbf"},
        {"delete on an empty table", [](TestDb& d) { table(d, "bd_org.dbf")->deleteRecord(); },
         "Записей нет"},
        {"edit of a read-only view",
         [](TestDb& d) {
             auto t = std::make_unique<db::Table>();
             t->setTableName(d.path(QStringLiteral("bd_org.dbf")));
             t->setReadOnly(true);
             t->open();
             t->append();
         },
         "изменить нельзя"},
        {"bad filter", [](TestDb& d) { table(d, "bd_org.dbf")->setFilter(QStringLiteral("NAMEU = = 1")); },
         ""},
        {"null into a number", [](TestDb&) { db::Variant().toInt(); }, "Invalid variant type conversion"},
        {"text into a number", [](TestDb&) { db::Variant(QStringLiteral("x1")).toInt(); }, "is not a valid"},
    };
    return all;
}

} // namespace

TEST(FaultTexts, EveryDataLayerFaultReachesTheWindowsInRussianOrAsAFixedText) {
    for (const Fault& f : faults()) {
        SCOPED_TRACE(f.what);
        TestDb d;
        MessageRecorder messages;
        EXPECT_FALSE(ui::run(nullptr, [&] { f.step(d); })) << "the step did not fail";
        dbf::os::clearFaults();
        ASSERT_EQ(messages.texts().size(), 1) << messages.texts().join('|').toStdString();
        const QString text = messages.texts()[0];
        EXPECT_TRUE(russian(text) || fixedText(text)) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(f.mustSay))) << text.toStdString();
        // No engine English leaks into a Russian message.
        if (russian(text)) {
            EXPECT_FALSE(
                text.contains(QRegularExpression(QStringLiteral("\\b(Cannot|Table|Index|Memo|Field|is "
                                                                "read-only|damaged)\\b"))))
                << text.toStdString();
        }
    }
}
