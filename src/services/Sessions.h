#pragma once
#include <QByteArray>
#include <QDate>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

// Browser testing sessions and their codes, stored in two tables of the database folder (made on
// first use), so a session outlives the program that opened it.
namespace services {

struct Session {
    int id = 0;
    int test = 0;
    int org = 0;
    QString groupCode; // empty: no registration from the browser
    bool open = false;
    bool showScore = false;
    QDate date;
};

struct CodeEntry {
    int session = 0;
    int org = 0;
    int testee = 0;
    QString code;
};

// The characters of a code: no two that a pupil could take for each other (0/O, 1/I/L, 2/Z,
// 5/S, 8/B, U/V are left out).
extern const char kCodeAlphabet[];
constexpr int kCodeLength = 6;
// A new code from the system's random source.
QString makeCode();
// A code as typed: blanks and dashes dropped, capitals, Cyrillic letters that look like Latin
// ones read as those; empty when the result is no code.
QString normalizeCode(const QString& typed);

class Sessions {
public:
    // dir is the database folder, alias the alias bound to it.
    Sessions(const QString& dir, const QString& alias);
    ~Sessions();
    Sessions(const Sessions&) = delete;
    Sessions& operator=(const Sessions&) = delete;

    // Opens a session of test for institution org, with a personal code for each testee and a
    // group code when group is set.
    Session create(int test, int org, const std::vector<int>& testees, bool group, bool showScore);
    void setOpen(int id, bool open);
    std::optional<Session> session(int id);
    // Whether the session is open as stored this moment (its row read again): another program
    // may have closed it a moment ago.
    bool openNow(int id);
    std::vector<Session> all();
    std::vector<CodeEntry> codes(int session);
    // The testee's code in the session, made when the testee has none.
    QString addCode(int session, int org, int testee);
    // A new code for the testee in the session; the old one stops working.
    QString renewCode(int session, int org, int testee);
    // The entry of a code of an open session.
    std::optional<CodeEntry> findCode(const QString& code);
    // The open session with this group code.
    std::optional<Session> findGroupCode(const QString& code);
    // The key every test server of this database signs its cookies and page tokens with: made
    // once, by whichever server needs it first.
    QByteArray serverKey();
    // Stores mark as the device that answers the testee's run of the session (empty: none).
    void setOwner(int session, int org, int testee, const QString& mark);
    // The device that answers the run, as stored this moment (empty: none).
    QString ownerNow(int session, int org, int testee);
    // A registration from the browser whose device has mark: true for the first of its forms,
    // whichever server it reached; a second (a double click, a form sent again) finds the first.
    bool claimRegistration(int session, int org, const QString& mark);
    // The claimed registration made testee, whom the device now answers (0: it came to nothing).
    void settleRegistration(int session, const QString& mark, int testee);
    // Opens again the tables an erasure wrote anew meanwhile.
    void reopenReplaced();
    // Reads the tables again (another process may have opened or closed a session).
    void refresh();

private:
    struct Tables;
    std::unique_ptr<Tables> t_;
    std::map<int, int64_t> sessionRows_; // session number → its record, as last found
    std::map<std::tuple<int, int, int>, int64_t> ownerRows_;
    int64_t ownerRow(int session, int org, int testee);
    QString uniqueCode();
};

} // namespace services
