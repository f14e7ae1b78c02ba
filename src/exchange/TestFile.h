#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>
#include <vector>

// One test of the catalogue as one file: everything that makes it, with the numbers it had where
// it came from. Importing gives it numbers of the database it goes into.
namespace exchange {

struct Option {
    QString text;
    double points = 0;
};

// Options in the order the testee sees them; an answer is the position in this order.
struct AnswerSet {
    int number = 0;
    std::vector<Option> options;
};

struct Question {
    int number = 0;
    QString text;
    int answerSet = 0;
    int columns = 1;
};

struct Level {
    QString name;
    double min = 0, max = 0;
    QString text;
};

struct Criterion {
    int number = 0;
    std::vector<int> questions; // the key: whose points add up to this criterion's score
    std::vector<Level> levels;
};

// One stored row of the test's norms, as the norms table holds it.
struct NormRow {
    int criterion = 0;
    QString sex;
    std::optional<int> ageFrom, ageTo;
    std::optional<double> mean, sd, count, score, percentile;
};

struct Licence {
    QString author, source, terms;
    bool noPassingOn = false; // the terms forbid passing the test on
};

struct TestFile {
    int type = 0;
    int number = 0;
    QString name, description;
    int criterionCount = 0;
    std::vector<Question> questions;   // in order
    std::vector<AnswerSet> answerSets; // those the questions use, each once
    std::vector<Criterion> criteria;   // by number
    std::vector<NormRow> norms;
    std::optional<Licence> licence;
};

// A file or test refused: the message says, in Russian, what is wrong and where.
class ExchangeError : public std::runtime_error {
public:
    explicit ExchangeError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

inline constexpr char kFormat[] = "morvanta-test";
inline constexpr int kVersion = 1;
// Larger files are refused unread: no test of the catalogue comes near it.
inline constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

// The file's bytes: UTF-8 JSON, keys sorted, indented, with a SHA-256 of its canonical body.
QByteArray write(const TestFile& test);
// Reads a file strictly: wrong format, a later version, a checksum that does not match, text
// that is not UTF-8, an unknown or missing field, a value of the wrong kind: all refused.
TestFile read(const QByteArray& bytes);
// The checksum of a document's canonical body (compact JSON with sorted keys, without the
// checksum itself): "sha256:" and 64 hex digits.
QByteArray checksumOf(const QByteArray& canonicalBody);

} // namespace exchange
