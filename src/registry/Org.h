#pragma once
#include "widgets/Form.h"

// "Выбор учреждения": the window exists with its caption, size and help context; its controls come later.
// Its activation already takes its step of the main window's enabling chain.
class TFormOrg : public ui::Form {
    Q_OBJECT
public:
    explicit TFormOrg(QWidget* parent = nullptr);

protected:
    void FormActivate() override;
};

extern TFormOrg* FormOrg;
