#pragma once
#include "web/TestServer.h"

#include <QString>
#include <vector>

class QTableWidget;

// Watching a running session: the testees' table and its total line.
namespace group {

// The state as the psychologist reads it: «не начат», «отвечает», «закончил», «обработан»,
// «перешёл на другое устройство».
QString stateText(web::RunState state);

// Testees who may still click: answering, all answered but not yet ended, or gone to another
// device. Closing the session now would stop them.
int stillAnswering(const std::vector<web::TesteeStatus>& status);

// "Всего N: не начали …, отвечают …, закончили …, обработано …, на другом устройстве …. Ответов A из T."
QString totalsText(const std::vector<web::TesteeStatus>& status);

// Shows status in grid, one row per testee in the given order (name, code, answered of total,
// last activity, state); cells are rewritten only where they changed, so a refresh every second
// of 200 rows costs little. The first column's Qt::UserRole holds the institution and the
// testee number (a QPoint: x institution, y testee).
void showStatus(QTableWidget* grid, const std::vector<web::TesteeStatus>& status);

} // namespace group
