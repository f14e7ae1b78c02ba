#include "results/Run.h"

#include "dataset/Table.h"

namespace results {

QString runFilter(const RunKey& run) {
    return QStringLiteral("NOMU=%1 and NOMTESTIR=%2 and NOMTESTA=%3")
        .arg(run.org)
        .arg(run.testee)
        .arg(run.test);
}

QString questionsFilter(int test) {
    return QStringLiteral("NTEST=") + QString::number(test);
}

QString testKeyFilter(int test) {
    return QStringLiteral("NOMTESTA=%1").arg(test);
}

QString levelFilter(int test, int krit, int ball) {
    return QStringLiteral("NOMTESTA=%1 and KRIT=%2 and MIN<=%3 and MAX>=%3").arg(test).arg(krit).arg(ball);
}

QString answerSetFilter(int set) {
    return QStringLiteral("NOMOTV=") + QString::number(set);
}

bool isAnswer(const db::Variant& otvet) {
    return !otvet.isNull() && otvet.toInt() != -1;
}

bool narrowToAnswerSet(db::Table* otvet, const db::Variant& set) {
    if (set.isNull()) return false;
    const QString filter = answerSetFilter(int(set.toInt()));
    // Refiltering is a rebuild of the view; most questions share their set with the one before.
    if (otvet->filtered() && otvet->filter() == filter)
        otvet->first();
    else
        otvet->filterBy(filter);
    return true;
}

} // namespace results
