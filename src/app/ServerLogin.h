#pragma once
#include "widgets/Form.h"

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The password of a database server, asked when neither the address nor ~/.pgpass gives one.
class TFormServerPassword : public ui::Form {
    Q_OBJECT
public:
    // problem: why the last password was not taken; empty at the first question.
    TFormServerPassword(const QString& url, const QString& problem, QWidget* parent = nullptr);

    QLabel *LabelServer, *LabelProblem, *LabelPassword;
    QLineEdit* EditPassword;
    QPushButton *OKBtn, *CancelBtn;
};

// Every connection to a server asks with the window above. A password the user gave is kept in
// memory for this run only (never on disk), so that a connection made again does not ask again;
// one the server refuses is asked anew.
void InstallServerPasswordPrompt();
// Keeps a password for url (as the connection names it, without a password) for this run.
void RememberServerPassword(const QString& url, const QString& password);
void ForgetServerPasswords();

// The result of connecting to a server database and looking for the program's tables.
struct ServerCheck {
    enum Result { Ready, NoTables, Failed } result = Failed;
    QString message; // what is wrong, in the user's words; empty when ready
};
ServerCheck CheckServer(const QString& url);

// When the alias names a server: connects (asking for the password) and checks the tables; on
// failure says why and returns false. True for a folder: the normal start checks it. A database
// without the change-notice triggers is said once a run, naming the command that adds them.
bool ServerDatabaseReady();

// The address without a password (in its user part or as a parameter); *password gets it.
QString WithoutPassword(const QString& url, QString* password = nullptr);
