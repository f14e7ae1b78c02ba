#include "widgets/ProgramLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

// A window says "подробности записаны в журнал программы": they must be in a file the user can
// find, whatever started the program, and the file must not grow without end.
TEST(ProgramLog, WarningsReachTheFileInTheSettingsFolderAndTheFileIsKeptSmall) {
    QTemporaryDir settings;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    // The log passes each message on to the handler before it: a silent one, so that the
    // megabyte below does not flood the test's output.
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    ui::installProgramLog();

    const QString log = ui::programLogFile();
    EXPECT_TRUE(log.startsWith(settings.path()));
    qWarning("server refused: permission denied for table bd_test");
    qDebug("chatter that is not kept");
    const QByteArray text = readAll(log);
    EXPECT_TRUE(text.contains("warning: server refused: permission denied for table bd_test"))
        << text.constData();
    EXPECT_FALSE(text.contains("chatter"));

    // Past a megabyte the file starts again and the older part is kept beside it.
    const QString line(2000, QLatin1Char('x'));
    for (int i = 0; i < 600; ++i)
        qWarning("%s", qPrintable(line));
    qWarning("the newest line");
    EXPECT_LE(QFile(log).size(), (1 << 20) + 4096);
    EXPECT_TRUE(QFile::exists(log + QStringLiteral(".old")));
    EXPECT_TRUE(readAll(log).contains("the newest line"));

    qInstallMessageHandler(before);
    qputenv("XDG_CONFIG_HOME", old);
}
