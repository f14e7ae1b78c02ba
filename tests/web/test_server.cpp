// The browser test server on the sample database, spoken to over real sockets: a whole run from
// the code to the scores, the refusals of hostile requests, a takeover by a second device, what a
// browser keeps after the end, closed sessions and the limit on wrong codes.
#include "WebClient.h"
#include "app/AppFixture.h"
#include "scoring/AllVopr.h"
#include "services/Sessions.h"
#include "testing/Test.h"
#include "testing/TestingWindow.h"
#include "web/HttpServer.h"
#include "web/TestServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <cctype>
#include <future>
#include <memory>

namespace {

class ServerTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        server = std::make_unique<web::TestServer>(db->dir(), QStringLiteral("morv"));
        web::Limits limits;
        limits.requestSeconds = 2; // the slow sender below waits this long
        server->start(QStringLiteral("127.0.0.1"), 0, limits);
        session = server->openSession(1, 1, {4, 5}, true, true);
        for (const services::CodeEntry& c : server->sessions().codes(session.id))
            codes[c.testee] = c.code.toStdString();
    }
    void TearDown() override {
        server.reset();
        AppTest::TearDown();
    }

    // Enters testee's code and confirms: the browser then stands on the first open question.
    void enter(WebClient& b, int testee) {
        b.get("/");
        const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", codes[testee]}});
        ASSERT_EQ(confirm.status, 200) << confirm.body;
        ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
    }

    QByteArray fileHash(const QString& name) const {
        QFile f(db->path(name));
        f.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }

    std::unique_ptr<web::TestServer> server;
    services::Session session;
    std::map<int, std::string> codes;
};

int answerOf(const QList<RunRow>& rows, int q) {
    for (const RunRow& r : rows)
        if (r.number == q) return r.value;
    return -99;
}

bool contains(const std::string& body, const char* text) {
    return body.find(text) != std::string::npos;
}

} // namespace

TEST_F(ServerTest, ARunFromCodeToThanksStoresWhatTheDesktopRunStores) {
    // Testee 4 answers test 1 in the browser, testee 5 the same choices in the testing window.
    const std::vector<int> picks = {2, 0, 3, 1, 1, 2, 0, 3, 2, 1};
    WebClient b(server->port());
    b.get("/");
    const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", codes[4]}});
    // The testee's own name, and nothing else of the register.
    EXPECT_TRUE(contains(confirm.body, "Никитин Артём Олегович"));
    EXPECT_FALSE(contains(confirm.body, "2008"));
    ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
    for (int q = 1; q <= 10; ++q) {
        const HttpReply page = b.get("/q?n=" + std::to_string(q));
        ASSERT_TRUE(contains(page.body, ("Вопрос № " + std::to_string(q) + " из 10").c_str())) << page.body;
        const std::string token = b.token();
        const HttpReply saved = b.post(
            "/answer", {{"t", token}, {"q", std::to_string(q)}, {"o", std::to_string(picks[size_t(q - 1)])}});
        ASSERT_EQ(saved.status, 303) << saved.body;
        if (q == 3) {
            // A double click, or the form sent again: the first choice stands, no second row.
            const HttpReply again = b.post("/answer", {{"t", token}, {"q", "3"}, {"o", "0"}});
            EXPECT_EQ(again.status, 303);
        }
    }
    b.get("/q?n=10");
    const HttpReply done = b.post("/finish", {{"t", b.token()}});
    ASSERT_EQ(done.status, 200) << done.body;
    EXPECT_TRUE(contains(done.body, "Спасибо"));

    ASSERT_TRUE(chooseRun(1, 5, 1));
    inTestingWindow([&] {
        for (int pick : picks) {
            chooseOption(pick);
            FormTest->ButNext->click();
        }
    });
    FormAllVopr->ScoreAnswers();

    const QList<RunRow> web = answerRows(db->dir(), 1, 4, 1), desk = answerRows(db->dir(), 1, 5, 1);
    ASSERT_EQ(web.size(), 10) << "one row per question";
    ASSERT_EQ(desk.size(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(web[i].number, desk[i].number);
        EXPECT_EQ(web[i].value, picks[size_t(i)]);
        EXPECT_EQ(web[i].value, desk[i].value);
        EXPECT_EQ(web[i].date, desk[i].date);
    }
    const QList<RunRow> webScore = runRows(db->dir(), "bd_rez.dbf", 1, 4, 1);
    const QList<RunRow> deskScore = runRows(db->dir(), "bd_rez.dbf", 1, 5, 1);
    ASSERT_EQ(webScore.size(), 1);
    ASSERT_EQ(deskScore.size(), 1);
    EXPECT_EQ(webScore[0].value, deskScore[0].value);
    EXPECT_EQ(webScore[0].date, QDate::currentDate());
    // The score from the tables as a reader we did not write sees them: the points of the chosen
    // options of the questions in the key.
    auto rows = [&](const char* table) {
        std::vector<QJsonObject> out;
        for (const QString& line : peerDump(db->dir(), QLatin1String(table)))
            out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return out;
    };
    const auto vopros = rows("bd_vopros"), otvet = rows("bd_otvet"), summa = rows("bd_summa");
    ASSERT_FALSE(vopros.empty()) << "python3-dbfread reads the tables";
    int expected = 0;
    for (const QJsonObject& k : summa) {
        if (k["NOMTESTA"].toInt() != 1 || k["KRIT"].toInt() != 1) continue;
        const int q = k["SUMVOPR"].toInt();
        int set = 0;
        for (const QJsonObject& v : vopros)
            if (v["NTEST"].toInt() == 1 && v["NVOPR"].toInt() == q) set = v["NOTV"].toInt();
        int place = 0;
        for (const QJsonObject& o : otvet)
            if (o["NOMOTV"].toInt() == set && place++ == picks[size_t(q - 1)])
                expected += o["BOTVET"].toInt();
    }
    EXPECT_EQ(webScore[0].value, expected);
    EXPECT_TRUE(contains(done.body, ("Сумма баллов: " + std::to_string(expected)).c_str()))
        << "the session shows the score";
}

TEST_F(ServerTest, HostileRequestsAreRefusedAndChangeNoTable) {
    WebClient b(server->port());
    enter(b, 4);
    b.get("/q?n=1");
    const std::string cookie = "Cookie: mv=" + b.cookies()["mv"] + "\r\n";
    const QByteArray before = fileHash(QStringLiteral("bd_rezult.dbf")),
                     index = fileHash(QStringLiteral("bd_rezult.MDX")),
                     anket = fileHash(QStringLiteral("bd_anket.dbf"));
    auto post = [&](const std::string& path, const std::string& body, const std::string& extra = {}) {
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + cookie + extra +
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string t = b.token();
    struct Case {
        const char* what;
        std::string raw;
        int status;
    };
    const std::vector<Case> cases = {
        {"garbage", "HELLO\r\n\r\n", 400},
        {"header too large", "GET / HTTP/1.1\r\nHost: x\r\nX-A: " + std::string(20000, 'a') + "\r\n\r\n",
         431},
        {"body too large", post("/answer", "t=" + t + "&q=1&o=1&pad=" + std::string(40000, 'p')), 413},
        {"bad escape", "GET /q?n=%zz HTTP/1.1\r\nHost: x\r\n" + cookie + "\r\n", 400},
        {"path outside the pages", "GET /../bd_anket.dbf HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"a table by name", "GET /bd_rezult.dbf HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"other method", "DELETE /q HTTP/1.1\r\nHost: x\r\n" + cookie + "\r\n", 405},
        {"no token", post("/answer", "q=1&o=1"), 403},
        {"someone else's token", post("/answer", "t=0123456789abcdef&q=1&o=1"), 403},
        {"token of another question", post("/answer", "t=" + t + "&q=2&o=1"), 403},
        {"option out of range", post("/answer", "t=" + t + "&q=1&o=4"), 400},
        {"negative option", post("/answer", "t=" + t + "&q=1&o=-1"), 400},
        {"question of no such number", post("/answer", "t=" + t + "&q=11&o=0"), 400},
        {"no cookie",
         "POST /answer HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: 7\r\n\r\nq=1&o=1",
         403},
        {"repeated field", post("/answer", "t=" + t + "&q=1&o=1&o=2"), 400},
        {"not a form",
         "POST /answer HTTP/1.1\r\nHost: x\r\n" + cookie +
             "Content-Type: application/json\r\nContent-Length: 7\r\n\r\n{\"q\":1}",
         400},
        {"registration without the group code", post("/register", "t=" + t + "&fam=A&nam=B"), 303},
    };
    for (const Case& c : cases) {
        const HttpReply r = rawExchange(server->port(), c.raw);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.header("cache-control"), "no-store") << c.what;
    }
    // A slow sender is cut off when its time is up, and the others are served meanwhile.
    auto slow = std::async(std::launch::async, [&] {
        return rawExchange(server->port(), "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ", 6000);
    });
    EXPECT_EQ(rawExchange(server->port(), "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").status,
              200);
    while (slow.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(slow.get().status, 0) << "closed without a response";

    EXPECT_EQ(fileHash(QStringLiteral("bd_rezult.dbf")), before);
    EXPECT_EQ(fileHash(QStringLiteral("bd_rezult.MDX")), index);
    EXPECT_EQ(fileHash(QStringLiteral("bd_anket.dbf")), anket);
    // The page itself still works, and its option is stored.
    EXPECT_EQ(b.post("/answer", {{"t", t}, {"q", "1"}, {"o", "3"}}).status, 303);
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 1), 3);
}

TEST_F(ServerTest, ASecondDeviceTakesOverAndTheFirstDevicesClickIsNotStored) {
    WebClient first(server->port()), second(server->port());
    enter(first, 4);
    first.get("/q?n=1");
    ASSERT_EQ(first.post("/answer", {{"t", first.token()}, {"q", "1"}, {"o", "2"}}).status, 303);
    first.get("/q?n=2");
    const std::string oldPage = first.token();

    enter(second, 4);
    // The new device resumes at the first question without a choice, with the stored choices.
    const HttpReply resumed = second.get("/q");
    EXPECT_TRUE(contains(resumed.body, "Вопрос № 2 из 10")) << resumed.body;
    const HttpReply back = second.get("/q?n=1");
    EXPECT_TRUE(contains(back.body, "class=\"opt on\" type=\"submit\" name=\"o\" value=\"2\""));

    const HttpReply refused = first.post("/answer", {{"t", oldPage}, {"q", "2"}, {"o", "1"}});
    EXPECT_EQ(refused.status, 409);
    EXPECT_TRUE(contains(refused.body, "на другом устройстве"));
    EXPECT_FALSE(contains(refused.body, "Никитин"));
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 2), -1) << "the earlier device's click is not stored";
    EXPECT_TRUE(first.cookies().empty());
}

TEST_F(ServerTest, AfterTheEndTheBrowserHoldsNothingOfTheTestee) {
    WebClient b(server->port());
    enter(b, 5);
    const HttpReply page = b.get("/q");
    const std::string cookie = page.header("set-cookie");
    for (int q = 1; q <= 10; ++q) {
        b.get("/q?n=" + std::to_string(q));
        b.post("/answer", {{"t", b.token()}, {"q", std::to_string(q)}, {"o", "1"}});
    }
    const std::string leftover = b.cookies()["mv"];
    b.get("/q");
    const HttpReply done = b.post("/finish", {{"t", b.token()}});
    EXPECT_TRUE(contains(done.header("set-cookie"), "Max-Age=0"));
    EXPECT_TRUE(b.cookies().empty());
    // Even a browser that kept the old cookie reaches nothing: back to the code entry.
    WebClient kept(server->port());
    kept.cookies()["mv"] = leftover;
    const HttpReply again = kept.get("/q?n=3");
    EXPECT_EQ(again.status, 403);
    EXPECT_FALSE(contains(again.body, "Васильева"));
    EXPECT_FALSE(contains(again.body, "Вопрос"));
    EXPECT_EQ(kept.get("/").status, 200);
    // The code of a finished run opens no questions either.
    WebClient next(server->port());
    next.get("/");
    const HttpReply finished = next.post("/code", {{"t", next.token()}, {"kod", codes[5]}});
    EXPECT_TRUE(contains(finished.body, "уже завершено"));
    EXPECT_TRUE(next.cookies().empty());
}

TEST_F(ServerTest, CookiesAndPagesAreNeitherCachedNorReadableByScripts) {
    WebClient b(server->port());
    b.get("/");
    const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", codes[4]}});
    const std::string cookie = confirm.header("set-cookie");
    EXPECT_TRUE(contains(cookie, "HttpOnly"));
    EXPECT_TRUE(contains(cookie, "SameSite=Strict"));
    EXPECT_EQ(confirm.header("cache-control"), "no-store");
    // No resource from elsewhere: the page works on a network without the internet.
    EXPECT_FALSE(contains(confirm.body, "http://") || contains(confirm.body, "https://"));
}

TEST_F(ServerTest, ASlipsAddressFillsInTheCodeButOnlyThePressEntersIt) {
    std::string lower = codes[4];
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    WebClient b(server->port());
    const HttpReply filled = b.get("/?code=" + lower);
    ASSERT_EQ(filled.status, 200);
    EXPECT_TRUE(contains(filled.body, ("autofocus value=\"" + codes[4] + "\">").c_str())) << filled.body;
    // Nothing is entered yet: no device, no name, no run.
    EXPECT_TRUE(b.cookies().empty());
    EXPECT_FALSE(contains(filled.body, "Это вы?"));
    EXPECT_FALSE(contains(filled.body, "Никитин"));
    EXPECT_EQ(b.post("/code", {{"t", b.token()}, {"kod", codes[4]}}).status, 200);
    // Anything but a code is left out of the page.
    WebClient other(server->port());
    for (const char* target :
         {"/?code=%22%3E%3Cscript%3Ealert(1)%3C/script%3E", "/?code=AAAAAAAAAAAAAAAAA"}) {
        const HttpReply page = other.get(target);
        EXPECT_EQ(page.status, 200);
        EXPECT_TRUE(contains(page.body, "autofocus>")) << target;
        EXPECT_FALSE(contains(page.body, "alert")) << target;
    }
}

TEST_F(ServerTest, AClosedSessionRefusesItsCodesAndAStartedRunStopsAtItsNextClick) {
    WebClient b(server->port());
    enter(b, 4);
    b.get("/q?n=1");
    server->closeSession(session.id);
    const HttpReply click = b.post("/answer", {{"t", b.token()}, {"q", "1"}, {"o", "1"}});
    EXPECT_EQ(click.status, 410);
    EXPECT_TRUE(contains(click.body, "Сеанс"));
    EXPECT_EQ(answerOf(answerRows(db->dir(), 1, 4, 1), 1), -1);
    WebClient other(server->port());
    other.get("/");
    EXPECT_EQ(other.post("/code", {{"t", other.token()}, {"kod", codes[5]}}).status, 403);
    // Reopened with the same codes, as after a power cut.
    server->reopenSession(session.id);
    other.get("/");
    EXPECT_EQ(other.post("/code", {{"t", other.token()}, {"kod", codes[5]}}).status, 200);
}

TEST_F(ServerTest, WrongCodesAreLimitedPerAddressAndANewCodeReplacesTheOld) {
    WebClient b(server->port());
    for (int i = 0; i < 10; ++i) {
        b.get("/");
        EXPECT_EQ(b.post("/code", {{"t", b.token()}, {"kod", "AAAAAA"}}).status, 403);
    }
    b.get("/");
    EXPECT_EQ(b.post("/code", {{"t", b.token()}, {"kod", codes[4]}}).status, 429)
        << "even the right code waits";

    const QString renewed = server->renewCode(session.id, 1, 5);
    EXPECT_NE(renewed.toStdString(), codes[5]);
    EXPECT_FALSE(server->sessions().findCode(QString::fromStdString(codes[5])));
    ASSERT_TRUE(server->sessions().findCode(renewed));
    EXPECT_EQ(server->sessions().findCode(renewed)->testee, 5);
}

TEST_F(ServerTest, AGroupCodeRegistersATesteeWithTheNextNumberAndGivesAPersonalCode) {
    WebClient b(server->port());
    b.get("/");
    const HttpReply form = b.post("/code", {{"t", b.token()}, {"kod", session.groupCode.toStdString()}});
    ASSERT_EQ(form.status, 200);
    EXPECT_TRUE(contains(form.body, "Образование"));
    const std::string t = b.token();
    const HttpReply bad = b.post("/register", {{"t", t}, {"fam", "<b>Орлова</b>"}, {"nam", ""}});
    EXPECT_EQ(bad.status, 422);
    EXPECT_TRUE(contains(bad.body, "&lt;b&gt;Орлова&lt;/b&gt;")) << "names are escaped";
    const HttpReply made = b.post("/register", {{"t", b.token()},
                                                {"fam", "Орлова"},
                                                {"nam", "Вера"},
                                                {"otch", "Ильинична"},
                                                {"pol", "Ж"},
                                                {"god", "2009"},
                                                {"obr", "1"}});
    ASSERT_EQ(made.status, 200) << made.body;
    // Institution 1 numbers 1..5: the sixth.
    const auto code = server->sessions().codes(session.id);
    ASSERT_EQ(code.size(), 3u);
    EXPECT_EQ(code.back().testee, 6);
    EXPECT_TRUE(contains(made.body, code.back().code.toUtf8().constData()));
    EXPECT_EQ(
        readColumn(db->path(QStringLiteral("bd_anket.dbf")), "FAMTESTIR").count(QStringLiteral("Орлова")), 1);
    // The resent form makes no second testee.
    b.post("/register", {{"t", t}, {"fam", "Орлова"}, {"nam", "Вера"}});
    EXPECT_EQ(
        readColumn(db->path(QStringLiteral("bd_anket.dbf")), "FAMTESTIR").count(QStringLiteral("Орлова")), 1);
    EXPECT_TRUE(contains(b.get("/q").body, "Вопрос № 1 из 10"));
}

TEST(Codes, HaveNoLookAlikesAndReadCyrillicLettersAsLatin) {
    for (int i = 0; i < 200; ++i) {
        const QString c = services::makeCode();
        ASSERT_EQ(c.size(), 6);
        for (QChar ch : c)
            EXPECT_FALSE(QStringLiteral("0O1IL2Z5S8BUV").contains(ch)) << c.toStdString();
    }
    EXPECT_EQ(services::normalizeCode(QStringLiteral(" ас3-х7к ")), QStringLiteral("AC3X7K"));
    EXPECT_EQ(services::normalizeCode(QStringLiteral("AC3X7")), QString());
    EXPECT_EQ(services::normalizeCode(QStringLiteral("AC3X7Ж")), QString());
}

TEST_F(AppTest, TheServerProcessAndAWorkstationOnOneFolderMakeOneRowPerQuestion) {
    // A psychologist's workstation (this process) and `morv-db serve` (another) answer the same
    // testee's test by turns, each showing every question: one answer row per question, holding
    // the choice made last.
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {QStringLiteral("session"), db->dir(), QStringLiteral("--test"), QStringLiteral("1"),
                          QStringLiteral("--org"), QStringLiteral("1"), QStringLiteral("--testees"),
                          QStringLiteral("4")},
                         &out),
              0)
        << out.toStdString();
    const std::string code = out.split(QLatin1Char('\n'))[1].section(QLatin1Char(' '), 1, 1).toStdString();
    QProcess serve;
    serve.start(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("serve"), db->dir(), QStringLiteral("--listen"),
                                               QStringLiteral("127.0.0.1:0")});
    ASSERT_TRUE(serve.waitForReadyRead(30000));
    const QString line = QString::fromUtf8(serve.readLine());
    const uint16_t port =
        uint16_t(line.section(QLatin1Char(':'), 2).section(QLatin1Char('/'), 0, 0).toUInt());
    ASSERT_NE(port, 0) << line.toStdString();

    WebClient b(port);
    b.get("/");
    ASSERT_EQ(b.post("/code", {{"t", b.token()}, {"kod", code}}).status, 200);
    ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
    ASSERT_TRUE(chooseRun(1, 4, 1));
    inTestingWindow([&] {
        for (int q = 1; q <= 10; ++q) {
            const std::string n = std::to_string(q);
            b.get("/q?n=" + n);
            ASSERT_EQ(b.post("/answer", {{"t", b.token()}, {"q", n}, {"o", "1"}}).status, 303);
            FormTest->EditVopr->setText(QString::number(q));
            if (q % 2 == 0) chooseOption(3); // the workstation has the last word on even questions
        }
    });
    // The server's last page (question 10's successor is itself) is shown once more.
    b.get("/q?n=1");
    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(10000));

    const QList<RunRow> rows = answerRows(db->dir(), 1, 4, 1);
    ASSERT_EQ(rows.size(), 10);
    for (int q = 1; q <= 10; ++q) {
        int seen = 0;
        for (const RunRow& r : rows)
            if (r.number == q) {
                ++seen;
                EXPECT_EQ(r.value, q % 2 == 0 ? 3 : 1) << "question " << q;
            }
        EXPECT_EQ(seen, 1) << "question " << q;
    }
}
