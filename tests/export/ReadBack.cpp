#include "ReadBack.h"
#include "TestDb.h"

#include <QDir>
#include <QJsonDocument>
#include <gtest/gtest.h>

QJsonObject readBack(const QString& path, const QString& csvSeparator) {
    QByteArray out, err;
    const int code = runSeparate(testTool(QStringLiteral("export-read")), {path, csvSeparator}, &out, &err);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_TRUE(doc.isObject()) << error.errorString().toStdString() << ": " << out.left(500).toStdString();
    return doc.object();
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}
