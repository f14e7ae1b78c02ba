// The group session window driven as a psychologist drives it, offscreen, with its server on
// 127.0.0.1 and browsers played by real HTTP clients; the tables read back with python3-dbfread.
#include "app/AppFixture.h"
#include "app/Main.h"
#include "group/GroupSession.h"
#include "web/TestServer.h"
#include "web/WebClient.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPoint>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QTest>
#include <map>
#include <set>

namespace {

constexpr int kOrg = 1, kTest = 3, kQuestions = 9; // nobody of institution 1 has taken test 3

class GroupSessionTest : public AppTest {
protected:
    TFormGroupSession* w = nullptr;

    void open(int test = kTest) {
        ASSERT_TRUE(chooseRun(kOrg, 1, test));
        FormMain->TestChosen();
        FormMain->MenuGroup->trigger();
        w = FormGroupSession;
        ASSERT_TRUE(w && w->isVisible());
    }
    void tick(const std::set<int>& testees) {
        for (int i = 0; i < w->ListTestees->count(); ++i) {
            QListWidgetItem* item = w->ListTestees->item(i);
            item->setCheckState(testees.count(item->data(Qt::UserRole).toInt()) ? Qt::Checked
                                                                                : Qt::Unchecked);
        }
    }
    std::set<int> ticked() const {
        std::set<int> out;
        for (int i = 0; i < w->ListTestees->count(); ++i)
            if (w->ListTestees->item(i)->checkState() == Qt::Checked)
                out.insert(w->ListTestees->item(i)->data(Qt::UserRole).toInt());
        return out;
    }
    void start(int port = 0) {
        w->ComboAddress->setCurrentIndex(w->ComboAddress->findText(QStringLiteral("127.0.0.1")));
        w->SpinPort->setValue(port);
        w->ButtonStart->click();
    }
    uint16_t port() const { return w->server()->port(); }
    int rowOf(int testee) const {
        for (int row = 0; row < w->GridStatus->rowCount(); ++row)
            if (w->GridStatus->item(row, 0)->data(Qt::UserRole).toPoint().y() == testee) return row;
        return -1;
    }
    QString cell(int testee, int column) const {
        const int row = rowOf(testee);
        return row < 0 ? QString() : w->GridStatus->item(row, column)->text();
    }
    std::map<int, std::string> codes() const {
        std::map<int, std::string> out;
        for (int row = 0; row < w->GridStatus->rowCount(); ++row)
            out[w->GridStatus->item(row, 0)->data(Qt::UserRole).toPoint().y()] =
                w->GridStatus->item(row, 1)->text().toStdString();
        return out;
    }
    // Waits for the window's own timer to show what is expected (no refresh asked by the test).
    bool shows(int testee, int column, const QString& text) {
        return QTest::qWaitFor([&] { return cell(testee, column) == text; }, 3000);
    }
    std::vector<QJsonObject> rows(const char* table) const {
        std::vector<QJsonObject> out;
        for (const QString& line : peerDump(db->dir(), QLatin1String(table)))
            out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return out;
    }
    // The answer rows of a testee of test kTest as dbfread reads them: question → OTVET.
    std::map<int, int> answersOf(int testee) const {
        std::map<int, int> out;
        for (const QJsonObject& r : rows("bd_rezult"))
            if (r["NOMU"].toInt() == kOrg && r["NOMTESTIR"].toInt() == testee &&
                r["NOMTESTA"].toInt() == kTest)
                out[r["NOMVOPR"].toInt()] = r["OTVET"].toInt();
        return out;
    }
    static int chosenCount(const std::map<int, int>& answers) {
        int n = 0;
        for (const auto& [q, o] : answers)
            n += o >= 0;
        return n;
    }
};

// A browser that types the code and confirms its name: it then stands on its first open question.
void enter(WebClient& b, const std::string& code) {
    b.get("/");
    const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", code}});
    ASSERT_EQ(confirm.status, 200) << confirm.body;
    ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
}

int answer(WebClient& b, int q, int o) {
    b.get("/q?n=" + std::to_string(q));
    return b.post("/answer", {{"t", b.token()}, {"q", std::to_string(q)}, {"o", std::to_string(o)}}).status;
}

int codeStatus(uint16_t port, const std::string& code) {
    WebClient b(port);
    b.get("/");
    return b.post("/code", {{"t", b.token()}, {"kod", code}}).status;
}

bool contains(const std::string& body, const char* text) {
    return body.find(text) != std::string::npos;
}

} // namespace

TEST_F(GroupSessionTest, TheMenuItemOpensWithATestAndTheWindowStaysModeless) {
    EXPECT_FALSE(FormMain->MenuGroup->isEnabled());
    EXPECT_EQ(FormMain->MenuGroup->statusTip(), "Групповое тестирование через браузер");
    const QList<QAction*> top = FormMain->MainMenu->actions();
    EXPECT_EQ(top.indexOf(FormMain->MenuGroup), top.indexOf(FormMain->MenuReports) + 1);
    open();
    EXPECT_EQ(w->windowTitle(), "Групповое тестирование");
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(ui::Form::modalStack().isEmpty()) << "the program goes on while a session runs";
    EXPECT_TRUE(w->LabelCaption->text().contains(QStringLiteral("Организация учебного и рабочего времени")));
    EXPECT_EQ(w->ListTestees->count(), 5);
    EXPECT_FALSE(w->CheckShowScore->isChecked());
    EXPECT_FALSE(w->CheckGroupCode->isChecked());
    EXPECT_EQ(w->ComboAddress->itemText(w->ComboAddress->count() - 1), "127.0.0.1");
    EXPECT_EQ(w->SpinPort->value(), 8080);
}

TEST_F(GroupSessionTest, PickButtonsTickAllNoneAndThoseWithoutAScoredRun) {
    open(1);
    // Who has a score of test 1 in institution 1, as a reader we did not write sees bd_rez.
    std::set<int> all, scored;
    for (const QJsonObject& r : rows("bd_anket"))
        if (r["NOMU"].toInt() == kOrg) all.insert(r["NOMTESTIR"].toInt());
    for (const QJsonObject& r : rows("bd_rez"))
        if (r["NOMU"].toInt() == kOrg && r["NOMTESTA"].toInt() == 1) scored.insert(r["NOMTESTIR"].toInt());
    ASSERT_FALSE(scored.empty());
    std::set<int> notTaken;
    for (int t : all)
        if (!scored.count(t)) notTaken.insert(t);
    ASSERT_FALSE(notTaken.empty());
    w->ButtonAll->click();
    EXPECT_EQ(ticked(), all);
    w->ButtonNotTaken->click();
    EXPECT_EQ(ticked(), notTaken);
    w->ButtonNone->click();
    EXPECT_TRUE(ticked().empty());
}

TEST_F(GroupSessionTest, ThreeTesteesAnswerAndTheTableFollowsThem) {
    open();
    tick({1, 2, 3});
    start();
    ASSERT_EQ(w->Pages->currentWidget(), w->PageSession) << messages->texts().join('\n').toStdString();
    EXPECT_EQ(w->LabelAddress->text(), QStringLiteral("http://127.0.0.1:%1/").arg(port()));
    EXPECT_FALSE(w->LabelQr->pixmap().isNull());
    EXPECT_FALSE(w->LabelGroupCode->isVisible()) << "no group code asked for";
    ASSERT_EQ(w->GridStatus->rowCount(), 3);
    for (int t : {1, 2, 3}) {
        EXPECT_EQ(cell(t, 2), QStringLiteral("0 из %1").arg(kQuestions));
        EXPECT_EQ(cell(t, 3), "—");
        EXPECT_EQ(cell(t, 4), "не начат");
    }
    std::map<int, std::string> code = codes();
    WebClient a(port()), b(port()), c(port());
    enter(a, code[1]);
    enter(b, code[2]);
    enter(c, code[3]);
    for (int q = 1; q <= kQuestions; ++q) {
        EXPECT_EQ(answer(a, q, 1), 303);
        EXPECT_EQ(answer(b, q, 0), 303);
        if (q <= 4) {
            EXPECT_EQ(answer(c, q, 1), 303);
        }
    }
    a.get("/q");
    EXPECT_TRUE(contains(a.post("/finish", {{"t", a.token()}}).body, "Спасибо"));

    EXPECT_TRUE(shows(1, 4, "обработан"));
    EXPECT_TRUE(shows(2, 4, "закончил"));
    EXPECT_TRUE(shows(3, 4, "отвечает"));
    // The answered counts as the tables hold them.
    for (int t : {1, 2, 3})
        EXPECT_EQ(cell(t, 2), QStringLiteral("%1 из %2").arg(chosenCount(answersOf(t))).arg(kQuestions)) << t;
    EXPECT_EQ(cell(3, 2), QStringLiteral("4 из %1").arg(kQuestions));
    EXPECT_NE(cell(3, 3), "—");
    EXPECT_EQ(w->LabelTotal->text(),
              QStringLiteral("Всего 3: не начали 0, отвечают 1, закончили 1, обработано 1, "
                             "на другом устройстве 0. Ответов 22 из 27."));
    // Testee 3 picks up another device: the first one is marked, until the new one answers.
    WebClient phone(port());
    enter(phone, code[3]);
    EXPECT_TRUE(shows(3, 4, "перешёл на другое устройство"));
    // This moment of the class, for people to look at.
    QDir().mkpath(QStringLiteral(MORV_SCREENSHOT_DIR));
    EXPECT_TRUE(w->grab().toImage().save(QStringLiteral(MORV_SCREENSHOT_DIR "/FormGroupSession.png")));
    EXPECT_EQ(answer(phone, 5, 1), 303);
    EXPECT_TRUE(shows(3, 2, QStringLiteral("5 из %1").arg(kQuestions)));
    EXPECT_TRUE(shows(3, 4, "отвечает"));
    EXPECT_TRUE(messages->texts().isEmpty()) << messages->texts().join('\n').toStdString();
}

TEST_F(GroupSessionTest, ANewCodeReplacesTheOldOneAtOnce) {
    open();
    tick({4});
    start();
    const std::string old = codes()[4];
    WebClient first(port());
    enter(first, old);
    EXPECT_EQ(answer(first, 1, 1), 303);
    first.get("/q?n=2");
    const std::string page = first.token();

    w->GridStatus->selectRow(rowOf(4));
    w->ButtonNewCode->click();
    ASSERT_EQ(messages->entries.size(), 1u);
    EXPECT_EQ(messages->entries[0].kind, ui::MessageKind::Confirmation);
    const std::string renewed = codes()[4];
    ASSERT_NE(renewed, old);
    EXPECT_EQ(renewed.size(), 6u);

    EXPECT_EQ(codeStatus(port(), old), 403) << "the old code stops at once";
    EXPECT_NE(first.post("/answer", {{"t", page}, {"q", "2"}, {"o", "1"}}).status, 303);
    EXPECT_EQ(answersOf(4).count(2) ? answersOf(4)[2] : -1, -1) << "the old device's click is not stored";
    WebClient second(port());
    enter(second, renewed);
    EXPECT_TRUE(contains(second.get("/q").body, "Вопрос № 2 из 9")) << "resumes after the stored answer";
    EXPECT_EQ(answersOf(4)[1], 1);
}

TEST_F(GroupSessionTest, EndingClosesTheCodesKeepsTheAnswersAndResumingGivesTheSameCodes) {
    open();
    tick({1, 2, 3});
    start();
    const std::map<int, std::string> before = codes();
    const int id = w->session().id;
    WebClient b(port());
    enter(b, before.at(2));
    const int picks[] = {1, 0, 1}; // every question has at least two options
    for (int q = 1; q <= 3; ++q)
        EXPECT_EQ(answer(b, q, picks[q - 1]), 303);
    b.get("/q?n=4");

    w->ButtonEnd->click();
    ASSERT_EQ(messages->entries.size(), 1u);
    EXPECT_EQ(messages->entries[0].kind, ui::MessageKind::Confirmation);
    EXPECT_TRUE(messages->entries[0].text.contains(QStringLiteral("Ещё не закончили тестирование: 1")));
    EXPECT_FALSE(w->ButtonEnd->isEnabled());

    const HttpReply late = b.post("/answer", {{"t", b.token()}, {"q", "4"}, {"o", "1"}});
    EXPECT_EQ(late.status, 410);
    EXPECT_TRUE(contains(late.body, "Сеанс завершён"));
    for (const auto& [testee, code] : before)
        EXPECT_EQ(codeStatus(port(), code), 403) << testee;
    // What was answered stays, as an interrupted desktop run leaves it.
    const std::map<int, int> stored = answersOf(2);
    for (int q = 1; q <= 3; ++q)
        EXPECT_EQ(stored.count(q) ? stored.at(q) : -99, picks[q - 1]) << q;
    EXPECT_EQ(chosenCount(stored), 3);
    for (const QJsonObject& s : rows("bd_seans"))
        if (s["NOMSEANS"].toInt() == id) {
            EXPECT_EQ(s["OTKR"].toInt(), 0);
        }

    // After a power cut, say: the same session again, with the same codes.
    w->ButtonPrepare->click();
    ASSERT_EQ(w->Pages->currentWidget(), w->PagePrepare);
    ASSERT_GE(w->ComboSessions->count(), 1);
    EXPECT_EQ(w->ComboSessions->itemData(0).toInt(), id);
    w->ButtonResume->click();
    ASSERT_EQ(w->Pages->currentWidget(), w->PageSession) << messages->texts().join('\n').toStdString();
    EXPECT_EQ(w->session().id, id);
    EXPECT_EQ(codes(), before);
    EXPECT_EQ(cell(2, 2), QStringLiteral("3 из %1").arg(kQuestions));
    WebClient again(port());
    enter(again, before.at(2));
    EXPECT_TRUE(contains(again.get("/q").body, "Вопрос № 4 из 9"));
}

TEST_F(GroupSessionTest, AStartIsRefusedWithNobodyTickedOrThePortInUse) {
    open();
    start();
    EXPECT_EQ(messages->texts(),
              QStringList{"Никто не отмечен. Отметьте тестируемых или включите регистрацию "
                          "по коду группы."});
    EXPECT_EQ(w->Pages->currentWidget(), w->PagePrepare);
    EXPECT_FALSE(QFileInfo::exists(db->path(QStringLiteral("bd_seans.dbf"))))
        << "nothing stored, nothing made";

    messages->clear();
    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::LocalHost, 0));
    tick({1});
    start(busy.serverPort());
    ASSERT_EQ(messages->texts().size(), 1);
    EXPECT_TRUE(messages->texts()[0].startsWith(QStringLiteral("Порт %1 занят").arg(busy.serverPort())))
        << messages->texts()[0].toStdString();
    EXPECT_EQ(w->Pages->currentWidget(), w->PagePrepare);
    EXPECT_TRUE(rows("bd_seans").empty()) << "no session without a server";

    // Registration by group code alone needs nobody ticked.
    messages->clear();
    tick({});
    w->CheckGroupCode->setChecked(true);
    start();
    ASSERT_EQ(w->Pages->currentWidget(), w->PageSession) << messages->texts().join('\n').toStdString();
    EXPECT_TRUE(w->LabelGroupCode->isVisible());
    EXPECT_EQ(w->GridStatus->rowCount(), 0);
    const QString group = w->session().groupCode;
    ASSERT_EQ(group.size(), 6);
    EXPECT_TRUE(w->LabelGroupCode->text().contains(group));
    EXPECT_EQ(codeStatus(port(), group.toStdString()), 200);
}

TEST_F(GroupSessionTest, ClosingWithTesteesAnsweringAsksFirst) {
    FormMain->show();
    open();
    tick({5});
    start();
    const std::string code = codes()[5];
    const int id = w->session().id;
    WebClient b(port());
    enter(b, code);
    EXPECT_EQ(answer(b, 1, 0), 303);

    messages->answer = false;
    w->close(); // the close box
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(messages->entries.size(), 1u);
    EXPECT_EQ(messages->entries[0].kind, ui::MessageKind::Confirmation);
    FormMain->close();
    EXPECT_TRUE(FormMain->isVisible()) << "the program stays while a testee answers";
    EXPECT_EQ(messages->entries.size(), 2u);
    EXPECT_EQ(answer(b, 2, 1), 303) << "the session goes on";

    messages->answer = true;
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->server()->running());
    for (const QJsonObject& s : rows("bd_seans"))
        if (s["NOMSEANS"].toInt() == id) {
            EXPECT_EQ(s["OTKR"].toInt(), 0) << "ended with the window";
        }
    const std::map<int, int> stored = answersOf(5);
    EXPECT_EQ(stored.at(1), 0);
    EXPECT_EQ(stored.at(2), 1);
}
