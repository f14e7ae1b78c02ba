#pragma once
#include "results/Run.h"

namespace db {
class Field;
}

namespace scoring {

// A number field of the current row as a whole number.
int number(const db::Field* f);

// The current institution, testee and test of the data module.
results::RunKey currentRun();

// The restriction of the answer and score rows to the current testee in the current test.
QString runFilter();

// The answer set of the current question, through the one rule the testing window and the
// scoring share.
bool narrowToAnswerSet();

} // namespace scoring
