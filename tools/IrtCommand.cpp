#include "IrtCommand.h"

#include "ReadDatabase.h"
#include "dataset/RecordStore.h"
#include "psychometrics/irt/Bank.h"
#include "psychometrics/irt/Cat.h"

#include <QFileInfo>
#include <cstdio>
#include <map>
#include <optional>

const char kIrtUsage[] =
    R"(  irt DIR --test N --criterion K --model rasch|2pl|pcm
                         item response calibration of criterion K's items from the
                         stored runs, as CSV: a line per item (discrimination,
                         difficulty or thresholds, standard errors, infit, outfit),
                         a line per item left out, summary lines (runs used, log-
                         likelihood, iterations, largest gradient) and the test
                         information and standard error at θ = −4..4; Rasch and
                         pcm by conditional ML, 2pl by marginal ML (EM, 21 nodes)
  irt ... --store        also stores the calibration as the criterion's item bank,
                         replacing its earlier parameters (all or nothing)
  cat-simulate DIR --test N --criterion K [--persons 1000] [--se 0.3] [--seed S]
                         simulated adaptive runs over the stored item bank (θ from
                         N(0,1), EAP, most informative question, randomesque among
                         the best 5): mean questions, correlation and RMSE of true
                         and estimated θ, exposure of the most used question, and
                         the same for the whole bank as a fixed test, as CSV
)";

namespace {

// Randomesque among this many: spreads exposure at little cost in length.
constexpr int kRandomesque = 5;

using namespace psychometrics::irt;

int usage(const QString& why) {
    std::fputs(("morv-db: " + why + "\nmorv-db: run 'morv-db --help' for usage\n").toUtf8().constData(),
               stderr);
    return 2;
}

QString num(double v) {
    return QString::number(v, 'g', 10);
}

QString nums(const std::vector<double>& v) {
    QStringList s;
    for (double x : v)
        s << num(x);
    return s.join(QLatin1Char(';'));
}

void line(const QStringList& cells) {
    std::fputs((cells.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

void summary(int krit, const QString& name, const QString& value) {
    line({QStringLiteral("summary"), QString::number(krit), {}, {}, {}, {}, {}, {}, {}, {}, {}, name, value});
}

const std::map<QString, Model> kModels{{QStringLiteral("rasch"), Model::Rasch},
                                       {QStringLiteral("2pl"), Model::TwoPl},
                                       {QStringLiteral("pcm"), Model::PartialCredit}};

void print(const CriterionCalibration& c, const QString& modelName) {
    const Calibration& f = c.fit;
    const QString k = QString::number(c.krit);
    line({"kind", "krit", "question", "a", "a_se", "b", "b_se", "thresholds", "thresholds_se", "infit",
          "outfit", "name", "value"});
    for (const ItemFit& it : f.items) {
        const auto& t = it.parameters.thresholds;
        double mean = 0;
        for (double v : t)
            mean += v / double(t.size());
        const bool one = t.size() == 1;
        line({QStringLiteral("item"),
              k,
              QString::number(c.questions[it.column]),
              num(it.parameters.a),
              f.model == Model::TwoPl ? num(it.aSe) : QString(),
              num(mean),
              one ? num(it.thresholdSe[0]) : QString(),
              nums(t),
              nums(it.thresholdSe),
              num(it.infit),
              num(it.outfit),
              {},
              {}});
    }
    for (size_t col : f.constantItems)
        line({QStringLiteral("left_out"),
              k,
              QString::number(c.questions[col]),
              {},
              {},
              {},
              {},
              {},
              {},
              {},
              {},
              QStringLiteral("reason"),
              QStringLiteral("same score for every run used")});
    summary(c.krit, QStringLiteral("model"), modelName);
    summary(c.krit, QStringLiteral("method"),
            f.model == Model::TwoPl ? QStringLiteral("marginal ML; EM; Gauss-Hermite 21 nodes")
                                    : QStringLiteral("conditional ML; Newton-Raphson"));
    summary(c.krit, QStringLiteral("runs"), QString::number(c.runs));
    summary(c.krit, QStringLiteral("runs_used"), num(f.personsUsed));
    summary(c.krit, QStringLiteral("runs_extreme_left_out"), num(f.personsExtreme));
    summary(c.krit, QStringLiteral("runs_with_missing_items"), num(f.personsWithMissing));
    summary(c.krit, QStringLiteral("items_used"), QString::number(f.items.size()));
    summary(c.krit, QStringLiteral("items_left_out"), QString::number(f.constantItems.size()));
    summary(c.krit,
            f.model == Model::TwoPl ? QStringLiteral("marginal_loglik")
                                    : QStringLiteral("conditional_loglik"),
            num(f.logLikelihood));
    summary(c.krit, QStringLiteral("iterations"), QString::number(f.iterations));
    summary(c.krit, QStringLiteral("largest_gradient"), num(f.largestGradient));
    for (const CurvePoint& p : informationCurve(f.parameters(), -4, 4, 17)) {
        line({QStringLiteral("information"),
              k,
              {},
              {},
              {},
              {},
              {},
              {},
              {},
              {},
              {},
              num(p.theta),
              num(p.information)});
        line({QStringLiteral("se"), k, {}, {}, {}, {}, {}, {}, {}, {}, {}, num(p.theta), num(p.se)});
    }
}

// The options irt and cat-simulate share, and the numbers cat-simulate takes.
struct Arguments {
    QString dir, modelName;
    std::optional<int> test, krit, persons, seed;
    std::optional<double> se;
    bool store = false;
};

// Empty when the arguments are well formed, else why not.
QString parse(const QStringList& args, const QString& command, bool simulate, Arguments& out) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString name = a.section(QLatin1Char('='), 0, 0);
        const auto value = [&]() {
            return a.contains(QLatin1Char('=')) ? a.section(QLatin1Char('='), 1)
                   : i + 1 < args.size()        ? args[++i]
                                                : QString();
        };
        std::optional<int>* whole = name == QLatin1String("--test")                  ? &out.test
                                    : name == QLatin1String("--criterion")           ? &out.krit
                                    : simulate && name == QLatin1String("--persons") ? &out.persons
                                    : simulate && name == QLatin1String("--seed")    ? &out.seed
                                                                                     : nullptr;
        if (whole) {
            const QString v = value();
            bool ok = false;
            *whole = v.toInt(&ok);
            if (!ok) return QStringLiteral("%1 needs a whole number, not '%2'").arg(name, v);
        } else if (simulate && name == QLatin1String("--se")) {
            const QString v = value();
            bool ok = false;
            out.se = v.toDouble(&ok);
            if (!ok || !(*out.se > 0)) return QStringLiteral("--se needs a positive number, not '%1'").arg(v);
        } else if (!simulate && name == QLatin1String("--model")) {
            out.modelName = value().toLower();
            if (!kModels.count(out.modelName))
                return QStringLiteral("--model is rasch, 2pl or pcm, not '%1'").arg(out.modelName);
        } else if (!simulate && a == QLatin1String("--store")) {
            out.store = true;
        } else if (a.startsWith(QLatin1Char('-'))) {
            return QStringLiteral("unknown option '%1' for %2").arg(a, command);
        } else if (out.dir.isEmpty()) {
            out.dir = a;
        } else {
            return QStringLiteral("%1 takes only DIR; unexpected '%2'").arg(command, a);
        }
    }
    return {};
}

bool noFolder(const QString& dir) {
    if (db::isServerLocation(dir) || QFileInfo(dir).isDir()) return false;
    std::fputs(("morv-db: " + dir + ": no such directory\n").toUtf8().constData(), stderr);
    return true;
}

} // namespace

int irtCommand(const QStringList& args) {
    Arguments a;
    if (const QString why = parse(args, QStringLiteral("irt"), false, a); !why.isEmpty()) return usage(why);
    if (a.dir.isEmpty() || !a.test || !a.krit || a.modelName.isEmpty())
        return usage(QStringLiteral("irt needs DIR, --test N, --criterion K and --model rasch|2pl|pcm"));
    if (noFolder(a.dir)) return 1;
    const QString database = readableDatabase(a.dir);
    const CriterionCalibration c = calibrateStoredRuns(database, *a.test, *a.krit, kModels.at(a.modelName));
    print(c, a.modelName);
    if (a.store) {
        storeBank(database, bankOf(c));
        summary(c.krit, QStringLiteral("stored"), QString::number(c.fit.items.size()));
    }
    return 0;
}

int catSimulateCommand(const QStringList& args) {
    Arguments a;
    if (const QString why = parse(args, QStringLiteral("cat-simulate"), true, a); !why.isEmpty())
        return usage(why);
    if (a.dir.isEmpty() || !a.test || !a.krit)
        return usage(QStringLiteral("cat-simulate needs DIR, --test N and --criterion K"));
    if (a.persons && *a.persons < 2) return usage(QStringLiteral("--persons needs at least 2"));
    if (noFolder(a.dir)) return 1;
    const Bank bank = readBank(readableDatabase(a.dir), *a.test, *a.krit);
    if (bank.items.empty()) {
        std::fprintf(stderr,
                     "morv-db: test %d criterion %d has no stored item bank: run 'morv-db irt DIR --test %d "
                     "--criterion %d --model M --store' first\n",
                     *a.test, *a.krit, *a.test, *a.krit);
        return 1;
    }
    CatOptions o;
    o.seTarget = a.se.value_or(0.3);
    o.randomesque = kRandomesque;
    const SimulationResult r =
        simulateCat(bank.parameters(), a.persons.value_or(1000), o, uint64_t(a.seed.value_or(1)));
    std::printf("design,persons,mean_questions,correlation,rmse,max_exposure\n");
    std::printf("adaptive,%d,%.4f,%.4f,%.4f,%.4f\n", r.persons, r.meanLength, r.correlation, r.rmse,
                r.maxExposure);
    std::printf("fixed,%d,%d,%.4f,%.4f,1\n", r.persons, r.fixedLength, r.fixedCorrelation, r.fixedRmse);
    return 0;
}
