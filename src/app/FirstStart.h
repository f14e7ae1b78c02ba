#pragma once
#include "widgets/Form.h"

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
namespace ui {
class PathEdit;
}

// The first start from the desktop, before any database is bound: a new database, an existing
// folder, the demonstration one, or a database on a server. Binds the alias and leaves the rest
// to the normal start.
class TFormFirstStart : public ui::Form {
    Q_OBJECT
public:
    explicit TFormFirstStart(QWidget* parent = nullptr);

    QLabel* Label1;
    QRadioButton *RadioNew, *RadioExisting, *RadioDemo, *RadioServer;
    QLabel* Label2;
    ui::PathEdit* EditFolder;
    QLineEdit* EditUrl;
    QLabel* LabelUrlHint;
    QPushButton *BrowseBtn, *CheckBtn, *OKBtn, *CancelBtn;

    // Makes or checks the chosen folder and binds the alias; on failure says why and stays open.
    void OKBtnClick();
    void BrowseBtnClick();
    // Connects to the server named and says what is there.
    void CheckBtnClick();

private:
    // The server choice: checks, offers to make the tables, binds the alias; false stays open.
    bool chooseServer();
    void choiceChanged();
    QString suggested() const;
    bool typed_ = false; // the user typed or chose a folder: switching the choice keeps it
};

// True when the alias the program opens is bound to a folder.
bool DatabaseAliasBound();
// Shows the first-start window when no alias is bound; false when the user gave up.
bool EnsureDatabaseChosen();

// The program's tables missing from dir (compared without case), in the data module's order.
QStringList MissingTables(const QString& dir);
// The program's tables dir already holds.
QStringList PresentTables(const QString& dir);
