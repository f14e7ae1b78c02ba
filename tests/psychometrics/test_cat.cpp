// The adaptive algorithm: θ and its standard error against R's integrate() of the posterior, the
// information and the chosen question against R's 2PL information, the stop rules, a resumed
// run, and the simulation's precision on a 60-question bank.
#include "ROracle.h"
#include "psychometrics/irt/Cat.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <stdexcept>

using namespace psychometrics::irt;

namespace {

// A 2PL bank with spread difficulties and discriminations, the same for every run of the test.
std::vector<ItemParameters> bank2pl(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> a(0.6, 2.2), b(-2.5, 2.5);
    std::vector<ItemParameters> items;
    for (size_t i = 0; i < n; ++i) {
        const double ai = a(gen);
        items.push_back({ai, {b(gen)}});
    }
    return items;
}

// The bank as R lists of discriminations and threshold vectors.
QString rBank(const std::vector<ItemParameters>& bank) {
    std::vector<double> a;
    QStringList d;
    for (const ItemParameters& p : bank) {
        a.push_back(p.a);
        d << roracle::vec(p.thresholds);
    }
    return QStringLiteral("A <- %1; D <- list(%2)\n").arg(roracle::vec(a), d.join(QStringLiteral(", ")));
}

// R's posterior moments under N(0,1) for answers (item indexes from 0), by integrate().
const char* kRPosterior = R"(
pcat <- function(t, a, d, x) { z <- c(0, cumsum(a * (t - d))); exp(z[x + 1] - max(z)) / sum(exp(z - max(z))) }
post <- function(t) sapply(t, function(u) dnorm(u) * prod(mapply(function(i, x) pcat(u, A[i], D[[i]], x), I, X)))
m0 <- integrate(post, -10, 10, rel.tol = 1e-12, subdivisions = 1000)$value
m1 <- integrate(function(t) t * post(t), -10, 10, rel.tol = 1e-12, subdivisions = 1000)$value / m0
m2 <- integrate(function(t) t^2 * post(t), -10, 10, rel.tol = 1e-12, subdivisions = 1000)$value / m0
cat("eap", sprintf("%.12g", m1), "\n"); cat("se", sprintf("%.12g", sqrt(m2 - m1^2)), "\n")
)";

#define REQUIRE_R()                                                                                          \
    if (!roracle::hasRscript()) GTEST_SKIP() << "Rscript is missing: scripts/deps.sh installs r-base-core"

QString rAnswers(const std::vector<CatAnswer>& answers) {
    std::vector<double> items, scores;
    for (const CatAnswer& a : answers) {
        items.push_back(double(a.item) + 1);
        scores.push_back(a.score);
    }
    return QStringLiteral("I <- %1; X <- %2\n").arg(roracle::vec(items), roracle::vec(scores));
}

TEST(CatOracle, ThetaAndSeAreThePosteriorMomentsRIntegrates) {
    REQUIRE_R();
    // 2PL items and a partial credit item, answered in an order that is not the bank's.
    std::vector<ItemParameters> bank = bank2pl(8, 7);
    bank.push_back({1.0, {-0.7, 0.4, 1.5}});
    const std::vector<std::vector<CatAnswer>> cases = {
        {{3, 1}},
        {{8, 2}, {0, 0}, {5, 1}},
        {{1, 1}, {2, 1}, {4, 1}, {6, 1}, {7, 1}},  // all right: no finite ML, the EAP is
        {{1, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}}}; // all wrong: likewise
    for (const auto& answers : cases) {
        CatOptions o;
        o.seTarget = 0;
        const CatStep s = catStep(bank, answers, o);
        const auto r = roracle::run(rBank(bank) + rAnswers(answers) + QLatin1String(kRPosterior));
        ASSERT_TRUE(r.count("eap") && r.count("se"));
        EXPECT_NEAR(s.theta, r.at("eap")[0], 1e-6) << answers.size() << " answers";
        EXPECT_NEAR(s.se, r.at("se")[0], 1e-6) << answers.size() << " answers";
    }
}

TEST(CatOracle, NextQuestionIsTheMostInformativeByR) {
    REQUIRE_R();
    const std::vector<ItemParameters> bank = bank2pl(40, 11);
    const std::vector<CatAnswer> answers = {{5, 1}, {17, 0}, {30, 1}, {2, 1}};
    CatOptions o;
    o.seTarget = 0.01;
    const CatStep s = catStep(bank, answers, o);
    ASSERT_TRUE(s.next);
    // R: the 2PL information a²P(1−P) at R's own EAP, and the best question not yet given.
    const auto r =
        roracle::run(rBank(bank) + rAnswers(answers) + QLatin1String(kRPosterior) + QLatin1String(R"(
b <- sapply(D, function(d) d[1]); p <- plogis(A * (m1 - b)); info <- A^2 * p * (1 - p)
cat("info", sprintf("%.15g", info), "\n"); info[I] <- -1; cat("next", which.max(info) - 1, "\n")
)"));
    ASSERT_EQ(r.at("info").size(), bank.size());
    for (size_t i = 0; i < bank.size(); ++i)
        EXPECT_NEAR(itemInformation(bank[i], r.at("eap")[0]), r.at("info")[i], 1e-9) << "question " << i;
    EXPECT_EQ(double(*s.next), r.at("next")[0]);
}

TEST(Cat, StopsAtTheTargetTheMaximumOrAnEmptyBank) {
    const std::vector<ItemParameters> large = bank2pl(40, 3);
    CatOptions o;
    o.seTarget = 0.5;
    // Before any answer: θ 0, SD 1 of the prior, and the best question at 0.
    CatStep s = catStep(large, {}, o);
    EXPECT_EQ(s.theta, 0);
    EXPECT_EQ(s.se, 1);
    ASSERT_TRUE(s.next);
    // A testee at θ = 0.2 who gets right exactly the questions easier than that.
    std::vector<CatAnswer> answers;
    while (s.next) {
        answers.push_back({*s.next, large[*s.next].thresholds[0] < 0.2 ? 1 : 0});
        s = catStep(large, answers, o);
    }
    EXPECT_EQ(s.stop, CatStop::Precise);
    EXPECT_LE(s.se, 0.5);
    EXPECT_LT(answers.size(), large.size());
    // The standard error before the last answer was above the target, or it would have stopped.
    answers.pop_back();
    EXPECT_GT(catStep(large, answers, o).se, 0.5);

    const std::vector<ItemParameters> bank = bank2pl(12, 3);

    o.seTarget = 0.01;
    o.maxItems = 3;
    EXPECT_EQ(catStep(bank, {{0, 1}, {1, 0}, {2, 1}}, o).stop, CatStop::MaxItems);
    EXPECT_TRUE(catStep(bank, {{0, 1}, {1, 0}}, o).next);
    o.maxItems = 0;
    std::vector<CatAnswer> all;
    for (size_t i = 0; i < bank.size(); ++i)
        all.push_back({i, int(i % 2)});
    s = catStep(bank, all, o);
    EXPECT_EQ(s.stop, CatStop::BankExhausted);
    EXPECT_FALSE(s.next);

    // A fixed first question is given first; the second follows θ after its answer.
    o.firstItem = 9;
    EXPECT_EQ(catStep(bank, {}, o).next, 9u);
    EXPECT_NE(catStep(bank, {{9, 1}}, o).next, 9u);

    EXPECT_THROW(catStep({}, {}, o), std::invalid_argument);
    EXPECT_THROW(catStep(bank, {{12, 1}}, o), std::invalid_argument);
    EXPECT_THROW(catStep(bank, {{1, 1}, {1, 0}}, o), std::invalid_argument);
    EXPECT_THROW(catStep(bank, {{1, 2}}, o), std::invalid_argument);
    o.firstItem = 40;
    EXPECT_THROW(catStep(bank, {}, o), std::invalid_argument);
}

TEST(Cat, RandomesqueDrawsAmongTheBestAndResumesOnTheSameQuestion) {
    const std::vector<ItemParameters> bank = bank2pl(60, 5);
    const std::vector<CatAnswer> answers = {{10, 1}, {20, 0}, {33, 1}};
    CatOptions best;
    best.seTarget = 0.01;
    const double theta = catStep(bank, answers, best).theta;
    // The five most informative at θ, found here by sorting the whole bank.
    std::vector<std::pair<double, size_t>> info;
    for (size_t i = 0; i < bank.size(); ++i)
        if (i != 10 && i != 20 && i != 33) info.emplace_back(-itemInformation(bank[i], theta), i);
    std::sort(info.begin(), info.end());
    EXPECT_EQ(catStep(bank, answers, best).next, info[0].second);
    std::set<size_t> top5;
    for (size_t i = 0; i < 5; ++i)
        top5.insert(info[i].second);
    CatOptions o = best;
    o.randomesque = 5;
    std::set<size_t> chosen;
    for (uint64_t seed = 0; seed < 200; ++seed) {
        o.seed = seed;
        const auto next = catStep(bank, answers, o).next;
        ASSERT_TRUE(next && top5.count(*next)) << "seed " << seed;
        chosen.insert(*next);
        // Asked again from the same stored answers (a resumed run): the same question.
        EXPECT_EQ(catStep(bank, answers, o).next, next);
    }
    EXPECT_EQ(chosen, top5);
}

TEST(CatSimulation, AdaptiveRunsAreShorterAndAsPreciseAsAsked) {
    const std::vector<ItemParameters> bank = bank2pl(60, 21);
    CatOptions o;
    o.seTarget = 0.3;
    o.randomesque = 5;
    const SimulationResult r = simulateCat(bank, 600, o, 9);
    std::printf("[ figures  ] 60-question 2PL bank, SE 0.3, 600 persons: adaptive %.2f questions, r %.4f, "
                "RMSE %.4f, top exposure %.3f; fixed 60: r %.4f, RMSE %.4f\n",
                r.meanLength, r.correlation, r.rmse, r.maxExposure, r.fixedCorrelation, r.fixedRmse);
    EXPECT_EQ(r.persons, 600);
    EXPECT_LT(r.meanLength, 40);
    EXPECT_GT(r.meanLength, 5);
    EXPECT_LE(r.rmse, 0.35);
    EXPECT_GT(r.correlation, 0.9);
    // The whole bank measures better still, and the exposure is a share.
    EXPECT_EQ(r.fixedLength, 60);
    EXPECT_LT(r.fixedRmse, r.rmse);
    EXPECT_GT(r.maxExposure, 0);
    EXPECT_LE(r.maxExposure, 1);
    // The same seed gives the same figures; another seed other persons.
    const SimulationResult again = simulateCat(bank, 600, o, 9);
    EXPECT_EQ(again.rmse, r.rmse);
    EXPECT_NE(simulateCat(bank, 600, o, 10).rmse, r.rmse);
    EXPECT_THROW(simulateCat({}, 600, o, 1), std::invalid_argument);
}

} // namespace
