#pragma once
#include "results/Level.h"
#include "results/Run.h"
#include "results/Scoring.h"

#include <QDate>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace db {
class Table;
}

namespace results {

struct Institution {
    int number = 0;
    QString name, subdivision;
};

struct Testee {
    int org = 0;
    int number = 0;
    QString surname, name, patronymic, sex;
    std::optional<int> birthYear;
    QString education; // the dictionary's text of the education code
    // Surname, name and patronymic; empty when none is stored.
    QString fullName() const;
};

struct TestInfo {
    int number = 0;
    QString name;
    int criteria = 0; // KOLKRIT; 0 when not stored
};

// The first live row of the test in bd_test of the database (a folder or a server), read in one
// pass (for the analyses and the export, which read the other tables so too); nothing when the
// test is not there.
std::optional<TestInfo> findTest(const QString& database, int number);
// What the user is told of a test that is not there.
QString noSuchTest(int number);

// One criterion of a run: its score (nothing when the run has no score row of it) and the level
// whose range holds the score (nothing when none does).
struct CriterionResult {
    int krit = 0;
    std::optional<double> score; // as stored; its level is that of the nearest whole number
    std::optional<Level> level;
};

// One question of a run and what was chosen; no choice when it was not answered.
struct AnswerResult {
    int question = 0;
    QString text;
    std::optional<Choice> choice;
};

struct RunResult {
    RunKey key;
    QDate date; // of the score rows; of the answer rows when not scored; null without either
    std::vector<CriterionResult> criteria;
    std::vector<AnswerResult> answers; // in the test's question order, when asked for
    bool scored() const;
};

// Reading the stored runs through tables of its own, so that reading never moves
// the cursors or filters the windows stand on. Opens the tables of alias on construction.
class Archive {
public:
    explicit Archive(const QString& alias = QStringLiteral("morv"));
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // The database folder the alias names.
    QString directory() const;

    std::optional<Institution> institution(int org);
    std::optional<Testee> testee(int org, int number);
    // The testees of an institution in number order.
    std::vector<Testee> testees(int org);
    std::optional<TestInfo> test(int number);

    // A run: one entry per criterion 1..KOLKRIT of the test, and, with answers, one per question.
    RunResult run(const RunKey& key, bool withAnswers);
    // The tests a testee has answer or score rows of, as runs with scores; newest first.
    std::vector<RunResult> history(int org, int testee);
    // The scored runs of a test in an institution, one per testee, in testee number order.
    // progress(done, total) runs now and then; returning false stops and gives what was read.
    std::vector<RunResult> group(int org, int test, const std::function<bool(int, int)>& progress = {});

private:
    struct Tables;
    QString alias_;
    std::unique_ptr<Tables> t_;
    QDate runDate(const RunKey& key);
};

} // namespace results
