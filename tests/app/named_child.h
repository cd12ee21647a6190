// Reaches a dialog's widget by the object name the dialog gave it.
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace kelo::app {

// The parent's descendant of type W named name. A missing one is said on standard error and
// thrown, which fails the test (or ends the tool) naming it, where a null pointer would crash
// without a word; the message comes first because Qt aborts on an exception that leaves one
// of its event handlers.
template <class W>
W* Child(const QObject& parent, const QString& name) {
    W* found = parent.findChild<W*>(name);
    if (found == nullptr) {
        const std::string missing = "no " + std::string(W::staticMetaObject.className()) +
                                    " named \"" + name.toStdString() + "\" in " +
                                    parent.metaObject()->className();
        std::fprintf(stderr, "%s\n", missing.c_str());
        throw std::logic_error(missing);
    }
    return found;
}

}  // namespace kelo::app
