// Messages of the GUI: a modal box with only OK, titled with the program file's name.
#pragma once

#include "platform/messages.h"

class QWidget;

namespace kelo::app {

class MessageBoxSink : public platform::MessageSink {
  public:
    void Show(const platform::Message& message) override;
};

}  // namespace kelo::app
