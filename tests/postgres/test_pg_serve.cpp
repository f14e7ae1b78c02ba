// `morv-db serve` on a PostgreSQL server, spoken to by real HTTP clients: the server database
// stopped with pg_ctl and started again while testees answer, and clicks aimed at the page before.
#include "PgServer.h"
#include "TestDb.h"
#include "web/Pages.h"
#include "web/WebClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// One testee's browser on a personal code.
struct Testee {
    Testee(uint16_t port, std::string code) : b(port, false), code(std::move(code)) {}
    WebClient b;
    std::string code;
    int enter() {
        b.get("/");
        const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", code}});
        if (confirm.status != 200) return confirm.status;
        return b.post("/start", {{"t", b.token()}}).status;
    }
    HttpReply show(int q) { return b.get("/q?n=" + std::to_string(q)); }
    HttpReply choose(int q, int o) {
        return b.post("/answer", {{"t", b.token()}, {"q", std::to_string(q)}, {"o", std::to_string(o)}});
    }
};

// A page a testee may see while the database is away: Russian, and nothing of the server's own
// words, its address or the program's internals.
void expectPlainRefusal(const HttpReply& r, const QString& socketDir, const char* what) {
    EXPECT_EQ(r.status, 503) << what << ": " << r.body;
    const QString body = QString::fromStdString(r.body);
    EXPECT_TRUE(body.contains(QStringLiteral("не сохран")) || body.contains(QStringLiteral("Попробуйте")))
        << what << ": " << r.body;
    EXPECT_TRUE(body.contains(QStringLiteral("ещё раз"))) << what << ": " << r.body;
    for (const QString& internal :
         {socketDir, QStringLiteral("postgresql"), QStringLiteral("morv@"), QStringLiteral("connection"),
          QStringLiteral("server"), QStringLiteral("bd_"), QStringLiteral("Table")})
        EXPECT_FALSE(body.contains(internal, Qt::CaseInsensitive))
            << what << " shows '" << internal.toStdString() << "': " << r.body;
}

class PgOutageTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        own = PgServer::startPrivate(&why); // stopping it would break the other tests' connections
        if (!own) {
            if (qEnvironmentVariable("CI") == QLatin1String("true")) FAIL() << why.toStdString();
            GTEST_SKIP() << why.toStdString();
        }
        url = own->newDatabase();
        QString out;
        ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", url}, &out), 0) << out.toStdString();
        ASSERT_EQ(runCommand(MORV_DB_TOOL,
                             {"session", url, "--test", "2", "--org", "1", "--testees", "1,2,3,4", "--group"},
                             &out),
                  0)
            << out.toStdString();
        for (int t = 1; t <= 4; ++t)
            codes.push_back(
                QRegularExpression(QStringLiteral("^%1 (\\w+)$").arg(t), QRegularExpression::MultilineOption)
                    .match(out)
                    .captured(1)
                    .toStdString());
        ASSERT_EQ(codes.back().size(), 6u) << out.toStdString();
        serve.start(QStringLiteral(MORV_DB_TOOL), {"serve", url, "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(serve.waitForReadyRead(30000)) << serve.readAllStandardError().toStdString();
        port = uint16_t(
            QRegularExpression(":(\\d+)/").match(QString::fromUtf8(serve.readLine())).captured(1).toUInt());
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        if (serve.state() != QProcess::NotRunning) {
            serve.terminate();
            serve.waitForFinished(10000);
        }
    }
    // The stored choice of a testee's question, as psql reads it; empty for no row.
    QString stored(int testee, int q) {
        return psqlText(url, QStringLiteral("SELECT string_agg(otvet::int::text, ',') FROM bd_rezult WHERE "
                                            "nomu = 1 AND nomtestir = %1 AND nomtesta = 2 AND nomvopr = %2")
                                 .arg(testee)
                                 .arg(q));
    }
    bool serving() { return serve.state() == QProcess::Running; }
    std::unique_ptr<PgServer, PgServer::Stop> own;
    QString url;
    std::vector<std::string> codes;
    QProcess serve;
    uint16_t port = 0;
};

TEST_F(PgOutageTest, TheServerOutlivesTheDatabaseStoppingAndStoresTheNextClicksOnceItIsBack) {
    std::vector<std::unique_ptr<Testee>> t;
    for (int i = 0; i < 4; ++i)
        t.push_back(std::make_unique<Testee>(port, codes[size_t(i)]));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(t[size_t(i)]->enter(), 303) << "testee " << i + 1;
        for (int q = 1; q <= 5; ++q) {
            ASSERT_EQ(t[size_t(i)]->show(q).status, 200);
            ASSERT_EQ(t[size_t(i)]->choose(q, 1).status, 303) << "testee " << i + 1 << " question " << q;
        }
    }
    ASSERT_EQ(t[1]->show(6).status, 200); // testee 2 has question 6 on screen when the server stops

    for (int outage = 1; outage <= 2; ++outage) {
        SCOPED_TRACE("outage " + std::to_string(outage));
        own->halt();
        if (outage == 1) {
            // A code that cannot be looked up is neither wrong nor the sign of a closed session.
            ASSERT_EQ(t[3]->b.get("/").status, 200);
            const HttpReply entry = t[3]->b.post("/code", {{"t", t[3]->b.token()}, {"kod", t[3]->code}});
            expectPlainRefusal(entry, own->socketDir(), "code");
        }
        // Every step is refused in plain words; nothing of it is stored, and nobody is sent away.
        expectPlainRefusal(t[2]->b.post("/finish", {{"t", t[2]->b.token()}}), own->socketDir(), "finish");
        expectPlainRefusal(t[1]->choose(6, 2), own->socketDir(), "answer");
        EXPECT_FALSE(t[1]->b.cookies().empty()) << "the browser keeps its run";
        ASSERT_TRUE(serving()) << serve.readAllStandardError().toStdString();
        own->resume();

        // At once, not after some grace time: the session is open, and the clicks are stored.
        const HttpReply q6 = t[0]->show(6);
        ASSERT_EQ(q6.status, 200) << q6.body;
        const HttpReply saved = t[0]->choose(6, outage);
        ASSERT_EQ(saved.status, 303) << saved.body;
        EXPECT_EQ(stored(1, 6), QString::number(outage));
        ASSERT_TRUE(serving()) << serve.readAllStandardError().toStdString();
        ASSERT_EQ(t[1]->show(6).status, 200);
        if (outage == 1) {
            EXPECT_EQ(stored(2, 6), "-1") << "the refused answer is not stored";
            EXPECT_EQ(t[3]->enter(), 303) << "the code entered during the outage works now";
            const HttpReply first = t[3]->show(1);
            EXPECT_EQ(first.status, 200) << first.body;
            EXPECT_EQ(t[3]->choose(1, 0).status, 303);
        }
    }
    EXPECT_EQ(t[1]->choose(6, 0).status, 303);
    EXPECT_EQ(stored(2, 6), "0");
    EXPECT_EQ(stored(4, 1), "0");
    ASSERT_TRUE(serving());
    // What went wrong is in the server's log, for the administrator.
    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(10000));
    const QString log = QString::fromUtf8(serve.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("/answer")) && log.contains(QStringLiteral("connect")))
        << log.toStdString();
}

TEST_F(PgOutageTest, AClickThePageSaysWasAimedAtThePageBeforeAnswersNothing) {
    Testee b(port, codes[1]); // testee 2 has no earlier run of the test
    ASSERT_EQ(b.enter(), 303);
    auto click = [&](int q, std::map<std::string, std::string> said) {
        b.show(q);
        said.insert({{"t", b.b.token()}, {"q", std::to_string(q)}, {"o", "1"}});
        return b.b.post("/answer", said);
    };
    // The second click of a double click, and a click made before the page had been on screen
    // long enough to be read (or before it was shown at all): refused, the question unanswered.
    for (const std::map<std::string, std::string>& said : std::vector<std::map<std::string, std::string>>{
             {{"d", "2"}, {"w", "5000"}}, {{"d", "1"}, {"w", "40"}}, {{"d", "1"}, {"w", "-120"}}}) {
        const HttpReply r = click(2, said);
        EXPECT_EQ(r.status, 409) << said.at("w") << ": " << r.body;
        EXPECT_NE(r.body.find("ответ на него не сохранён"), std::string::npos) << r.body;
        EXPECT_NE(r.body.find("Вопрос № 2 из"), std::string::npos) << "the same question again";
        EXPECT_EQ(stored(2, 2), "-1");
    }
    // A click on a page read for a while, one of any age, and a form sent without the script.
    EXPECT_EQ(click(2, {{"d", "1"}, {"w", std::to_string(web::pages::kReadMs)}}).status, 303);
    EXPECT_EQ(stored(2, 2), "1");
    EXPECT_EQ(click(3, {{"d", "0"}, {"w", "123456789"}}).status, 303);
    EXPECT_EQ(click(4, {}).status, 303);
    EXPECT_EQ(stored(2, 3) + stored(2, 4), "11");
}

} // namespace
