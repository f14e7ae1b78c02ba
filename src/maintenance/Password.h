#pragma once
#include "widgets/Form.h"

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
};

extern TPasswordDlg* PasswordDlg;
