#pragma once
#include "TestFile.h"

#include <map>

// A test of a database (a folder or a server) read whole, and a test written into one.
namespace exchange {

// The test numbered number, with its questions, the answer sets they use, its key, levels,
// norms and licence. Throws ExchangeError when there is no such test.
TestFile readTest(const QString& database, int number);

// The licence of a test, when the database keeps one for it.
std::optional<Licence> readLicence(const QString& database, int number);

// What may be passed on of a test whose terms forbid passing it on: its shape (questions, answer
// sets, criteria) without the texts, points, key, levels and norms its authors own.
TestFile structureOnly(TestFile test);

// Refused because the database already has a test of that name; the psychologist decides.
class SameNameError : public ExchangeError {
public:
    SameNameError(const QString& message, int existing) : ExchangeError(message), existing_(existing) {}
    int existing() const { return existing_; }

private:
    int existing_;
};

struct Imported {
    int number = 0;                // the test's number in this database
    std::map<int, int> answerSets; // the file's answer-set number → the one given here
    QStringList notes;             // what the psychologist should know (a test type missing here)
};

// Checks the test, then writes it in one step: the next free test number, answer sets
// renumbered where their numbers are taken here, everything or nothing (a failure puts the
// tables back as they were). A test of the same name is refused with SameNameError unless
// asNew. Two workstations importing at once get two numbers.
Imported importTest(const QString& database, const TestFile& test, bool asNew);

} // namespace exchange
