#include "app/about_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_parts.h"

namespace kelo::app {

// The icon at the left; "Kelo Version" and the version on the first line with the notice below
// them; OK at the top right.
AboutDialog::AboutDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
    setWindowTitle(tr("Version of Kelo"));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIconPixmap(32));
    auto* title = new QLabel(tr("Kelo Version"), this);
    version_ = new QLabel(this);
    auto* notice = new QLabel(tr(kNotice), this);
    auto* ok = Named(ConnectedButton(this, tr("OK"), &AboutDialog::accept), "ok");
    ok->setDefault(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(title, 0, 1);
    layout->addWidget(version_, 0, 2);
    layout->addWidget(notice, 1, 1, 1, 3);
    layout->addWidget(ok, 0, 4, Qt::AlignTop);
    layout->setColumnStretch(3, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutDialog::SetVersionText(const std::string& version) {
    version_->setText(QString::fromStdString(version));
}

QString AboutDialog::VersionText() const {
    return version_->text();
}

}  // namespace kelo::app
