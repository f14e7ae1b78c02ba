#include "IrtCommand.h"

#include "ReadDatabase.h"
#include "dataset/RecordStore.h"
#include "psychometrics/irt/StoredRuns.h"

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
)";

namespace {

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

} // namespace

int irtCommand(const QStringList& args) {
    QString dir, modelName;
    std::optional<int> test, krit;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&]() {
            return a.contains(QLatin1Char('=')) ? a.section(QLatin1Char('='), 1)
                   : i + 1 < args.size()        ? args[++i]
                                                : QString();
        };
        if (a == QLatin1String("--test") || a.startsWith(QLatin1String("--test=")) ||
            a == QLatin1String("--criterion") || a.startsWith(QLatin1String("--criterion="))) {
            const bool isTest = a.startsWith(QLatin1String("--test"));
            const QString v = value();
            bool ok = false;
            (isTest ? test : krit) = v.toInt(&ok);
            if (!ok)
                return usage(
                    QStringLiteral("%1 needs a whole number, not '%2'").arg(a.section('=', 0, 0), v));
        } else if (a == QLatin1String("--model") || a.startsWith(QLatin1String("--model="))) {
            modelName = value().toLower();
            if (!kModels.count(modelName))
                return usage(QStringLiteral("--model is rasch, 2pl or pcm, not '%1'").arg(modelName));
        } else if (a.startsWith(QLatin1Char('-'))) {
            return usage(QStringLiteral("unknown option '%1' for irt").arg(a));
        } else if (dir.isEmpty()) {
            dir = a;
        } else {
            return usage(QStringLiteral("irt takes only DIR; unexpected '%1'").arg(a));
        }
    }
    if (dir.isEmpty() || !test || !krit || modelName.isEmpty())
        return usage(QStringLiteral("irt needs DIR, --test N, --criterion K and --model rasch|2pl|pcm"));
    if (!db::isServerLocation(dir) && !QFileInfo(dir).isDir()) {
        std::fputs(("morv-db: " + dir + ": no such directory\n").toUtf8().constData(), stderr);
        return 1;
    }
    const CriterionCalibration c =
        calibrateStoredRuns(readableDatabase(dir), *test, *krit, kModels.at(modelName));
    print(c, modelName);
    return 0;
}
