#pragma once
#include "results/Run.h"

#include <QDate>
#include <QString>
#include <functional>
#include <optional>

namespace db {
class Field;
class Table;
} // namespace db

namespace results {

// The tables a run is read and scored from, the program's own or a report's; they must be open.
// The answer and question tables are expected narrowed to the run and its test.
class RunTables {
public:
    RunTables(db::Table* vopros, db::Table* otvet, db::Table* rezult, db::Table* summa, db::Table* rez);

    db::Table *vopros, *otvet, *rezult, *summa, *rez;
    db::Field *voprosNVOPR, *voprosNOTV, *otvetOTVET, *otvetBOTVET, *rezultNOMVOPR, *rezultOTVET,
        *summaSUMVOPR, *rezKRIT, *rezBALL;
};

// The option a testee chose for a question: its 0-based place in the answer set as stored, its
// text and its points.
struct Choice {
    int index = 0;
    QString text;
    int points = 0;
};

// The place in its answer set (0-based) of a stored choice: none for a blank or negative one,
// or for a set without options; a number past the last option is the last option.
std::optional<size_t> optionPlace(std::optional<int64_t> stored, size_t options);

// The option chosen for a question, or nothing: no answer row, no choice, a number that is no
// question of the test, or a question without an answer set. An index past the last option
// counts as the last option. Moves the cursors of the answer, question and option tables.
std::optional<Choice> chosenOption(const RunTables& t, int question);
// Its points; nothing chosen adds nothing.
int answerPoints(const RunTables& t, int question);

// Scores run: narrows the questions to the test and the answer and score rows to the run, then
// for each criterion 1..criteria sums the points of every key row's question and stores the sum
// in the criterion's score row (a new row is dated today; an existing one keeps its date).
// onKeyRow runs once per key row summed. A score that cannot be stored is dropped again and the
// error goes on.
void scoreRun(const RunTables& t, const RunKey& run, int criteria, const QDate& today,
              const std::function<void()>& onKeyRow = {});

// The score of criterion krit among the score rows in rez's view (narrowed to a run), as a whole
// number; nothing without a row of that criterion.
std::optional<double> scoreOf(const RunTables& t, int krit);

} // namespace results
