#pragma once
#include "widgets/Form.h"

class QPushButton;
namespace ui {
class DBChart;
class DBGrid;
class DBText;
class Panel;
} // namespace ui

namespace scoring {

// The two chart windows: the current test's name on top, the chart of the current testee's
// scores in it beside the levels the test defines, and a close button. They differ in the kind
// of chart only.
class ChartWindow : public ui::Form {
    Q_OBJECT
public:
    ChartWindow(const char* name, bool pie, QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3, *Panel4;
    ui::DBText* DBText1;
    QPushButton *ButtonClose, *ButtonPrint;
    ui::DBChart* DBChart1;
    ui::DBGrid* DBGrid1;

    void ButtonCloseClick();
    void ButtonPrintClick();

protected:
    // Restricts the scores to the current run and reopens the levels of the current test; the
    // chart and the list follow their data by themselves.
    void FormActivate() override;
};

} // namespace scoring
