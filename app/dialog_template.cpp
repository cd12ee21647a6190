#include "app/dialog_template.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QWidget>

namespace app {

QFont DialogFont() {
    QFont font("MS Gothic", 9);
    if (QFontInfo(font).family() != "MS Gothic") {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(9);
    }
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // Windows takes the average width of the 52 Latin letters as the horizontal base unit.
    const QString letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    baseX_ = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1)
        baseX_ = 1;
    if (baseY_ < 1)
        baseY_ = 1;
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    return QRect(x * baseX_ / 4, y * baseY_ / 8, width * baseX_ / 4, height * baseY_ / 8);
}

QSize DialogUnits::ToPixels(int width, int height) const {
    return QSize(width * baseX_ / 4, height * baseY_ / 8);
}

void Place(QWidget* widget, const DialogUnits& units, int x, int y, int width, int height) {
    widget->setGeometry(units.ToPixels(x, y, width, height));
}

}  // namespace app
