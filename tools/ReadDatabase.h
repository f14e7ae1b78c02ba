#pragma once
#include <QString>

// The database a reading command (export, analyse) reads: a server's URL, made openable, or a
// folder that exists; throws DatabaseError saying why not.
QString readableDatabase(const QString& where);
