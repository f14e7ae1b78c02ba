#pragma once
#include "widgets/Form.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The office's own password for the tables menu: the current one, the new one twice.
class TChangePasswordDlg : public ui::Form {
    Q_OBJECT
public:
    explicit TChangePasswordDlg(QWidget* parent = nullptr);

    QLineEdit *OldPassword, *NewPassword, *RepeatPassword;
    QPushButton *OKBtn, *CancelBtn;

    void OKBtnClick();
};
