#pragma once

namespace pg {

// Lets schema::countTestee and schema::eraseTestee reach a server database.
void registerEraser();

} // namespace pg
