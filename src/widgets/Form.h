#pragma once
#include <QPointer>
#include <QWidget>

#include <QAbstractButton>
class QEventLoop;

namespace ui {

enum ModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7
};
enum class CloseAction { None, Hide };

// The base of every window of the program.
// - ShowModal() runs a nested loop and returns the modal result; a visible window refuses it.
// - FormActivate() runs when the form is shown and again when a modal form over it closes.
// - Close() takes effect once no handler of the form is running and no modal form is over it,
//   so a handler may close its form and then open another modal form in front of it.
// - FormClose() runs on every way of closing; the close box never runs a button's handler.
// - Enter clicks the default button and Esc the cancel button, while visible and enabled.
class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(QWidget* parent = nullptr);
    ~Form() override;

    int ShowModal();
    void Show();
    void Close();
    bool isModal() const { return loop_ != nullptr; }

    int ModalResult() const { return modalResult_; }
    // A non-zero result closes a modal form once the running handler returns.
    void setModalResult(int result);

    void setDefaultButton(QAbstractButton* b);
    void setCancelButton(QAbstractButton* b) { cancel_ = b; }
    // Clicking the button runs its handlers, then sets the form's modal result.
    void setButtonModalResult(QAbstractButton* b, int result);

    // Client size and centring on the screen when first shown.
    void setClientSize(int w, int h);
    void setCentered(bool c) { centered_ = c; }
    // Help context of the window; with popup help, F1 shows topics as pop-ups at the control.
    void setHelpContext(int context);
    void setPopupHelp(bool popup) { popupHelp_ = popup; }
    bool popupHelp() const { return popupHelp_; }

    // The modal forms currently open, innermost last.
    static const QList<Form*>& modalStack();

signals:
    void activated(); // after FormActivate, for tests and the screenshot tool
    void closed();

protected:
    virtual void FormActivate() {}
    virtual void FormClose(CloseAction& action) { (void)action; }

    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool event(QEvent* e) override;

private:
    friend class HandlerScope;
    void activate();
    void closeNowIfDue();
    bool doClose();
    bool isTopModal() const;

    QEventLoop* loop_ = nullptr;
    int modalResult_ = mrNone;
    int handlerDepth_ = 0;
    bool closePending_ = false;
    bool closing_ = false;
    bool centered_ = true;
    bool placed_ = false;
    bool popupHelp_ = false;
    QPointer<QAbstractButton> default_, cancel_;
};

// Help context of any control (0: none, the enclosing control's applies).
void setHelpContext(QWidget* w, int context);
int helpContext(const QWidget* w);

} // namespace ui
