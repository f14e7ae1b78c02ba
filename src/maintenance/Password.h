#pragma once
#include "widgets/Form.h"

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The psychologist's password: the right one shows the table maintenance menu.
class TPasswordDlg : public ui::Form {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent = nullptr);

    QLabel* Label1;
    QLineEdit* Password;
    QPushButton *OKBtn, *CancelBtn;

    void OKBtnClick();

    // How long OK stays disabled after the nth wrong password in a row; tests make it short.
    static std::function<int(int failures)> FailureDelayMs;
};

// The folder whose password the dialogs check: the database the program works with.
QString PasswordFolder();

// Checks a typed psychologist's password, wherever it is asked for. Wrong ones in a row keep ok
// disabled for a growing while; a right one starts the count again.
bool CheckPsychologistPassword(const QString& typed, QPushButton* ok);
// Wrong passwords in a row so far.
int PasswordFailures();

extern TPasswordDlg* PasswordDlg;
