#include "AnalyseCommand.h"

#include "ReadDatabase.h"
#include "dataset/RecordStore.h"
#include "psychometrics/ItemAnalysis.h"

#include <QFileInfo>
#include <cstdio>

const char kAnalyseUsage[] =
    R"(  analyse DIR --test N   item analysis of test N from its stored runs, as CSV: a line
                         per criterion (complete runs used, runs left out for a
                         missing item, Cronbach's alpha, standardized alpha, whether
                         alpha is KR-20) and a line per item of its key (mean, SD,
                         corrected item-total correlation, alpha if dropped, flag);
                         DIR may be a postgresql:// URL
)";

namespace {

int usage(const QString& why) {
    std::fputs(("morv-db: " + why + "\nmorv-db: run 'morv-db --help' for usage\n").toUtf8().constData(),
               stderr);
    return 2;
}

QString num(const std::optional<double>& v) {
    return v ? QString::number(*v, 'g', 12) : QString();
}

void line(const QStringList& cells) {
    std::fputs((cells.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

} // namespace

int analyseCommand(const QStringList& args) {
    QString dir;
    std::optional<int> test;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--test") || a.startsWith(QLatin1String("--test="))) {
            const QString v = a.contains(QLatin1Char('=')) ? a.section(QLatin1Char('='), 1)
                              : i + 1 < args.size()        ? args[++i]
                                                           : QString();
            bool ok = false;
            test = v.toInt(&ok);
            if (!ok) return usage(QStringLiteral("--test needs a whole number, not '%1'").arg(v));
        } else if (a.startsWith(QLatin1Char('-'))) {
            return usage(QStringLiteral("unknown option '%1' for analyse").arg(a));
        } else if (dir.isEmpty()) {
            dir = a;
        } else {
            return usage(QStringLiteral("analyse takes only DIR; unexpected '%1'").arg(a));
        }
    }
    if (dir.isEmpty() || !test) return usage(QStringLiteral("analyse needs DIR and --test N"));
    if (!db::isServerLocation(dir) && !QFileInfo(dir).isDir()) {
        std::fputs(("morv-db: " + dir + ": no such directory\n").toUtf8().constData(), stderr);
        return 1;
    }
    const psychometrics::TestAnalysis t = psychometrics::analyseTest(readableDatabase(dir), *test);
    line({"kind", "krit", "question", "weight", "n", "left_out", "alpha", "std_alpha", "kr20", "mean", "sd",
          "r_drop", "alpha_if_dropped", "flag"});
    for (const psychometrics::CriterionAnalysis& c : t.criteria) {
        const auto& s = c.scale;
        line({QStringLiteral("criterion"),
              QString::number(c.krit),
              {},
              {},
              QString::number(c.complete),
              QString::number(c.leftOut),
              num(s.alpha),
              num(s.standardizedAlpha),
              s.dichotomous && s.alpha ? QStringLiteral("1") : QStringLiteral("0"),
              num(s.totalMean),
              num(s.totalSd),
              {},
              {},
              {}});
        for (size_t i = 0; i < c.items.size(); ++i) {
            const psychometrics::Item& it = c.items[i];
            line({QStringLiteral("item"),
                  QString::number(c.krit),
                  QString::number(it.question),
                  QString::number(it.weight),
                  QString::number(c.complete),
                  {},
                  {},
                  {},
                  {},
                  num(it.figures.mean),
                  num(it.figures.sd),
                  num(it.figures.itemRest),
                  num(it.figures.alphaIfDropped),
                  c.flagged(i) ? QStringLiteral("1") : QStringLiteral("0")});
        }
    }
    return 0;
}
