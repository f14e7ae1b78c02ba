#pragma once
#include <QString>

// The psychologist's password of one office: kept as a salted Argon2id hash in a file of the
// database folder, so that every workstation on the folder checks the same one. Until it is
// changed, the program's own password opens the tables menu.
namespace office {

inline constexpr char kPasswordFile[] = "office.pwd";

// Whether typed is the office's password (read afresh from the folder each time).
bool passwordMatches(const QString& dir, const QString& typed);
bool hasOwnPassword(const QString& dir);
// Stores the hash of a new password in place of the old one, in one step; throws
// db::DatabaseError naming the file and the reason when it cannot.
void setPassword(const QString& dir, const QString& password);

} // namespace office
