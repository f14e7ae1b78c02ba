#pragma once
#include "results/Archive.h"
#include "results/Run.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace db {
class Table;
}

namespace services {

// A test as it is administered: its questions in stored order with their options.
struct TestOutline {
    struct Item {
        int number = 0; // NVOPR
        QString text;
        int set = 0;     // NOTV; options empty when the question names no set
        int columns = 1; // KOL
        QStringList options;
    };
    int number = 0;
    QString name;
    int criteria = 0;
    std::vector<Item> items;
    // The last stored question's number: the count the testing window shows ("из N").
    int last() const { return items.empty() ? 0 : items.back().number; }
    // Index into items of question number, -1 when the test has no such question.
    int indexOf(int question) const;
};

// One question of a run as shown: the item, its place among the questions (1-based) and the
// option stored for it (-1 for none).
struct ShownQuestion {
    const TestOutline::Item* item = nullptr;
    int place = 0;
    int chosen = -1;
};

// The completeness check of a run over the stored questions first..last.
struct Completeness {
    int first = 0, last = 0;
    std::vector<int> missing;
    bool complete() const { return missing.empty(); }
};

// A testee as the browser registers one.
struct NewTestee {
    QString surname, name, patronymic, sex;
    int birthYear = 0;
    int education = 0; // a code of the education dictionary; 0 for none
};

// One choice of a group written at once (chooseMany).
struct PendingChoice {
    results::RunKey run;
    int question = 0;
    int option = 0;
    QString error; // empty when stored
};

// The write side of runs through tables of its own (the windows' cursors and filters stay as
// they are), for the browser test server and the tools. Opens the tables of alias; the thread
// that made it is the only one that may use it.
class RunService {
public:
    explicit RunService(const QString& alias = QStringLiteral("morv"));
    ~RunService();
    RunService(const RunService&) = delete;
    RunService& operator=(const RunService&) = delete;

    // The test read once; throws when there is no such test or it has no questions.
    const TestOutline& outline(int test);
    // Shows question (its answer row found or made with -1, as the testing window does).
    ShownQuestion show(const results::RunKey& run, int question);
    // The question and its stored choice, without making its row: a server that shows many
    // questions at once makes their rows together afterwards (makeRows).
    ShownQuestion look(const results::RunKey& run, int question);
    // Makes the answer rows (with -1) of shown questions that have none, with one sync for all.
    void makeRows(const std::vector<std::pair<results::RunKey, int>>& shown);
    // Stores option for question; throws with the reason when the option or question is not the
    // test's, or the write is refused.
    void choose(const results::RunKey& run, int question, int option);
    // Stores a group of choices with one sync for those whose rows exist: each is on disk when
    // this returns without an error of its own.
    void chooseMany(std::vector<PendingChoice>& batch);
    Completeness check(const results::RunKey& run);
    // Scores a complete run as the scoring dialog does; the scores of criteria 1..K.
    std::vector<int> score(const results::RunKey& run);
    // The level names of scores of criteria 1..K of test; empty where no range holds the score.
    std::vector<QString> levelNames(int test, const std::vector<int>& scores);
    // Questions of the test with a stored choice.
    int answered(const results::RunKey& run);
    // The date of the run's score rows; nothing when it has none.
    std::optional<QDate> scoredOn(const results::RunKey& run);

    // Registers a testee of institution org with the next number (unique under the append
    // lock, as the testee window numbers); returns the number stored.
    int registerTestee(int org, const NewTestee& t);
    // The education dictionary: code and text, in its order.
    std::vector<std::pair<int, QString>> educations();
    std::optional<results::Testee> testee(int org, int number);
    std::optional<results::Institution> institution(int org);
    // Opens again the tables an erasure wrote anew meanwhile, so that the next step writes to
    // the tables in the folder; a table rewritten with other fields stays refused.
    bool reopenReplaced(); // true when any was

private:
    struct Tables;
    std::unique_ptr<Tables> t_;
    std::map<int, TestOutline> outlines_;
    const TestOutline::Item& itemOf(const results::RunKey& run, int question, int* index = nullptr);
};

} // namespace services
