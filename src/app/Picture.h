#pragma once
#include <QIcon>
#include <QPixmap>

class QPainter;

// The program's picture for the splash window and the about box, 237 × 317, drawn by the program.
QPixmap ProgramPicture();
// The same drawing on any painter, in the picture's 237 × 317 coordinates (for vector output).
void PaintProgramPicture(QPainter& p);
// The program's icon: the head and its letter from the picture, on a square.
QIcon ProgramIcon();
// One square of the icon, of side size, on any painter (pixels or vector).
void PaintProgramIcon(QPainter& p, int size);
