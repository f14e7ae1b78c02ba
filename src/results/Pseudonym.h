#pragma once
#include <QString>

namespace results {

// The code that stands for a testee in data and reports without names: "institution-testee".
inline QString pseudonym(int org, int testee) {
    return QStringLiteral("%1-%2").arg(org).arg(testee);
}

} // namespace results
