#pragma once
#include <QString>
#include <QStringList>

namespace pg {

class Connection;

// What an upgrade of a database made by an older program did.
struct UpgradeReport {
    QStringList added;    // what it made or granted, one line each; empty: nothing to do
    QStringList warnings; // what it could not mend and who can
};

// Adds, in one transaction, what a database made by an older program lacks: the ten tables'
// indexes and unique keys, the change-notice triggers, the optional tables with their keys, and
// the ten tables' grants on the optional ones. A failure leaves the database as it was.
UpgradeReport upgradeDatabase(const QString& url);

// The tables that should tell other workstations of their changes and have no trigger for it.
QStringList tablesWithoutNotice(const QString& url);

// Grants table (and its row-id sequence) what the institutions' table and its sequence are
// granted and it lacks, so that it reaches the same roles as the ten; returns what it granted,
// one line a role. The caller must be able to grant as the table's owner.
QStringList grantAsTheTen(Connection& c, const QString& table);
// The same lines, without granting.
QStringList missingGrants(Connection& c, const QString& table);

} // namespace pg
