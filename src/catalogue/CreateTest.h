#pragma once
#include "widgets/Form.h"

class QLineEdit;
class QPushButton;
namespace ui {
class DBGrid;
class DBLookupListBox;
class Panel;
} // namespace ui

// "Создание теста": the catalogue tables side by side, narrowed to one test on demand, edited in
// place. It checks nothing: numbering and links are the author's business.
class TFormCreateTest : public ui::Form {
    Q_OBJECT
public:
    explicit TFormCreateTest(QWidget* parent = nullptr);

    ui::Panel *Panel1, *Panel2, *Panel3, *Panel5;
    ui::DBGrid *DBGrid1, *DBGrid2, *DBGrid3, *DBGrid4, *DBGrid5;
    ui::DBLookupListBox* DBLookupListBox1;
    QLineEdit* EditTest;
    QPushButton *ButtonTest, *Button1;
    QPushButton *ButtonExport, *ButtonImport; // «Экспорт теста…», «Импорт теста…»

    void ButtonTestClick();
    void Button1Click();
    void DBGrid1DblClick();
    void DBGrid5DblClick();
    void DBGrid1TitleClick();
    void DBGrid2TitleClick();
    void DBGrid3TitleClick();
    void DBGrid4TitleClick();
    void DBGrid5TitleClick();
    // The test of the box as one file; a file's test into the catalogue (CreateTestFiles.cpp).
    void ButtonExportClick();
    void ButtonImportClick();

private:
    void buildGrids();
};

extern TFormCreateTest* FormCreateTest;
