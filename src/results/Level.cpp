#include "results/Level.h"

#include "dataset/Table.h"
#include "results/Run.h"

namespace results {

int wholeScore(double score) {
    return int(db::roundHalfEven(score));
}

void narrowToLevel(db::Table* analiz, int test, int krit, int ball) {
    analiz->filterBy(levelFilter(test, krit, ball));
}

std::optional<Level> levelOf(db::Table* analiz, int test, int krit, int ball) {
    narrowToLevel(analiz, test, krit, ball);
    if (analiz->isEmpty()) return std::nullopt;
    auto bound = [&](const char* name) {
        const db::Variant v = analiz->fieldValue(QString::fromLatin1(name));
        return v.isNull() ? 0.0 : v.toDouble();
    };
    Level l;
    l.name = analiz->fieldValue(QStringLiteral("UROV")).toString().trimmed();
    l.min = bound("MIN");
    l.max = bound("MAX");
    l.text = analiz->fieldValue(QStringLiteral("TEXT")).toString();
    return l;
}

} // namespace results
