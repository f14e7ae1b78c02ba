#pragma once
#include <QString>

namespace db {
class Field;
}

namespace scoring {

// A number field of the current row as a whole number.
int number(const db::Field* f);

// The restriction of the answer and score rows to the current testee in the current test.
QString runFilter();

// Narrows the answer table to the answer set of the current question, in stored order, and
// stands on its first option; false, leaving the table alone, when the question names no set.
// The testing window and the scoring read a question's options through this one rule.
bool narrowToAnswerSet();

} // namespace scoring
