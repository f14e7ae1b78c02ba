#pragma once
#include "widgets/Form.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

// The testing window for the testee alone: full screen, the question, its options and the
// navigation, and nothing that leaves it (Esc, Alt+F4, the close box, the window menu) until the
// run is finished or the psychologist's password is typed. A finished run ends on a thank-you
// screen that waits for the psychologist.
namespace testing {

// Keeps the windows it is given open and full screen while it lives.
class ScreenLock : public QObject {
    Q_OBJECT
public:
    ScreenLock();
    ~ScreenLock() override;
    void hold(QWidget* w);
    void let(QWidget* w);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool held(const QObject* o) const;
    QList<QPointer<QWidget>> held_;
};

enum class TesteeEnd { Finished, Password };

// Runs the current test in the testing window in testee mode; returns how it ended.
TesteeEnd runTesteeMode();

} // namespace testing

// "Спасибо!": shown full screen at the end of a run in testee mode, until the psychologist's
// password is typed.
class TFormThanks : public ui::Form {
    Q_OBJECT
public:
    explicit TFormThanks(QWidget* parent = nullptr);
    QLabel* LabelThanks;
    QLineEdit* Password;
    QPushButton* OKBtn;
    void OKBtnClick();
};

// The psychologist's password, asked over the testee's screen.
class TFormTesteePassword : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTesteePassword(QWidget* parent = nullptr);
    QLineEdit* Password;
    QPushButton *OKBtn, *CancelBtn;
    void OKBtnClick();
};
