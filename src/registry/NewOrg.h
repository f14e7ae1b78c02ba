#pragma once
#include "widgets/Form.h"

// "Реквизиты учреждения": the window exists with its caption, size and help context; its controls come later.
class TFormNewOrg : public ui::Form {
    Q_OBJECT
public:
    explicit TFormNewOrg(QWidget* parent = nullptr);
};

extern TFormNewOrg* FormNewOrg;
