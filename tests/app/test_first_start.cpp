// The first start from the desktop: each choice ends in the main window on the chosen database;
// a folder that is not a database is refused and nothing is bound.
#include "SampleData.h"
#include "TestDb.h"
#include "UiTest.h"
#include "app/FirstStart.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class FirstStart : public ::testing::Test {
protected:
    void SetUp() override {
        db::Aliases::unbind(QStringLiteral("morv"));
        oldConfig_ = qgetenv("MORV_ALIASES");
        qputenv("MORV_ALIASES", home.filePath("aliases.ini").toUtf8());
        messages = std::make_unique<MessageRecorder>();
    }
    void TearDown() override {
        if (started_) DestroyApplicationForms();
        db::Aliases::unbind(QStringLiteral("morv"));
        qputenv("MORV_ALIASES", oldConfig_);
    }
    // Answers the first-start window: the choice, the folder, OK (and Cancel when it stays open).
    bool choose(const char* radio, const QString& folder) {
        whenModal([=](QWidget* w) {
            child<QRadioButton>(w, radio)->setChecked(true);
            child<QLineEdit>(w, "EditFolder")->setText(folder);
            child<QPushButton>(w, "OKBtn")->click();
            if (w->isVisible()) child<QPushButton>(w, "CancelBtn")->click();
        });
        return EnsureDatabaseChosen();
    }
    // The normal start on what the window bound.
    void start() {
        InitApplication();
        CreateApplicationForms();
        started_ = true;
        ASSERT_TRUE(FormMain);
    }
    static int rows(db::Table* t) { return t->recordCount(); }
    QString boundTo() { return QFileInfo(db::Aliases::resolve(QStringLiteral("morv"))).canonicalFilePath(); }

    QTemporaryDir home;
    std::unique_ptr<MessageRecorder> messages;

private:
    QByteArray oldConfig_;
    bool started_ = false;
};

} // namespace

TEST_F(FirstStart, ANewDatabaseGetsTheTenTablesAndTheDictionariesAndStarts) {
    const QString dir = home.filePath("Моя база");
    ASSERT_TRUE(choose("RadioNew", dir));
    EXPECT_TRUE(messages->entries.empty());
    EXPECT_TRUE(MissingTables(dir).isEmpty());
    EXPECT_EQ(boundTo(), QFileInfo(dir).canonicalFilePath());
    start();
    EXPECT_EQ(QFileInfo(BD->Table_org->filePath()).canonicalPath(), QFileInfo(dir).canonicalFilePath());
    EXPECT_EQ(rows(BD->Table_org), 0);
    db::Table sprav;
    sprav.setTableName(QDir(dir).filePath("bd_sprav.dbf"));
    sprav.open();
    EXPECT_EQ(size_t(sprav.recordCount()), sample::dictionary().size());
}

TEST_F(FirstStart, AnExistingDatabaseIsBoundAsItIsAndStarts) {
    const QString dir = home.filePath("old");
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("sample"), dir}, &out), 0)
        << out.toStdString();
    // As another program keeps them: upper-case names.
    QDir d(dir);
    ASSERT_TRUE(d.rename("bd_org.dbf", "BD_ORG.DBF"));
    const QFileInfo before(d.filePath("BD_ORG.DBF"));
    ASSERT_TRUE(choose("RadioExisting", dir));
    EXPECT_TRUE(messages->entries.empty());
    start();
    EXPECT_EQ(rows(BD->Table_org), 3);
    EXPECT_EQ(QFileInfo(d.filePath("BD_ORG.DBF")).size(), before.size());
}

TEST_F(FirstStart, TheDemonstrationDatabaseHoldsTheSampleAndStarts) {
    const QString dir = home.filePath("demo");
    ASSERT_TRUE(choose("RadioDemo", dir));
    start();
    EXPECT_EQ(rows(BD->Table_org), 3);
    EXPECT_GT(rows(BD->Table_test), 0);
    EXPECT_EQ(QFileInfo(BD->Table_test->filePath()).canonicalPath(), QFileInfo(dir).canonicalFilePath());
}

TEST_F(FirstStart, AFolderWithoutTheTablesIsRefusedNamingWhatIsMissingAndNothingIsBound) {
    const QString dir = home.filePath("half");
    TestDb made; // the ten tables, of which two are taken away
    QDir().mkpath(dir);
    for (const char* f : {"bd_sprav.dbf", "bd_org.dbf"})
        QFile::copy(made.path(QString::fromLatin1(f)), QDir(dir).filePath(QString::fromLatin1(f)));
    db::Aliases::unbind(QStringLiteral("morv"));
    EXPECT_FALSE(choose("RadioExisting", dir));
    ASSERT_EQ(messages->entries.size(), 1u);
    const QString said = messages->entries[0].text;
    EXPECT_TRUE(said.contains("bd_anket.dbf") && said.contains("bd_rezult.dbf")) << said.toStdString();
    EXPECT_FALSE(said.contains("bd_org.dbf")) << said.toStdString();
    EXPECT_FALSE(DatabaseAliasBound());

    // A new database is never made over an existing one's tables.
    messages->clear();
    const qint64 size = QFileInfo(QDir(dir).filePath("bd_org.dbf")).size();
    EXPECT_FALSE(choose("RadioNew", dir));
    ASSERT_EQ(messages->entries.size(), 1u);
    EXPECT_TRUE(messages->entries[0].text.contains("bd_org.dbf"));
    EXPECT_EQ(QFileInfo(QDir(dir).filePath("bd_org.dbf")).size(), size);
    EXPECT_FALSE(QFileInfo::exists(QDir(dir).filePath("bd_anket.dbf")));
}

TEST_F(FirstStart, WithAnAliasBoundTheWindowIsNotShown) {
    TestDb bound;
    EXPECT_TRUE(EnsureDatabaseChosen()); // no modal window: a test would hang or fail here
}

TEST_F(FirstStart, EnterOnAChosenRadioButtonPressesOk) {
    const QString dir = home.filePath("demo");
    whenModal([=](QWidget* w) {
        auto* demo = child<QRadioButton>(w, "RadioDemo");
        demo->setFocus();
        QTest::keyClick(demo, Qt::Key_Space); // chosen from the keyboard
        child<QLineEdit>(w, "EditFolder")->setText(dir);
        demo->setFocus();
        QTest::keyClick(demo, Qt::Key_Return);
        if (w->isVisible()) child<QPushButton>(w, "CancelBtn")->click();
    });
    ASSERT_TRUE(EnsureDatabaseChosen()) << "Enter left the window open";
    EXPECT_TRUE(MissingTables(dir).isEmpty());
    EXPECT_EQ(boundTo(), QFileInfo(dir).canonicalFilePath());
}
