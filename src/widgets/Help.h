#pragma once
#include <QPoint>
#include <QString>

class QWidget;

// Our stand-in for the platform's help viewer. The program names its help file by the fixed
// path; the viewer maps it to the document shipped with the program (resources/help), whose
// contents and topics for the context numbers are sections of one HTML file.
namespace ui::help {

void setHelpFile(const QString& path);
QString helpFile();

// Each reports a missing document or topic itself and returns false.
bool showContents();
bool showContext(int context);
bool showPopup(int context, const QPoint& globalPos);

// The viewer's window and the last pop-up, for tests; nullptr before first use.
QWidget* viewerWindow();
QWidget* popupWindow();
void closeAll();

} // namespace ui::help
