#pragma once
#include "widgets/Form.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
namespace ui {
class ProgressBar;
}

// "Экспорт результатов": a test's scores or answers, for the current institution or all of
// them, written to an SPSS, Excel or CSV file for research elsewhere.
class TFormExport : public ui::Form {
    Q_OBJECT
public:
    explicit TFormExport(QWidget* parent = nullptr);

    QComboBox* ComboTest;
    QRadioButton *RadioOrg, *RadioAll, *RadioScores, *RadioPlaces, *RadioPoints;
    QCheckBox *CheckAnonymous, *CheckBirthYear;
    QComboBox* ComboFormat;
    QLineEdit* EditFile;
    QPushButton *ButtonBrowse, *ButtonExport, *ButtonClose;
    ui::ProgressBar* PB;
    QLabel* LabelDone;

    void ButtonBrowseClick();
    void ButtonExportClick();
    void ComboFormatChange();

protected:
    void FormActivate() override;

private:
    QString currentExtension() const;
};

extern TFormExport* FormExport;

// The menu item "Экспорт…" (MenuExport), which opens the window; for the reports menu.
QAction* AddExportItem(QMenu* menu);
