#pragma once

// Finding a window's controls by name, for the window tests and benches.

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace corvexa::test {

// The child of `parent` named `name`; the program stops when there is none.
template <typename T>
T* Find(QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("no child %s", name);
    return child;
}

}  // namespace corvexa::test
