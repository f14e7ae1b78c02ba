#pragma once

class QWidget;

namespace ui {

// Gives every focusable control of window that has no accessible name of its own the name a
// screen reader should say: the visible label that stands for it (its buddy, its form-layout
// label, or the plain label just before it in its row), else its hint, else the window's
// title. Names already set and
// names Qt takes from a control's own text are kept.
void nameControls(QWidget* window);

} // namespace ui
