// The program's own messages: string-table entries 101 to 127 and how each is shown.
#pragma once

#include <string>

namespace kelo::platform {

enum class Icon { Warning, Information };

// String-table ids. Entry 101 is a menu text, every other entry a message.
enum MessageId : int {
    kAboutBox = 101,
    kDataPortBusy = 102,
    kSocketInitFailed = 103,
    kFailedConnect = 104,
    kFailedSend = 105,
    kFailedReceive = 106,
    kFailedOpenPort = 107,
    kFailedWrite = 108,
    kFailedRead = 109,
    kIllegalParamFile = 110,
    kDone = 111,
    kIllegalReportFile = 113,
    kIllegalFile = 114,
    kFailedFind = 115,
    kFailedRemove = 117,
    kTooLargeFile = 118,
    kDropOneFile = 119,
    kFailedTempPath = 120,
    kFailedCreateProcess = 121,
    kFailedCreateKey = 122,
    kFailedSetValue = 123,
    kSetUpPort = 127,
};

// The text of a string-table entry; empty for an id the table does not hold.
const char* LoadString(int id);

// The icon a message box for this entry carries: information for "Done.", else warning.
Icon MessageIcon(int id);

// One message as the user sees it. id is 0 for a text that is not in the table
// (the description of a file error).
struct Message {
    int id = 0;
    std::string text;
    Icon icon = Icon::Warning;
};

// Where messages go: a message box in the GUI, standard error in the CLI, a recorder in tests.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void Show(const Message& message) = 0;
};

// Installs the process-wide sink and returns the previous one. Without a sink, messages go
// to standard error.
MessageSink* SetMessageSink(MessageSink* sink);

// Notes the messages shown while it lives, besides their going wherever they go: an operation
// tells from it what it said when it failed. Watches nest; each notes every message.
class MessageWatch {
  public:
    MessageWatch();
    ~MessageWatch();
    MessageWatch(const MessageWatch&) = delete;
    MessageWatch& operator=(const MessageWatch&) = delete;

    bool AnyShown() const { return shown_; }
    // The text of the last message shown, "" for none.
    const std::string& LastText() const { return lastText_; }
    // Its string-table id; 0 for a text of its own or none.
    int LastId() const { return lastId_; }
    void Note(const Message& message);
    MessageWatch* Outer() const { return outer_; }

  private:
    MessageWatch* outer_;
    bool shown_ = false;
    std::string lastText_;
    int lastId_ = 0;
};

// Shows a string-table message with its own icon.
void ShowMessage(int id);

// Shows a text of no table entry (an OS error description) with the warning icon.
void ShowText(const std::string& text);

}  // namespace kelo::platform
