#pragma once
#include <QPixmap>

// The night city skyline of the two details windows: 240 × 180 in the 16 standard colours,
// drawn by the program.
QPixmap SkylinePicture();
