#pragma once
#include <QString>
#include <exception>

namespace db {

// The user's words for a fault of the data layer: what happened and what to do, in Russian.
// The engine's English text is for logs and the command-line tool; the texts the program fixes
// word for word (conversion errors, a record locked, a bad range) pass through unchanged.
QString userText(const std::exception& e);

// A field of the program's tables as its window calls it («Фамилия» for FAMTESTIR); the name
// itself when it has no caption.
QString fieldCaption(const QString& field);

// A file as the user knows it: its name without the folder.
QString shownFile(const QString& path);

} // namespace db
