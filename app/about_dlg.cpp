#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_template.h"

namespace app {

// Template 100: 235 x 55 dialog units, caption "Version of Kelo".
CAboutDlg::CAboutDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
    setWindowTitle("Version of Kelo");
    setFont(DialogFont());
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(235, 55));

    // An icon control takes the icon's own size at its position.
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIconPixmap(32));
    const QRect at = units.ToPixels(13, 14, 0, 0);
    icon->setGeometry(at.x(), at.y(), 32, 32);

    auto* title = new QLabel("Kelo Version", this);
    Place(title, units, 40, 13, 52, 8);
    version_ = new QLabel(this);
    Place(version_, units, 97, 13, 48, 8);
    auto* notice = new QLabel(kNotice, this);
    Place(notice, units, 40, 25, 188, 8);

    ok_ = new QPushButton("OK", this);
    Place(ok_, units, 178, 7, 50, 14);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CAboutDlg::accept);
}

void CAboutDlg::SetVersionText(const std::string& version) {
    version_->setText(QString::fromStdString(version));
}

QString CAboutDlg::VersionText() const {
    return version_->text();
}

}  // namespace app
