#pragma once
#include <QMainWindow>

// The main window. For now it only carries the variables the other windows share.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);

    int CurTipTest = 0;     // code of the test type last chosen, 0 until one is
    bool OrgChosen = false; // the institution window has been active at least once
    int NewOrgState = 0;    // 0 none, 1 new institution being entered, 2 saved, waiting for a testee
};

extern TFormMain* FormMain;
