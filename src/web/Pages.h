#pragma once
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// The HTML of the test pages: plain Russian pages with no external resources, usable without
// a script; every text from the tables or the testee goes through escape().
namespace web::pages {

QString escape(const QString& text);

// A whole page around body; title in the window's caption; large: in large print.
std::string page(const QString& title, const QString& body, bool large = false);

// The code entry, with a message above the field (error set: shown as a refusal) and the field
// holding code, as a slip's QR code brings it; the testee still presses the button.
std::string codeEntry(const std::string& token, const QString& message, bool error, const QString& code = {});
// "Is this you?" with the testee's own name and nothing else.
std::string confirm(const std::string& token, const QString& name, const QString& testName);
// The registration form of a group code.
struct Registration {
    QString surname, name, patronymic, sex, year;
    int education = 0;
};
std::string registration(const std::string& token, const QString& testName,
                         const std::vector<std::pair<int, QString>>& educations, const Registration& filled,
                         const QString& error);
// The personal code given after a registration.
std::string personalCode(const QString& code, int firstQuestion);

struct QuestionView {
    int number = 0, last = 0, place = 0, count = 0;
    QString text;
    QStringList options;
    int columns = 1;
    int chosen = -1;
    int prev = 0, next = 0; // neighbouring question numbers; 0 for none
    QString notice;         // "Ответ сохранён" or a refusal
    bool noticeIsError = false;
    int answered = 0;
    bool large = false; // question and options in large print
};
std::string question(const std::string& token, const QuestionView& q);
std::string incomplete(const std::string& token, const std::vector<int>& missing, int last);
// A criterion's score as the end page shows it, with the name of the level that holds it
// (empty when none does).
struct ShownScore {
    int score = 0;
    QString level;
};
// The end page; scores of criteria 1..K, none when the session does not show them.
std::string thanks(const QString& testName, const std::vector<ShownScore>& scores);
// A page with a heading and a message and a link back to the code entry.
std::string notice(const QString& heading, const QString& text);

// The small script that sends a form without reloading the page.
const std::string& script();

// A click on a question shown for less than this (ms), or the second click of a double click,
// was aimed at the page before: it answers nothing. The script sends the page's age at the click
// as "w" and the click count as "d", and the server checks them too.
constexpr int kReadMs = 300;

} // namespace web::pages
