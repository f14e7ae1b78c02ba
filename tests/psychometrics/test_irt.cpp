// Item response calibration checked against R's eRm and psychotools (run at test time on the
// same responses), against the published 2PL results for the LSAT section 6 data, and by
// recovering known parameters from simulated answers.
#include "ROracle.h"
#include "TestDb.h"
#include "psychometrics/Columns.h"
#include "psychometrics/irt/Calibration.h"
#include "psychometrics/irt/StoredRuns.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace psychometrics;
using namespace psychometrics::irt;

namespace {

// Answers simulated from the generalised partial credit model; missing cells where asked.
Responses simulate(size_t persons, const std::vector<ItemParameters>& items, unsigned seed,
                   double missing = 0) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit;
    Responses r;
    r.persons = persons;
    r.items = items.size();
    std::vector<double> p;
    for (size_t n = 0; n < persons; ++n) {
        const double theta = normal(gen);
        for (const ItemParameters& it : items) {
            categoryProbabilities(it, theta, p);
            double u = unit(gen);
            int x = 0;
            while (x + 1 < int(p.size()) && u > p[size_t(x)])
                u -= p[size_t(x++)];
            r.scores.push_back(int8_t(unit(gen) < missing ? kMissing : x));
        }
    }
    for (size_t i = 0; i < r.items; ++i)
        r.labels.push_back(int(i + 1));
    return r;
}

// The responses as CSV with NA for a missing answer, one row per person (weights expanded).
QString writeCsv(const QTemporaryDir& dir, const Responses& r) {
    const QString path = dir.filePath(QStringLiteral("responses.csv"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    QStringList head;
    for (size_t i = 0; i < r.items; ++i)
        head << QStringLiteral("I%1").arg(i + 1);
    f.write((head.join(',') + '\n').toUtf8());
    for (size_t p = 0; p < r.persons; ++p) {
        QStringList row;
        for (size_t i = 0; i < r.items; ++i)
            row << (r.at(p, i) == kMissing ? QStringLiteral("NA") : QString::number(r.at(p, i)));
        for (int w = 0; w < int(r.weight(p)); ++w)
            f.write((row.join(',') + '\n').toUtf8());
    }
    return path;
}

bool rHas(const char* packages) {
    if (QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty()) return false;
    QProcess r;
    r.start(QStringLiteral("Rscript"),
            {QStringLiteral("-e"),
             QStringLiteral("quit(status = !all(sapply(c(%1), requireNamespace, quietly = TRUE)))")
                 .arg(QLatin1String(packages))});
    return r.waitForFinished(60000) && r.exitCode() == 0;
}

// All thresholds of a calibration in item order, centred (the sum-zero identification).
std::vector<double> thresholds(const Calibration& c) {
    std::vector<double> t;
    for (const ItemFit& f : c.items)
        t.insert(t.end(), f.parameters.thresholds.begin(), f.parameters.thresholds.end());
    return t;
}

// Our CML against eRm and psychotools on the same answers: thresholds centred on both sides,
// conditional log-likelihoods as they are.
void compareWithR(const Responses& r, Model model) {
    if (!rHas("'eRm', 'psychotools'"))
        GTEST_SKIP()
            << "Rscript with eRm and psychotools is missing: scripts/deps.sh installs r-cran-erm and "
               "r-cran-psychotools";
    const Calibration ours = calibrate(r, model);
    QTemporaryDir dir;
    const QString csv = writeCsv(dir, r);
    // eRm's parameters are easiness (β = −difficulty), cumulative over an item's categories.
    const QString script =
        QStringLiteral(R"(
suppressMessages({ library(eRm); library(psychotools) })
d <- as.matrix(read.csv("%1"))
f <- function(v) paste(sprintf("%.12g", v), collapse = " ")
if (%2) {
  m <- RM(d, sum0 = TRUE); t <- -m$betapar
  p <- raschmodel(d); pt <- coef(itempar(p))
} else {
  m <- PCM(d, sum0 = TRUE); b <- -m$betapar
  item <- sub("^beta (.*)\\.c[0-9]+$", "\\1", names(b))
  t <- unlist(lapply(split(b, factor(item, levels = unique(item))), function(x) diff(c(0, x))))
  p <- pcmodel(d); pt <- unlist(coef(threshpar(p)))
}
cat("erm", f(t - mean(t)), "\n"); cat("ermll", f(m$loglik), "\n")
cat("pt", f(pt - mean(pt)), "\n"); cat("ptll", f(as.numeric(logLik(p))), "\n")
if (%2) cat("ptse", f(sqrt(diag(vcov(itempar(p))))), "\n")
fit <- itemfit(person.parameter(m))
cat("infit", f(fit$i.infitMSQ), "\n"); cat("outfit", f(fit$i.outfitMSQ), "\n")
)")
            .arg(csv, model == Model::Rasch ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    auto peer = roracle::run(script);
    const std::vector<double> t = thresholds(ours);
    ASSERT_EQ(peer["erm"].size(), t.size());
    ASSERT_EQ(peer["pt"].size(), t.size());
    for (size_t j = 0; j < t.size(); ++j) {
        EXPECT_NEAR(t[j], peer["erm"][j], 2e-4) << "threshold " << j;
        EXPECT_NEAR(t[j], peer["pt"][j], 2e-4) << "threshold " << j;
    }
    EXPECT_NEAR(ours.logLikelihood, peer["ermll"].at(0), 1e-3);
    for (size_t i = 0; i < ours.items.size(); ++i) {
        if (model == Model::Rasch) {
            EXPECT_NEAR(ours.items[i].thresholdSe[0], peer["ptse"].at(i), 1e-4) << "item " << i;
        }
        EXPECT_NEAR(ours.items[i].infit, peer["infit"].at(i), 1e-3) << "item " << i;
        EXPECT_NEAR(ours.items[i].outfit, peer["outfit"].at(i), 1e-3) << "item " << i;
    }
    EXPECT_NEAR(ours.logLikelihood, peer["ptll"].at(0), 1e-3);
}

std::vector<ItemParameters> raschItems(const std::vector<double>& b) {
    std::vector<ItemParameters> items;
    for (double v : b)
        items.push_back({1, {v}});
    return items;
}

TEST(IrtCml, RaschAgreesWithErmAndPsychotools) {
    // Simulated, with some answers missing (the likelihood groups persons by the items they answered).
    Responses r = simulate(400, raschItems({-1.5, -0.8, -0.3, 0, 0.4, 0.9, 1.3, 2.0}), 7, 0.05);
    compareWithR(r, Model::Rasch);
}

TEST(IrtCml, RaschOnCraftedAnswersAgreesWithR) {
    // Small and lopsided: zero and full scores (left out), one missing answer (five items:
    // psychotools needs three answered items besides a pair).
    const int8_t m = kMissing;
    Responses r;
    r.items = 5;
    r.scores = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0,
                1, 0, 1, 0, 0, 1, 1, 1, 0, 0, 1, m, 0, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0, 1, 0,
                0, 0, 0, 1, 1, 1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 0};
    r.persons = r.scores.size() / 5;
    const Calibration c = calibrate(r, Model::Rasch);
    EXPECT_EQ(c.personsExtreme, 2);
    EXPECT_EQ(c.personsWithMissing, 1);
    compareWithR(r, Model::Rasch);
}

TEST(IrtCml, PartialCreditAgreesWithErmAndPsychotools) {
    std::vector<ItemParameters> items{{1, {-1.2, 0.1, 0.9}},
                                      {1, {-0.5, 0.5}},
                                      {1, {-2, -0.4, 0.3}},
                                      {1, {0.2, 1.1}},
                                      {1, {-0.8, -0.1, 1.5}}};
    compareWithR(simulate(500, items, 11), Model::PartialCredit);
}

// Bock and Lieberman's LSAT section 6: five items, 1000 persons; the number of persons with
// each answer pattern (items 1..5, 00000 first) as published.
Responses lsat() {
    const int counts[32] = {3,  6,  2,  11, 1, 1,  3,  4,  1,  8,  0,  16,  0,  3,  2,  15,
                            10, 29, 14, 81, 3, 28, 15, 80, 16, 56, 21, 173, 11, 61, 28, 298};
    Responses r;
    r.items = 5;
    for (int p = 0; p < 32; ++p) {
        if (counts[p] == 0) continue;
        for (int i = 4; i >= 0; --i)
            r.scores.push_back(int8_t((p >> i) & 1));
        r.weights.push_back(counts[p]);
        ++r.persons;
    }
    return r;
}

TEST(IrtMml, TwoPlReproducesPublishedLsatResults) {
    const Responses r = lsat();
    double n = 0;
    for (double w : r.weights)
        n += w;
    ASSERT_EQ(n, 1000);
    ASSERT_EQ(r.persons, 30u);
    const Calibration c = calibrate(r, Model::TwoPl);
    EXPECT_NEAR(c.logLikelihood, -2466.653, 1e-3);
    const double a[] = {0.8253715, 0.7229499, 0.8904748, 0.6885502, 0.6574516};
    const double b[] = {-3.3597341, -1.3696497, -0.2798983, -1.8659189, -3.1235725};
    ASSERT_EQ(c.items.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(c.items[i].parameters.a, a[i], 1e-3) << "item " << i + 1;
        EXPECT_NEAR(c.items[i].parameters.thresholds[0], b[i], 3e-3) << "item " << i + 1;
        EXPECT_GT(c.items[i].aSe, 0);
        EXPECT_LT(c.items[i].aSe, 1);
    }
    EXPECT_LT(c.largestGradient, 1e-3);
}

TEST(IrtMml, TwoPlRecoversSimulatedParameters) {
    std::vector<ItemParameters> items;
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> a(0.8, 2.0), b(-1.8, 1.8);
    for (int i = 0; i < 20; ++i)
        items.push_back({a(gen), {b(gen)}});
    // Complete answers, and a tenth of them missing at random (the E-step then counts each
    // item's persons apart).
    for (double missing : {0.0, 0.1}) {
        SCOPED_TRACE(missing);
        const Calibration c = calibrate(simulate(2000, items, 3, missing), Model::TwoPl);
        ASSERT_EQ(c.items.size(), 20u);
        double sb = 0, sa = 0, inside = 0;
        for (size_t i = 0; i < 20; ++i) {
            const double db = c.items[i].parameters.thresholds[0] - items[i].thresholds[0];
            sb += db * db;
            sa += std::pow(c.items[i].parameters.a - items[i].a, 2);
            inside += std::abs(db) < 2 * c.items[i].thresholdSe[0];
        }
        EXPECT_LE(std::sqrt(sb / 20), 0.1);
        EXPECT_LE(std::sqrt(sa / 20), 0.15);
        EXPECT_GE(inside, 16) << "standard errors too small for the errors made";
    }
}

TEST(IrtBadInput, ConstantItemsAreLeftOutAndNamed) {
    Responses r = simulate(300, raschItems({-1, 0, 1, 0.5}), 2);
    r.labels = {11, 12, 13, 14};
    for (size_t p = 0; p < r.persons; ++p)
        r.scores[p * 4 + 2] = 1; // everybody right on question 13
    const Calibration c = calibrate(r, Model::Rasch);
    ASSERT_EQ(c.constantItems, std::vector<size_t>{2});
    EXPECT_EQ(c.items.size(), 3u);
    // With only it and one more item, nothing is left to calibrate; the message names it.
    Responses two = r;
    two.items = 2;
    two.scores.clear();
    for (size_t p = 0; p < r.persons; ++p)
        two.scores.insert(two.scores.end(), {int8_t(r.at(p, 0)), int8_t(r.at(p, 2))});
    two.labels = {11, 13};
    try {
        calibrate(two, Model::TwoPl);
        FAIL() << "calibrated one item";
    } catch (const AnalysisError& e) {
        EXPECT_NE(QString::fromStdString(e.what()).indexOf(QStringLiteral("вопрос 13")), -1) << e.what();
    }
}

TEST(IrtBadInput, PolytomousItemsNeedThePartialCreditModel) {
    Responses r = simulate(200, {{1, {0}}, {1, {-0.5, 0.5}}, {1, {0.3}}}, 4);
    r.labels = {5, 6, 7};
    try {
        calibrate(r, Model::Rasch);
        FAIL() << "Rasch took a three-level item";
    } catch (const AnalysisError& e) {
        EXPECT_NE(QString::fromStdString(e.what()).indexOf(QStringLiteral("вопрос 6")), -1) << e.what();
    }
    EXPECT_EQ(calibrate(r, Model::PartialCredit).items.size(), 3u);
}

TEST(IrtBadInput, IllConditionedAnswersDoNotConverge) {
    // Nobody who got question 3 or 4 right missed 1 or 2, yet no question is answered alike by
    // all: the conditional likelihood has no finite maximum, and the message says so.
    Responses r;
    r.items = 4;
    r.labels = {1, 2, 3, 4};
    for (const char* row : {"1000", "0100", "1100", "1110", "1101"})
        for (int copy = 0; copy < 10; ++copy) {
            for (int i = 0; i < 4; ++i)
                r.scores.push_back(int8_t(row[i] - '0'));
            ++r.persons;
        }
    try {
        calibrate(r, Model::Rasch);
        FAIL() << "estimates for ill-conditioned answers";
    } catch (const AnalysisError& e) {
        EXPECT_NE(QString::fromStdString(e.what()).indexOf(QStringLiteral("не сошлись")), -1) << e.what();
        EXPECT_NE(QString::fromStdString(e.what()).indexOf(QStringLiteral("вопросы")), -1) << e.what();
    }
}

} // namespace
