#pragma once
#include "Sheet.h"

#include <QString>
#include <optional>
#include <vector>

// The research data of one test, read from the database directory: one row per tested testee.
namespace exporting {

enum class Content {
    Scores,          // each criterion's score and level
    AnswerPositions, // each question's chosen option, counted from 1
    AnswerPoints,    // each question's points of the chosen option
};

struct Request {
    int test = 0;
    std::optional<int> org; // every institution when empty
    Content content = Content::Scores;
    // Without personal data: surname, name and patronymic give way to a code "institution-testee",
    // and the year of birth is left out unless birthYear says to keep it.
    bool anonymous = false;
    bool birthYear = false;
};

// The runs of a test in the database, a folder or a server. Throws ExportError for a test or
// institution that is not there, or a test nobody took there.
Sheet collect(const QString& database, const Request& request, const Progress& progress = {});

struct TestEntry {
    int number = 0;
    QString name;
};
// The tests of the database in stored order, for choosing one.
std::vector<TestEntry> tests(const QString& database);

} // namespace exporting
