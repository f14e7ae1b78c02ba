#pragma once
#include <QByteArray>
#include <QString>

// Damage from outside, as another program or a broken disk would leave a database file.

// The root node of a production index's first tag claims 0xFFFFFFFF keys.
void spoilIndexRoot(const QString& mdx);
// The first tag's key expression becomes expr.
void spoilTagExpression(const QString& mdx, const QByteArray& expr);
// Where a field of a record lies in a .dbf, read from its header; -1 for no such field.
qint64 fieldOffset(const QString& dbf, int rec, const char* field);
