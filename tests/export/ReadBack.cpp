#include "ReadBack.h"
#include "TestDb.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

QJsonObject readBack(const QString& path, const QString& csvSeparator) {
    QProcess p;
    p.start(testTool(QStringLiteral("export-read")), {path, csvSeparator});
    p.waitForFinished(300000);
    const QByteArray out = p.readAllStandardOutput();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(doc.isObject()) << error.errorString().toStdString() << ": " << out.left(500).toStdString();
    return doc.object();
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}
