// Folders the user may not read: the message says what the system said and names the file.
#include "Errors.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "sql/SqlRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs step in a child process as an ordinary user (root may read anything) and returns the
// message of the error it threw, or "<no error>".
QString errorAsUser(const std::function<void()>& step) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return QStringLiteral("<no pipe>");
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        std::string out = "<no error>";
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            out = "<cannot drop root>";
        else {
            try {
                step();
            } catch (const db::EngineError& e) {
                out = e.what();
            }
        }
        (void)!write(pipeFds[1], out.data(), out.size());
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray got;
    char buf[512];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;)
        got.append(buf, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return QString::fromUtf8(got);
}

} // namespace

TEST(Permissions, AFolderThatCannotBeReadIsReportedAsSuchNotAsAMissingTable) {
    QTemporaryDir tmp;
    chmod(tmp.path().toLocal8Bit().constData(), 0755);
    const QString locked = tmp.filePath("locked");       // neither listed nor entered
    const QString enterOnly = tmp.filePath("enteronly"); // entered, not listed
    for (const QString& d : {locked, enterOnly}) {
        ASSERT_TRUE(QDir().mkpath(d));
        dbf::DbfFile::create((d + "/bd_summa.dbf").toStdString(), {{"A", 'N', 6, 0}});
        chmod((d + "/bd_summa.dbf").toLocal8Bit().constData(), 0644);
    }
    chmod(locked.toLocal8Bit().constData(), 0700);
    chmod(enterOnly.toLocal8Bit().constData(), 0711);
    auto openTable = [](const QString& path) {
        return [path] {
            db::Table t;
            t.setTableName(path);
            t.open();
        };
    };

    QString m = errorAsUser(openTable(locked + "/bd_summa.dbf"));
    EXPECT_TRUE(m.contains(locked + "/bd_summa.dbf") && m.contains("Permission denied")) << m.toStdString();
    m = errorAsUser(openTable(enterOnly + "/BD_SUMMA.DBF")); // finding another case needs the listing
    EXPECT_TRUE(m.contains(enterOnly) && m.contains("Permission denied")) << m.toStdString();
    EXPECT_EQ(errorAsUser(openTable(enterOnly + "/bd_summa.dbf")), QStringLiteral("<no error>"));

    m = errorAsUser([&] { db::sql::runSelect(enterOnly, "select * from bd_summa", {}); });
    EXPECT_TRUE(m.contains(enterOnly) && m.contains("Permission denied")) << m.toStdString();
}
