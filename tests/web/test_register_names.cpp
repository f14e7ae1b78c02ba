// A name the tables cannot hold, typed on the browser's registration form of `morv-db serve`:
// the form comes back with what was typed and a Russian message naming the field and the
// letter, and nothing is stored.
#include "WebClient.h"
#include "app/AppFixture.h"

#include <QProcess>

namespace {

bool contains(const std::string& body, const std::string& text) {
    return body.find(text) != std::string::npos;
}

// A `morv-db serve` of dir, stopped at the end of the test.
struct ServeProcess {
    explicit ServeProcess(const QString& dir) {
        p.start(QStringLiteral(MORV_DB_TOOL),
                {QStringLiteral("serve"), dir, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        if (!p.waitForReadyRead(30000)) return;
        const QString line = QString::fromUtf8(p.readLine());
        port = uint16_t(line.section(QLatin1Char(':'), 2).section(QLatin1Char('/'), 0, 0).toUInt());
    }
    ~ServeProcess() {
        p.terminate();
        p.waitForFinished(10000);
    }
    QProcess p;
    uint16_t port = 0;
};

} // namespace

TEST_F(AppTest, ABrowserNameTheTablesCannotHoldComesBackInRussianAndStoresNothing) {
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL),
                         {QStringLiteral("session"), db->dir(), QStringLiteral("--test"), QStringLiteral("1"),
                          QStringLiteral("--org"), QStringLiteral("1"), QStringLiteral("--testees"),
                          QStringLiteral("4"), QStringLiteral("--group")},
                         &out),
              0)
        << out.toStdString();
    std::string group;
    for (const QString& line : out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("group ")))
            group = line.section(QLatin1Char(' '), 1, 1).toStdString();
    ASSERT_FALSE(group.empty()) << out.toStdString();
    ServeProcess serve(db->dir());
    ASSERT_NE(serve.port, 0);
    const QByteArray anket = bytesOf(db->path(QStringLiteral("bd_anket.dbf")));

    struct Case {
        const char* what;
        std::string surname;
        std::string named; // the letter the message must name, empty for bytes that are no text
    };
    const std::vector<Case> cases = {
        {"a Polish letter", "Łukasz", "Ł"},
        {"an emoji from a phone keyboard", "Оля😀", "😀"},
        {"bytes that are not UTF-8", "Ol\xff\xfe", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WebClient b(serve.port, false);
        b.get("/");
        ASSERT_EQ(b.post("/code", {{"t", b.token()}, {"kod", group}}).status, 200);
        const HttpReply r = b.post("/register", {{"t", b.token()},
                                                 {"fam", c.surname},
                                                 {"nam", "Вера"},
                                                 {"otch", "Ильинична"},
                                                 {"pol", "Ж"},
                                                 {"god", "2009"}});
        EXPECT_EQ(r.status, 422) << r.body;
        EXPECT_TRUE(contains(r.body, "Фамилия")) << r.body;
        if (!c.named.empty()) {
            EXPECT_TRUE(contains(r.body, "«" + c.named + "»")) << r.body;
            EXPECT_TRUE(contains(r.body, "value=\"" + c.surname + "\"")) << "the typed name comes back";
        }
        EXPECT_TRUE(contains(r.body, "value=\"Ильинична\"")) << "the rest of the form comes back";
        EXPECT_FALSE(contains(r.body, "FAMTESTIR") || contains(r.body, "cannot hold")) << r.body;
    }
    EXPECT_EQ(bytesOf(db->path(QStringLiteral("bd_anket.dbf"))), anket) << "a refused name stored something";
    // The form sent again with the name put right registers the testee.
    WebClient b(serve.port, false);
    b.get("/");
    ASSERT_EQ(b.post("/code", {{"t", b.token()}, {"kod", group}}).status, 200);
    const HttpReply fixed = b.post(
        "/register", {{"t", b.token()}, {"fam", "Lukasz"}, {"nam", "Вера"}, {"pol", "Ж"}, {"god", "2009"}});
    EXPECT_EQ(fixed.status, 200) << fixed.body;
    EXPECT_EQ(
        readColumn(db->path(QStringLiteral("bd_anket.dbf")), "FAMTESTIR").count(QStringLiteral("Lukasz")), 1);
}
