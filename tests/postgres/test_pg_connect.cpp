// Reaching a server database from the program: the first-start choice, the password asked at
// start, and what the start says when the server refuses or lacks the tables. The windows are the
// real ones; what is stored is read back with psql.
#include "PgConnection.h"
#include "PgSchema.h"
#include "PgServer.h"
#include "PgStore.h"
#include "TestDb.h"
#include "UiTest.h"
#include "app/FirstStart.h"
#include "app/Main.h"
#include "app/ServerLogin.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Aliases.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What psql prints for a query, one line a row.
QStringList psql(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class PgConnectTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PG_SERVER(s);
        server = s;
        pg::PgStore::registerScheme();
        db::Aliases::unbind(QStringLiteral("morv"));
        oldConfig_ = qgetenv("MORV_ALIASES");
        oldPassFile_ = qgetenv("PGPASSFILE");
        qputenv("MORV_ALIASES", home.filePath("aliases.ini").toUtf8());
        // A developer's own ~/.pgpass must not answer for the dialog.
        QFile(home.filePath("pgpass")).open(QIODevice::WriteOnly);
        QFile::setPermissions(home.filePath("pgpass"), QFile::ReadOwner | QFile::WriteOwner);
        qputenv("PGPASSFILE", home.filePath("pgpass").toUtf8());
        InstallServerPasswordPrompt();
        messages = std::make_unique<MessageRecorder>();
    }
    void TearDown() override {
        if (started_) DestroyApplicationForms();
        db::Aliases::unbind(QStringLiteral("morv"));
        qputenv("MORV_ALIASES", oldConfig_);
        if (oldPassFile_.isEmpty())
            qunsetenv("PGPASSFILE");
        else
            qputenv("PGPASSFILE", oldPassFile_);
        pg::setPasswordPrompt({});
        ForgetServerPasswords();
        pg::Connection::dropShared();
    }
    // Answers the first-start window with the server choice and the address; Cancel when it stays.
    bool chooseServer(const QString& url) {
        whenModal([=](QWidget* w) {
            child<QRadioButton>(w, "RadioServer")->setChecked(true);
            EXPECT_TRUE(child<QLineEdit>(w, "EditUrl")->isVisible());
            EXPECT_FALSE(child<QLineEdit>(w, "EditFolder")->isVisible());
            child<QLineEdit>(w, "EditUrl")->setText(url);
            child<QPushButton>(w, "OKBtn")->click();
            if (w->isVisible()) child<QPushButton>(w, "CancelBtn")->click();
        });
        return EnsureDatabaseChosen();
    }
    QString stored() {
        return QSettings(home.filePath("aliases.ini"), QSettings::IniFormat).value("morv/path").toString();
    }
    void start() {
        InitApplication();
        CreateApplicationForms();
        started_ = true;
    }
    // The last message shown, or nothing.
    std::string lastMessage() const {
        return messages->entries.empty() ? std::string() : messages->entries.back().text.toStdString();
    }

    PgServer* server = nullptr;
    QTemporaryDir home;
    std::unique_ptr<MessageRecorder> messages;
    bool started_ = false;

private:
    QByteArray oldConfig_, oldPassFile_;
};

TEST_F(PgConnectTest, TheServerChoiceSaysWhatIsWrongMakesTheTablesWithTheDictionariesAndStarts) {
    // Nothing answers at the address: said so, nothing bound.
    QString why;
    const QString url = server->newDatabase();
    QString nowhere = url;
    nowhere.replace(QStringLiteral("host=") + server->socketDir(),
                    QStringLiteral("host=") + home.filePath("none"));
    EXPECT_FALSE(chooseServer(nowhere));
    EXPECT_NE(lastMessage().find("не отвечает"), std::string::npos) << lastMessage();
    EXPECT_FALSE(QFile::exists(home.filePath("aliases.ini")));
    // A role the server does not know.
    QString stranger = url;
    stranger.replace("postgresql://morv@", "postgresql://stranger@");
    EXPECT_FALSE(chooseServer(stranger));
    EXPECT_NE(lastMessage().find("отказал во входе"), std::string::npos) << lastMessage();
    EXPECT_NE(lastMessage().find("stranger"), std::string::npos) << lastMessage();
    EXPECT_FALSE(QFile::exists(home.filePath("aliases.ini")));
    // Not a server address at all.
    EXPECT_FALSE(chooseServer(home.path()));
    EXPECT_NE(lastMessage().find("postgresql://"), std::string::npos) << lastMessage();

    // An empty database: the user is offered the tables and says no; nothing is made.
    messages->answer = false;
    EXPECT_FALSE(chooseServer(url));
    EXPECT_NE(lastMessage().find("Создать их со стандартными справочниками?"), std::string::npos);
    EXPECT_EQ(psql(url, "SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'"),
              QStringList{"0"});
    // Says yes: the ten tables and the five optional ones, the dictionaries as `morv-db sample` writes them
    // into a folder (read there by dbfread), and the alias.
    messages->answer = true;
    messages->clear();
    ASSERT_TRUE(chooseServer(url)) << lastMessage();
    EXPECT_EQ(messages->entries.size(), 1u); // the question only
    EXPECT_EQ(stored(), url);
    EXPECT_EQ(psql(url, "SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'"),
              QStringList{"15"});
    QTemporaryDir folder;
    ASSERT_EQ(runCommand(MORV_DB_TOOL, {"sample", folder.filePath("db")}, &why), 0) << why.toStdString();
    const QStringList dictionary = peerDump(folder.filePath("db"), "bd_sprav");
    ASSERT_FALSE(dictionary.isEmpty());
    QStringList texts;
    for (const QString& row : dictionary)
        texts << QJsonDocument::fromJson(row.toUtf8()).object().value("TEXT").toString().trimmed();
    EXPECT_EQ(psql(url, "SELECT rtrim(text) FROM bd_sprav ORDER BY id"), texts);
    // The program starts on it.
    start();
    EXPECT_EQ(BD->Table_org->recordCount(), 0);
    EXPECT_EQ(BD->Table_spr_obr->recordCount(),
              psql(url, "SELECT count(*) FROM bd_sprav WHERE sprav = 2").value(0).toInt());
}

TEST_F(PgConnectTest, APasswordTypedIntoTheAddressServesTheStartButIsNeverWrittenDown) {
    const QString url = server->newDatabase();
    pg::createDatabase(url);
    QString withPassword = url;
    withPassword.replace("postgresql://morv@", "postgresql://morv:Geheim-7@");
    ASSERT_TRUE(chooseServer(withPassword)) << lastMessage();
    EXPECT_FALSE(stored().contains("Geheim-7")) << stored().toStdString();
    QFile ini(home.filePath("aliases.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_FALSE(ini.readAll().contains("Geheim"));
    EXPECT_EQ(pg::Connection::safeUrl(stored()), pg::Connection::safeUrl(url));
    EXPECT_NE(lastMessage().find("Пароль из адреса не записан"), std::string::npos) << lastMessage();
    // A database with only some of the tables is refused and named.
    const QString half = server->newDatabase();
    pg::Connection(half).exec("CREATE TABLE bd_org (id serial)");
    db::Aliases::unbind("morv");
    QFile::remove(home.filePath("aliases.ini"));
    EXPECT_FALSE(chooseServer(half));
    EXPECT_NE(lastMessage().find("нет таблиц программы: bd_test"), std::string::npos) << lastMessage();
    EXPECT_EQ(lastMessage().find("bd_org"), std::string::npos) << lastMessage();
}

TEST_F(PgConnectTest, TheStartSaysWhenTheServerRefusesTheLoginOrLacksTheTables) {
    const QString url = server->newDatabase();
    db::Aliases::bind("morv", url);
    EXPECT_FALSE(ServerDatabaseReady());
    EXPECT_NE(lastMessage().find("нет таблиц программы"), std::string::npos) << lastMessage();
    EXPECT_NE(lastMessage().find("morv-db create"), std::string::npos) << lastMessage();
    QString stranger = url;
    stranger.replace("postgresql://morv@", "postgresql://stranger@");
    db::Aliases::bind("morv", stranger);
    EXPECT_FALSE(ServerDatabaseReady());
    EXPECT_NE(lastMessage().find("отказал во входе"), std::string::npos) << lastMessage();
    pg::createDatabase(url);
    db::Aliases::bind("morv", url);
    messages->clear();
    EXPECT_TRUE(ServerDatabaseReady());
    EXPECT_TRUE(messages->entries.empty()) << lastMessage();
}

// A server that wants a password over TCP, and a role that has one.
class PgPasswordTest : public PgConnectTest {
protected:
    void SetUp() override {
        PgConnectTest::SetUp();
        if (IsSkipped() || HasFailure()) return;
        QString why;
        own = PgServer::startWithTcp(&why);
        ASSERT_TRUE(own) << why.toStdString();
        pg::Connection admin(own->adminUrl());
        admin.exec(QStringLiteral("CREATE ROLE ivanova LOGIN PASSWORD '%1'").arg(password()));
        admin.exec("CREATE DATABASE office OWNER ivanova");
        const QString asSuperuser = QStringLiteral("postgresql://morv@/office?host=%1&port=%2")
                                        .arg(own->socketDir())
                                        .arg(own->port());
        pg::createDatabase(asSuperuser);
        pg::Connection(asSuperuser).exec("GRANT ALL ON ALL TABLES IN SCHEMA public TO ivanova");
        url = QStringLiteral("postgresql://ivanova@127.0.0.1:%1/office").arg(own->port());
        db::Aliases::bind("morv", url);
    }
    // Who psql sees logged in over TCP to the database, as the server's sessions list says.
    QStringList loggedIn() {
        return psql(own->adminUrl(), "SELECT usename FROM pg_stat_activity WHERE datname = 'office' AND "
                                     "client_addr = '127.0.0.1'");
    }
    static QString password() { return QStringLiteral("Сова-42"); }
    std::unique_ptr<PgServer, PgServer::Stop> own;
    QString url;
};

TEST_F(PgPasswordTest, TheStartAsksForThePasswordSaysWhenItIsWrongAndLogsInWithTheRightOne) {
    int asked = 0;
    whenModal([&](QWidget* w) {
        ++asked;
        EXPECT_EQ(w->objectName(), "FormServerPassword");
        EXPECT_EQ(child<QLineEdit>(w, "EditPassword")->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(child<QLabel>(w, "LabelServer")->text().contains("ivanova"));
        EXPECT_TRUE(child<QLabel>(w, "LabelProblem")->text().isEmpty());
        typeText(child<QLineEdit>(w, "EditPassword"), QStringLiteral("сова-42"));
        whenModal([&](QWidget* again) {
            ++asked;
            EXPECT_TRUE(child<QLabel>(again, "LabelProblem")->text().contains("не принял"));
            typeText(child<QLineEdit>(again, "EditPassword"), password());
            clickButton(again, "OKBtn");
        });
        clickButton(w, "OKBtn");
    });
    ASSERT_TRUE(ServerDatabaseReady()) << lastMessage();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(messages->entries.empty()) << lastMessage();
    EXPECT_TRUE(loggedIn().contains("ivanova"));
    // The program starts without asking again: the tables' connections reuse what was given.
    start();
    EXPECT_EQ(BD->Table_org->recordCount(), 0);
    EXPECT_EQ(asked, 2);
}

TEST_F(PgPasswordTest, CancelStopsTheStartWithAPlainMessageAndPgpassAnswersWithoutAsking) {
    whenModal([](QWidget* w) { clickButton(w, "CancelBtn"); });
    EXPECT_FALSE(ServerDatabaseReady());
    EXPECT_NE(lastMessage().find("Пароль не введён"), std::string::npos) << lastMessage();
    EXPECT_TRUE(loggedIn().isEmpty());

    // With the password in the pass file, no window opens.
    QFile pass(home.filePath("pgpass"));
    ASSERT_TRUE(pass.open(QIODevice::WriteOnly));
    pass.write(QStringLiteral("127.0.0.1:%1:office:ivanova:%2\n").arg(own->port()).arg(password()).toUtf8());
    pass.close();
    messages->clear();
    pg::setPasswordPrompt([](const QString&, const QString&) -> QString {
        ADD_FAILURE() << "asked for a password the pass file holds";
        return {};
    });
    EXPECT_TRUE(ServerDatabaseReady()) << lastMessage();
    EXPECT_TRUE(loggedIn().contains("ivanova"));
}

} // namespace
