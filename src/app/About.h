#pragma once
#include "widgets/Form.h"

class QLabel;
class QPushButton;

class TAboutBox : public ui::Form {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel *ProgramIcon, *ProductName, *Version, *Copyright;
    QPushButton* OKButton;
};

extern TAboutBox* AboutBox;
