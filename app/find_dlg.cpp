#include "app/find_dlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/dialog_parts.h"

namespace kelo::app {

// "Find what:" and its edit on the first line, the Direction group under the edit's right end;
// Find Next and Cancel one above the other at the right. Tab order: the edit, Up, Down, Find
// Next, Cancel.
FindDialog::FindDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("Find"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* label = new QLabel(tr("Fi&nd what:"), this);
    findWhat_ = Named(new QLineEdit(this), "findWhat");
    findWhat_->setMinimumWidth(findWhat_->fontMetrics().averageCharWidth() * 28);
    label->setBuddy(findWhat_);

    auto* direction = new QGroupBox(tr("Direction"), this);
    auto* up = Named(new QRadioButton(tr("&Up"), direction), "up");
    down_ = Named(new QRadioButton(tr("&Down"), direction), "down");
    down_->setChecked(true);
    auto* directions = new QHBoxLayout(direction);
    directions->addWidget(up);
    directions->addWidget(down_);

    findNext_ = Named(new QPushButton(tr("&Find Next"), this), "findNext");
    findNext_->setDefault(true);
    findNext_->setEnabled(false);
    auto* cancel = Named(new QPushButton(tr("Cancel"), this), "cancel");
    cancel->setAutoDefault(true);  // Enter on a focused Cancel cancels

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(findWhat_, 0, 1);
    layout->addWidget(direction, 1, 1, 2, 1, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(findNext_, 0, 2);
    layout->addWidget(cancel, 1, 2, Qt::AlignTop);
    layout->setRowStretch(2, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(findWhat_, &QLineEdit::textChanged, this, &FindDialog::OnTextEdited);
    connect(findNext_, &QPushButton::clicked, this, [this] { emit FindNextRequested(this); });
    connect(cancel, &QPushButton::clicked, this, &FindDialog::close);
    findWhat_->setFocus();
}

std::string FindDialog::Needle() const {
    return findWhat_->text().toLocal8Bit().toStdString();
}

bool FindDialog::SearchesDown() const {
    return down_->isChecked();
}

// There is nothing to find without a search text.
void FindDialog::OnTextEdited() {
    findNext_->setEnabled(!findWhat_->text().isEmpty());
}

}  // namespace kelo::app
