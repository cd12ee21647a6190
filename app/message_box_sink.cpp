#include "app/message_box_sink.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/system.h"

namespace kelo::app {

void MessageBoxSink::Show(const platform::Message& message) {
    const QMessageBox::Icon icon = message.icon == platform::Icon::Information
                                       ? QMessageBox::Information
                                       : QMessageBox::Warning;
    QMessageBox box(icon, QString::fromStdString(platform::ProgramName()),
                    QString::fromLocal8Bit(message.text.c_str()), QMessageBox::Ok,
                    QApplication::activeWindow());
    // Texts name files and hosts as typed: "<b>x.kel" is a file name, not bold text.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace kelo::app
