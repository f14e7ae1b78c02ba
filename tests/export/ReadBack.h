#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// An exported file as programs we did not write read it (tests/tools/export-read): PSPP for
// .sav, openpyxl for .xlsx, Python's csv module for CSV. Fails the test when the reader fails.
QJsonObject readBack(const QString& path, const QString& csvSeparator = QStringLiteral(";"));

// The files a folder holds, hidden ones too: an export that failed must leave none behind.
QStringList filesIn(const QString& dir);
