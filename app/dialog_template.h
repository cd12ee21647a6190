// Placing controls from the numbered dialog templates: dialog units become pixels as Windows
// does it, x × (average character width of the dialog font) / 4 and y × (font height) / 8.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace app {

// "MS Gothic" 9 pt where it exists, else the system's fixed-pitch face at 9 pt.
QFont DialogFont();

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;

  private:
    int baseX_;
    int baseY_;
};

// Sets the widget's geometry from its template position.
void Place(QWidget* widget, const DialogUnits& units, int x, int y, int width, int height);

}  // namespace app
