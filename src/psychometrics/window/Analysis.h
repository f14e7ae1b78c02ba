#pragma once
#include "psychometrics/ItemAnalysis.h"
#include "widgets/Form.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;

// "Анализ заданий": the item analysis of the current test, one criterion at a time, with its
// printable report.
class TFormItemAnalysis : public ui::Form {
    Q_OBJECT
public:
    explicit TFormItemAnalysis(QWidget* parent = nullptr);

    QLabel *LabelTest, *LabelSummary, *LabelNotes;
    QComboBox* ComboKrit;
    QTableWidget* GridItems;
    QPushButton *ButtonPrint, *ButtonClose;

    // Analyses test number test of the database (a folder or a server); throws AnalysisError.
    void load(const QString& database, int test);
    const psychometrics::TestAnalysis& analysis() const { return analysis_; }

    void ComboKritChange();
    void ButtonPrintClick();

private:
    psychometrics::TestAnalysis analysis_;
};

extern TFormItemAnalysis* FormItemAnalysis;

// The menu item "Анализ заданий…" (MenuItemAnalysis), which analyses the current test and opens
// the window; for the reports menu. Disabled until a test is chosen.
QAction* AddItemAnalysisItem(QMenu* menu);
