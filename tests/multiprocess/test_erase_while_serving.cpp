// `morv-db erase` while `morv-db serve` serves a class: the erasure writes the tables anew and
// renames them into place; the server goes on with the new files. Only a table put there with
// other fields stops the answers, with a message in the testee's words.
#include "TestDb.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "web/WebClient.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

namespace {

int morvDb(const QStringList& args, QString* out) {
    return runCommand(QStringLiteral(MORV_DB_TOOL), args, out);
}

// Choices stored for testee's run of test 1 in institution 1, by question.
std::map<int, int> choices(const QString& dir, int testee) {
    db::Table t;
    t.setTableName(dir + "/bd_rezult.dbf");
    t.open();
    std::map<int, int> out;
    for (t.first(); !t.eof(); t.next())
        if (t.fieldValue("NOMU").toInt() == 1 && t.fieldValue("NOMTESTIR").toInt() == testee &&
            t.fieldValue("NOMTESTA").toInt() == 1 && !t.fieldValue("OTVET").isNull())
            out[int(t.fieldValue("NOMVOPR").toInt())] = int(t.fieldValue("OTVET").toInt());
    return out;
}

class EraseWhileServing : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QProcess serve;
    uint16_t port = 0;
    std::map<int, std::string> codes;

    void SetUp() override {
        QString out;
        ASSERT_EQ(morvDb({"sample", dir.path()}, &out), 0) << out.toStdString();
        ASSERT_EQ(morvDb({"session", dir.path(), "--test", "1", "--org", "1", "--testees", "1,2,3"}, &out), 0)
            << out.toStdString();
        for (const auto& m :
             QRegularExpression("^(\\d+) (\\w{6})$", QRegularExpression::MultilineOption).globalMatch(out))
            codes[m.captured(1).toInt()] = m.captured(2).toStdString();
        serve.setProcessChannelMode(QProcess::SeparateChannels);
        serve.start(QStringLiteral(MORV_DB_TOOL), {"serve", dir.path(), "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(serve.waitForReadyRead(30000));
        port = uint16_t(
            QRegularExpression(":(\\d+)/").match(QString::fromUtf8(serve.readLine())).captured(1).toUInt());
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        serve.terminate();
        serve.waitForFinished(10000);
    }
    void enter(WebClient& b, int testee) {
        b.get("/");
        ASSERT_EQ(b.post("/code", {{"t", b.token()}, {"kod", codes[testee]}}).status, 200);
        ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
    }
    static HttpReply answer(WebClient& b, int question, int option) {
        b.get("/q?n=" + std::to_string(question));
        return b.post("/answer",
                      {{"t", b.token()}, {"q", std::to_string(question)}, {"o", std::to_string(option)}});
    }
};

} // namespace

TEST_F(EraseWhileServing, TheClassGoesOnAfterAnErasure) {
    WebClient staying(port, false), leaving(port, false);
    // The sample's runs hold answers already: each click chooses another option.
    std::map<int, int> expected = choices(dir.path(), 1);
    const auto other = [&](int q) { return expected[q] = expected.count(q) && expected[q] == 1 ? 0 : 1; };
    enter(staying, 1);
    enter(leaving, 2);
    ASSERT_EQ(answer(staying, 1, other(1)).status, 303);
    ASSERT_EQ(answer(leaving, 1, 2).status, 303);
    QString out;
    ASSERT_EQ(morvDb({"erase", dir.path(), "--org", "1", "--testee", "2"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(choices(dir.path(), 2).empty());

    // The next answers of the class are stored in the tables the erasure wrote.
    for (int q = 2; q <= 4; ++q) {
        const HttpReply r = answer(staying, q, other(q));
        EXPECT_EQ(r.status, 303) << "question " << q << ": " << r.body;
    }
    WebClient late(port, false);
    std::map<int, int> third = choices(dir.path(), 3);
    third[1] = third.count(1) && third[1] == 2 ? 3 : 2;
    enter(late, 3);
    EXPECT_EQ(answer(late, 1, third[1]).status, 303);
    EXPECT_EQ(choices(dir.path(), 1), expected);
    EXPECT_EQ(choices(dir.path(), 3), third);
    EXPECT_TRUE(choices(dir.path(), 2).empty()) << "the erased testee stays erased";
    EXPECT_EQ(morvDb({"check", dir.path()}, &out), 0) << out.toStdString();
}

TEST_F(EraseWhileServing, ATableWithOtherFieldsStopsTheAnswersInTheTesteesWords) {
    WebClient b(port, false);
    enter(b, 1);
    ASSERT_EQ(answer(b, 1, 1).status, 303);
    b.get("/q?n=2");
    const std::string page = b.token();
    // Another program puts a table of other fields in the answers' place.
    const QString other = dir.filePath("other.dbf");
    dbf::DbfFile::create(other.toStdString(), {{"NOMU", 'N', 10, 0, 0}, {"TEXT", 'C', 20, 0, 0}});
    ASSERT_TRUE(QFile::remove(dir.filePath("bd_rezult.dbf")));
    ASSERT_TRUE(QFile::rename(other, dir.filePath("bd_rezult.dbf")));
    const HttpReply refused = b.post("/answer", {{"t", page}, {"q", "2"}, {"o", "1"}});
    EXPECT_EQ(refused.status, 503);
    EXPECT_NE(refused.body.find("Ответ не сохранён"), std::string::npos) << refused.body;
    EXPECT_EQ(refused.body.find("Table"), std::string::npos) << "no internal text: " << refused.body;
    EXPECT_EQ(refused.body.find(dir.path().toStdString()), std::string::npos) << refused.body;
    serve.terminate();
    serve.waitForFinished(10000);
    const QString log = QString::fromUtf8(serve.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("bd_rezult")))
        << "the details go to the log: " << log.toStdString();
}
