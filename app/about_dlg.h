// AboutDialog: the About box "Version of Kelo" (template 100), opened from the main dialog's
// system menu. It shows the version text the main dialog gives it.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

namespace kelo::app {

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* owner = nullptr);

    void SetVersionText(const std::string& version);
    QString VersionText() const;

    static constexpr const char* kNotice = QT_TR_NOOP("Service utility. All rights reserved.");

  private:
    QLabel* version_ = nullptr;  // 1019
};

}  // namespace kelo::app
