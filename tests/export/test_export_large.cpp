// The answer export over a generated folder whose answer table spans several blocks of the
// scanner, with rows deleted and answers stored again past block edges: every cell is what
// dbfread, a reader we did not write, reads from the tables.
#include "TestDb.h"
#include "dbf/DbfFile.h"
#include "export/Collect.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace exporting;

namespace {

using Who = std::pair<int, int>; // institution, testee

QList<QJsonObject> dump(const QString& dir, const QString& table) {
    QList<QJsonObject> rows;
    for (const QString& line : peerDump(dir, table))
        rows << QJsonDocument::fromJson(line.toUtf8()).object();
    return rows;
}

int whole(const QJsonObject& row, const char* field) {
    return row[QLatin1String(field)].toInt(-999);
}

class LargeExport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp = new QTemporaryDir;
        ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                             {"large", db(), "--orgs", "7", "--testees", "900", "--tests", "3", "--questions",
                              "45", "--answers", "70000", "--scores", "600", "--criteria", "2"}),
                  0);
        // Damage of the kind a long-used table holds, near the scanner's block edges: rows deleted,
        // and some answered again after their row was deleted, with another choice.
        auto f = dbf::DbfFile::open(QDir(db()).filePath("bd_rezult.dbf").toStdString());
        const uint32_t perBlock = (1u << 20) / f->recordLength(), n = f->recordCount();
        const int otvet = f->fieldIndex("OTVET");
        ASSERT_GT(n, 2 * perBlock + 2);
        double t = 0;
        ASSERT_TRUE(f->readNumber(perBlock - 1, f->fieldIndex("NOMTESTA"), t));
        test = int(t);
        // The last and first records of two blocks stay live: a scan that drops one loses an answer.
        for (uint32_t edge = perBlock; edge < n; edge += perBlock)
            for (uint32_t r : {edge - 3, edge - 2, edge + 1, edge + 2}) {
                f->setDeleted(r, true);
                std::string again(f->record(r), f->recordLength());
                again[0] = ' ';
                const std::string choice = f->formatNumber(otvet, r % 2 ? 0 : -1);
                again.replace(1 + f->fields()[size_t(otvet)].offset, choice.size(), choice);
                f->appendRecord(again);
            }
        for (uint32_t r = 5; r < n; r += 997)
            f->setDeleted(r, true);
    }
    static void TearDownTestSuite() { delete tmp; }
    static QString db() { return tmp->filePath("db"); }
    static inline QTemporaryDir* tmp = nullptr;
    static inline int test = 0; // the test of the rows at the first block edge
};

TEST_F(LargeExport, AnswersAsPlacesAndPointsAreWhatAnotherReaderReads) {
    // The options of each answer set in stored order, as the testing window shows them.
    std::map<int, std::vector<double>> points;
    for (const QJsonObject& o : dump(db(), "bd_otvet")) {
        const QJsonValue b = o["BOTVET"];
        points[whole(o, "NOMOTV")].push_back(b.isNull() ? 0.0 : b.toDouble());
    }
    std::map<int, int> setOf; // question -> its answer set
    for (const QJsonObject& v : dump(db(), "bd_vopros"))
        if (whole(v, "NTEST") == test) setOf.try_emplace(whole(v, "NVOPR"), whole(v, "NOTV"));
    // The first live answer row of each question of each run, in stored order.
    std::map<Who, std::map<int, int>> answers;
    for (const QJsonObject& r : dump(db(), "bd_rezult"))
        if (whole(r, "NOMTESTA") == test)
            answers[{whole(r, "NOMU"), whole(r, "NOMTESTIR")}].try_emplace(whole(r, "NOMVOPR"),
                                                                           whole(r, "OTVET"));
    ASSERT_GT(answers.size(), 100u);

    const Sheet places = collect(db(), {test, std::nullopt, Content::AnswerPositions});
    const Sheet scored = collect(db(), {test, std::nullopt, Content::AnswerPoints});
    ASSERT_EQ(places.rows, answers.size());
    ASSERT_EQ(scored.rows, answers.size());
    auto column = [](const Sheet& s, const QString& name) -> const Column* {
        for (const Column& c : s.columns)
            if (c.name == name) return &c;
        return nullptr;
    };
    const Column *org = column(places, "NOMU"), *testee = column(places, "NOMTESTIR");
    ASSERT_TRUE(org && testee);
    size_t row = 0, checked = 0, unanswered = 0;
    for (const auto& [who, chosen] : answers) {
        SCOPED_TRACE(testing::Message() << "institution " << who.first << ", testee " << who.second);
        ASSERT_EQ(org->numbers[row], who.first);
        ASSERT_EQ(testee->numbers[row], who.second);
        for (const auto& [question, set] : setOf) {
            const QString name = QStringLiteral("Q%1").arg(question, 3, 10, QLatin1Char('0'));
            const Column *place = column(places, name), *point = column(scored, name);
            ASSERT_TRUE(place && point) << name.toStdString();
            const auto it = chosen.find(question);
            const std::vector<double>& options = points[set];
            if (it == chosen.end()) { // never shown: blank in both
                EXPECT_TRUE(std::isnan(place->numbers[row])) << name.toStdString();
                EXPECT_TRUE(std::isnan(point->numbers[row])) << name.toStdString();
            } else if (it->second < 0 || options.empty()) { // shown, not answered
                EXPECT_EQ(place->numbers[row], 0) << name.toStdString();
                EXPECT_TRUE(std::isnan(point->numbers[row])) << name.toStdString();
                ++unanswered;
            } else {
                const size_t at = std::min(size_t(it->second), options.size() - 1);
                EXPECT_EQ(place->numbers[row], double(at + 1)) << name.toStdString();
                EXPECT_EQ(point->numbers[row], options[at]) << name.toStdString();
            }
            ++checked;
        }
        ++row;
    }
    EXPECT_GT(checked, 10000u);
    EXPECT_GT(unanswered, 0u) << "the rows answered again without a choice belong to this test";
}

} // namespace
