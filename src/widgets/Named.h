#pragma once
#include <QString>

namespace ui {

// A control given its name (objectName) and, when there is one, its hint, as it is made.
template <typename W> W* named(W* w, const char* name, const QString& hint = {}) {
    w->setObjectName(QString::fromLatin1(name));
    if (!hint.isEmpty()) w->setStatusTip(hint);
    return w;
}

} // namespace ui
