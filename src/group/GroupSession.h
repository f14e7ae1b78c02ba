#pragma once
#include "services/Sessions.h"
#include "widgets/Form.h"

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class QTimer;
namespace results {
class Archive;
}
namespace web {
class TestServer;
struct TesteeStatus;
} // namespace web

// «Групповое тестирование»: a class takes the current test through the browser at once. The
// psychologist ticks the testees (or lets them register with a group code), starts the server,
// hands out the codes, watches the answers arrive and ends the session. Modeless: the program
// can be used meanwhile. The server lives here, on the program's thread; its HTTP thread hands
// it the requests through the event loop.
class TFormGroupSession : public ui::Form {
    Q_OBJECT
public:
    explicit TFormGroupSession(QWidget* parent = nullptr);
    ~TFormGroupSession() override;

    // Shows the window for institution org and test. While a session runs the window shows it,
    // whatever is current in the main window.
    void OpenFor(int org, int test);
    // Closing with testees still answering asks first; confirmed (or nobody answering), the
    // session is ended and the server stopped. False: the user chose to stay.
    bool MayClose();

    QLabel* LabelCaption;
    QStackedWidget* Pages;
    QWidget *PagePrepare, *PageSession;
    // Preparing
    QListWidget* ListTestees;
    QPushButton *ButtonAll, *ButtonNone, *ButtonNotTaken;
    QCheckBox *CheckGroupCode, *CheckShowScore;
    QComboBox* ComboAddress;
    QSpinBox* SpinPort;
    QPushButton* ButtonStart;
    QComboBox* ComboSessions;
    QPushButton* ButtonResume;
    // Running
    QLabel *LabelAddress, *LabelQr, *LabelGroupCode, *LabelState, *LabelTotal;
    QPushButton* ButtonSlips;
    QTableWidget* GridStatus;
    QPushButton *ButtonNewCode, *ButtonEnd, *ButtonPrepare;
    QTimer* TimerRefresh;

    void ButtonAllClick();
    void ButtonNoneClick();
    void ButtonNotTakenClick();
    void ButtonStartClick();
    void ButtonResumeClick();
    void ButtonSlipsClick();
    void ButtonNewCodeClick();
    void ButtonEndClick();
    void ButtonPrepareClick();
    void TimerRefreshTimer();

    // The server of the session (null before the first start), and the session shown.
    web::TestServer* server() const { return server_.get(); }
    const services::Session& session() const { return session_; }
    QString address() const { return url_; }

protected:
    void FormClose(ui::CloseAction& action) override;

private:
    QWidget* buildPrepare();
    QWidget* buildSession();
    void fillTestees();
    void fillSessions();
    web::TestServer& ensureServer();
    // Starts listening on the chosen address and port; the message says why not.
    void listen();
    void showSession(const services::Session& s);
    std::vector<web::TesteeStatus> refresh();
    void endSession();
    void stopServer();

    int org_ = 0, test_ = 0;
    QString dir_, testName_, orgName_, url_;
    std::unique_ptr<results::Archive> archive_;
    std::unique_ptr<web::TestServer> server_;
    services::Session session_;
    bool running_ = false; // a session of this window is open
};

extern TFormGroupSession* FormGroupSession;
