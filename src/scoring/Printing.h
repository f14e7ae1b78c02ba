#pragma once

class QWidget;

// The reports of the current selection, each in a print preview over parent.
namespace scoring {

// The current testee's run of the current test.
void printRunReport(QWidget* parent);
// Every test the current testee took.
void printTesteeReport(QWidget* parent);
// The current institution's testees scored on the current test.
void printGroupReport(QWidget* parent, bool anonymous = false);

} // namespace scoring
