#pragma once
#include "results/Run.h"

#include <QDate>
#include <cstdint>
#include <utility>
#include <vector>

namespace db {
class Table;
}

// The write side of a run: the rules the desktop testing and scoring windows and the browser
// test server share, over whichever tables they pass (the program's shared ones or their own).
namespace services {

// The fields that identify an answer row, in the order answerRow takes their values.
extern const char* const kAnswerKey;

// The answer row of a question of run, found among every stored row whatever the table's
// filter, or made with answer and dated today; one step under the append lock, so another
// workstation or the server showing the question at the same moment makes no second row.
// *made says which.
uint32_t answerRow(db::Table* rezult, const results::RunKey& run, int question, int answer,
                   const QDate& today, bool* made = nullptr);

// answerRow for a group of questions in one step: the rows none has are appended together, with
// one sync of the table and one of its index. answers[i] goes into a row made for shown[i];
// (*made)[i] says whether it was.
std::vector<uint32_t> answerRows(db::Table* rezult, const std::vector<std::pair<results::RunKey, int>>& shown,
                                 const std::vector<int>& answers, const QDate& today,
                                 std::vector<bool>* made = nullptr);

// The option a stored answer row selects, -1 for none.
int storedChoice(const db::Table* rezult, uint32_t rec);

// Stores chosen in answer row rec (written and synced when it returns). A refused write throws
// with the data layer's message and leaves the row as it was.
void recordChoice(db::Table* rezult, uint32_t rec, int chosen);

// The completeness check: the question numbers first..last that have no choice among the answer
// rows in rezult's view (narrowed to one run): no row, or a row that holds -1.
std::vector<int> unanswered(db::Table* rezult, int first, int last);

} // namespace services
