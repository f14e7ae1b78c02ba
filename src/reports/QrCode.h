#pragma once
#include "reports/Report.h"

#include <QImage>
#include <QString>

// QR codes (error correction M, the text as UTF-8 in 8-bit mode), as an image for the screen
// and as a module matrix for reports, which draw it as vector squares so that it prints sharp.
namespace reports {

// Throws ReportError when text is empty or too long for a QR code.
QrMatrix qrMatrix(const QString& text);

// Black modules of moduleSize pixels on white, with a quiet zone of quietModules modules.
// Throws ReportError if it cannot encode.
QImage qrImage(const QString& text, int moduleSize, int quietModules = 4);

} // namespace reports
