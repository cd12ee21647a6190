#include "app/find_dlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/dialog_template.h"

namespace app {

// The find box's own layout, 236 x 62 dialog units:
//   static "Find what:"    4, 8, 42, 8       group "Direction"  107, 26, 68, 28
//   edit (search text)    47, 7, 128, 12     radio "Up"         111, 38, 25, 12
//   "Find Next" (default) 182, 5, 50, 14     radio "Down"       138, 38, 35, 12
//   "Cancel"              182, 23, 50, 14
CFindDlg::CFindDlg(QWidget* owner) : QDialog(owner) {
    setWindowTitle("Find");
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(DialogFont());
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(236, 62));

    auto* label = new QLabel("Fi&nd what:", this);
    Place(label, units, 4, 8, 42, 8);
    findWhat_ = new QLineEdit(this);
    Place(findWhat_, units, 47, 7, 128, 12);
    label->setBuddy(findWhat_);

    auto* direction = new QGroupBox("Direction", this);
    Place(direction, units, 107, 26, 68, 28);
    up_ = new QRadioButton("&Up", this);
    Place(up_, units, 111, 38, 25, 12);
    down_ = new QRadioButton("&Down", this);
    Place(down_, units, 138, 38, 35, 12);
    down_->setChecked(true);

    findNext_ = new QPushButton("&Find Next", this);
    Place(findNext_, units, 182, 5, 50, 14);
    findNext_->setDefault(true);
    findNext_->setEnabled(false);
    cancel_ = new QPushButton("Cancel", this);
    Place(cancel_, units, 182, 23, 50, 14);
    cancel_->setAutoDefault(true);  // Enter on a focused Cancel cancels

    connect(findWhat_, &QLineEdit::textChanged, this, &CFindDlg::OnTextEdited);
    connect(findNext_, &QPushButton::clicked, this, [this] { emit FindNextRequested(this); });
    connect(cancel_, &QPushButton::clicked, this, &CFindDlg::close);
    findWhat_->setFocus();
}

std::string CFindDlg::Needle() const {
    return findWhat_->text().toLocal8Bit().toStdString();
}

bool CFindDlg::SearchesDown() const {
    return down_->isChecked();
}

// There is nothing to find without a search text.
void CFindDlg::OnTextEdited() {
    findNext_->setEnabled(!findWhat_->text().isEmpty());
}

}  // namespace app
