// Builders the dialogs share, so that each constructor reads as the window it makes.
#pragma once

#include <QPushButton>
#include <QString>

namespace kelo::app {

// A push button of the dialog whose click calls the slot; the dialog's layout places it.
template <class Dialog, class Slot>
QPushButton* ConnectedButton(Dialog* dialog, const QString& text, Slot slot) {
    auto* button = new QPushButton(text, dialog);
    QObject::connect(button, &QPushButton::clicked, dialog, slot);
    return button;
}

// Gives the object its stable name, by which accessibility tools, style sheets and the
// tests find it, and returns it.
template <class Object>
Object* Named(Object* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

}  // namespace kelo::app
