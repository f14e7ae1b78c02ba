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

} // namespace scoring
