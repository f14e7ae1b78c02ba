#pragma once
#include "widgets/Form.h"
#include <functional>

#include "dataset/Variant.h"

#include <cstdint>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
namespace ui {
class DBMemo;
class DBText;
class Panel;
class RadioGroup;
class UpDown;
} // namespace ui

// "Тестирование": one question of the current test at a time, for the current testee. Every
// shown question has its answer row, and every choice is stored the moment it is made.
class TFormTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormTest(QWidget* parent = nullptr);

    ui::Panel *Panel2, *Panel1;
    QLabel *Label1, *Label4, *LabelVopr, *Label2, *Label3;
    ui::DBText* DBTextNVOPR;
    QLineEdit* EditVopr;
    ui::UpDown* UpDownVopr;
    ui::DBMemo* DBMemoTEXTV;
    ui::RadioGroup* RadioGroupOtvet;
    QPushButton *ButPrior, *ButNext, *ButtonDown, *ButtonUp, *ButtonClose;

    void ShowVopr();
    void ButNextClick();
    void ButPriorClick();
    void EditVoprChange();
    void RadioGroupOtvetClick();
    void ButtonDownClick();
    void ButtonUpClick();
    void ButCloseClick();

    // Size of the answer options in points; never below 1.
    int answerFontPoints() const { return answerPoints_; }

protected:
    void FormActivate() override;
    // Keys 1-9 choose an option, Page Down and Page Up go to the next and previous question;
    // the arrows keep moving between the options.
    void keyPressEvent(QKeyEvent* e) override;
    void FormClose(ui::CloseAction& action) override;

private:
    void buildHeader();
    void buildButtons();
    void setAnswerFont(int points);
    // The question numbered as the jump box says, shown; false when the number is out of range.
    bool jump();
    // The shown question's answer row, found or made with the given answer as one step, so
    // another workstation showing it at the same moment makes no second row; made says which.
    uint32_t findOrMakeAnswerRow(int answer, bool& made);
    // Runs a write of the answer table; a damaged index is rebuilt once and said once, and when
    // it cannot be, the run stops with a message.
    void writeAnswers(const std::function<void()>& step);
    // The shown question's answer row key: institution, testee, test, question.
    std::vector<db::Variant> answerKey() const;
    // The option a stored answer row selects, -1 for none.
    int storedChoice(uint32_t rec) const;

    int answerPoints_ = 10;
    int64_t answerRec_ = -1;
};

extern TFormTest* FormTest;
