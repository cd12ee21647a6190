// The application icon (resource 141): a printer with a sheet, drawn here so the
// program carries no image files.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kelo::app {

QPixmap AppIconPixmap(int size);

// The icon in the sizes a window, a task bar and a menu ask for.
QIcon AppIcon();

// The icon as PNG bytes, for the desktop's icon folder.
QByteArray AppIconPng(int size);

}  // namespace kelo::app
