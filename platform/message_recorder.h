// A message sink that keeps every message, for tests.
#pragma once

#include <string>
#include <vector>

#include "platform/messages.h"

namespace kelo::platform {

class MessageRecorder : public MessageSink {
  public:
    MessageRecorder() : previous_(SetMessageSink(this)) {}
    ~MessageRecorder() override { SetMessageSink(previous_); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void Show(const Message& message) override { messages_.push_back(message); }

    const std::vector<Message>& Messages() const { return messages_; }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Message& m : messages_)
            texts.push_back(m.text);
        return texts;
    }
    void Clear() { messages_.clear(); }

  private:
    MessageSink* previous_;
    std::vector<Message> messages_;
};

}  // namespace kelo::platform
