#pragma once

namespace ui {

// While a query runs longer than a moment, a progress window with "Отмена" shows and the
// program's windows keep being drawn; "Отмена" stops the query without a message.
void installQueryProgress();

} // namespace ui
