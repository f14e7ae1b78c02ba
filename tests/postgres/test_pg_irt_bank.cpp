// The item bank on a PostgreSQL server: made with the database, read back as stored (psql says what
// the server holds), a criterion's rows replaced in one step, a failed store leaving them as
// they were.
#include "PgSchema.h"
#include "PgServer.h"
#include "data/Schema.h"
#include "psychometrics/irt/Bank.h"

#include <gtest/gtest.h>

using namespace psychometrics::irt;

namespace {

class PgIrtBankTest : public PgDatabaseTest {
protected:
    void SetUp() override {
        PgDatabaseTest::SetUp();
        if (!ready()) return;
        pg::createDatabase(url);
    }
};

Bank bank(int krit, Model model, std::vector<BankItem> items) {
    Bank b;
    b.test = 2;
    b.krit = krit;
    b.model = model;
    b.calibrated = QDate(2026, 12, 10);
    b.runs = 321;
    b.items = std::move(items);
    return b;
}

TEST_F(PgIrtBankTest, StoredReplacedAndReadBackOnTheServer) {
    if (!ready()) return;
    EXPECT_TRUE(readBank(url, 2, 1).items.empty());
    storeBank(
        url, bank(1, Model::TwoPl,
                  {{5, {1.25, {-0.123456789}}, 0.1, {0.05}, {0, 1}}, {6, {0.5, {2.5}}, 0.2, {0.3}, {0, 2}}}));
    storeBank(url,
              bank(2, Model::PartialCredit, {{7, {1, {-1, 0.5, 1.75}}, 0, {0.1, 0.2, 0.3}, {0, 1, 2, 4}}}));
    EXPECT_TRUE(schema::hasTable(url, schema::irtBank()));
    EXPECT_EQ(psqlText(url, "SELECT string_agg(nomvopr || ':' || porog || ':' || trud::float8, ' ' ORDER BY "
                            "krit, nomvopr, porog) FROM bd_irt"),
              "5:1:-0.12345679 6:1:2.5 7:1:-1 7:2:0.5 7:3:1.75");
    const Bank one = readBank(url, 2, 1);
    ASSERT_EQ(one.items.size(), 2u);
    EXPECT_EQ(one.model, Model::TwoPl);
    EXPECT_EQ(one.runs, 321);
    EXPECT_EQ(one.calibrated, QDate(2026, 12, 10));
    EXPECT_EQ(one.items[0].parameters.a, 1.25);
    EXPECT_NEAR(one.items[0].parameters.thresholds[0], -0.123456789, 1e-8);
    EXPECT_EQ(one.items[1].points, (std::vector<double>{0, 2}));
    const Bank two = readBank(url, 2, 2);
    ASSERT_EQ(two.items.size(), 1u);
    EXPECT_EQ(two.items[0].parameters.thresholds, (std::vector<double>{-1, 0.5, 1.75}));
    EXPECT_EQ(two.items[0].points, (std::vector<double>{0, 1, 2, 4}));

    // Criterion 1 again, Rasch, one question: its old rows go, criterion 2's stay.
    storeBank(url, bank(1, Model::Rasch, {{8, {1, {0.25}}, 0, {0.1}, {0, 1}}}));
    EXPECT_EQ(psqlText(url,
                       "SELECT string_agg(krit || ':' || nomvopr || ':' || trim(model), ' ' ORDER BY krit, "
                       "nomvopr, porog) FROM bd_irt"),
              "1:8:rasch 2:7:pcm 2:7:pcm 2:7:pcm");

    // A value too wide for its column in the second question: nothing of the step stays.
    const QString before =
        psqlText(url, "SELECT string_agg(id || ':' || nomvopr, ' ' ORDER BY id) FROM bd_irt");
    Bank wide = bank(2, Model::TwoPl, {{3, {1, {0}}, 0, {0.1}, {0, 1}}, {4, {1e15, {0}}, 0, {0.1}, {0, 1}}});
    EXPECT_ANY_THROW(storeBank(url, wide));
    EXPECT_EQ(psqlText(url, "SELECT string_agg(id || ':' || nomvopr, ' ' ORDER BY id) FROM bd_irt"), before);
}

} // namespace
