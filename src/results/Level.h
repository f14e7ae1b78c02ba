#pragma once
#include <QString>
#include <optional>

namespace db {
class Table;
}

namespace results {

// An interpretation range of a criterion: scores from min to max, both inclusive, are the level
// name, explained by text.
struct Level {
    QString name;
    double min = 0;
    double max = 0;
    QString text;
};

// The whole number a score is read as where its level is looked up: halves to the even neighbour.
int wholeScore(double score);

// Narrows analiz to the ranges of the test's criterion krit that hold ball; the table then
// stands on the first of them in stored order, the one that counts where ranges overlap.
void narrowToLevel(db::Table* analiz, int test, int krit, int ball);
// The level of a score: the row narrowToLevel stands on; nothing when no range holds it.
std::optional<Level> levelOf(db::Table* analiz, int test, int krit, int ball);

} // namespace results
