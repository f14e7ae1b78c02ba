#pragma once
#include "reports/Report.h"

#include <QString>
#include <vector>

namespace reports {

struct Slip {
    QString name;
    QString code;
};

// One slip per testee (name, code, address, the address as a QR code), several per A4 page;
// groupCode non-empty adds a slip for registering in the browser. Throws ReportError when the
// address cannot be put in a QR code.
Report slipsReport(const QString& testName, const QString& orgName, const QString& address,
                   const std::vector<Slip>& slips, const QString& groupCode = {});

// The address a slip's QR code carries: address (http:// added when it names no scheme) with the
// code in the query, which the server's first page puts in its code field.
QString slipAddress(const QString& address, const QString& code);

} // namespace reports
