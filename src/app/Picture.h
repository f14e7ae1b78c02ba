#pragma once
#include <QPixmap>

// The program's picture for the splash window and the about box, 237 × 317, drawn by the program.
QPixmap ProgramPicture();
