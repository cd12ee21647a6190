#include "platform/messages.h"

#include <cstdio>

#include "platform/trace.h"

namespace kelo::platform {
namespace {

struct TableEntry {
    int id;
    const char* text;
};

// The one copy of the program's message texts.
constexpr TableEntry kStringTable[] = {
    {MessageId::kAboutBox, "Version of Kelo(&A)..."},
    {MessageId::kDataPortBusy, "Data Port is Busy"},
    {MessageId::kSocketInitFailed, "Failed to initialize Windows socket."},
    {MessageId::kFailedConnect, "Failed to connect."},
    {MessageId::kFailedSend, "Failed to send."},
    {MessageId::kFailedReceive, "Failed to receive."},
    {MessageId::kFailedOpenPort, "Failed to open port."},
    {MessageId::kFailedWrite, "Failed to write."},
    {MessageId::kFailedRead, "Failed to read."},
    {MessageId::kIllegalParamFile, "Illegal Parameter File."},
    {MessageId::kDone, "Done."},
    {MessageId::kIllegalReportFile, "Illegal Report File."},
    {MessageId::kIllegalFile, "Illegal File"},
    {MessageId::kFailedFind, "Failed to find"},
    {MessageId::kFailedRemove, "Failed to remove."},
    {MessageId::kTooLargeFile, "Too Large File"},
    {MessageId::kDropOneFile, "Drop Only One File"},
    {MessageId::kFailedTempPath, "Failed to Get Temp Path"},
    {MessageId::kFailedCreateProcess, "Failed to Create Process"},
    {MessageId::kFailedCreateKey,
     "Faild to Create a Key. For setting User Account Control, please \"Run as Administrator\" "
     "by clicking right botton of your mouse."},
    {MessageId::kFailedSetValue,
     "Failed to Set a Value. For setting User Account Control, please \"Run as Administrator\" "
     "by clicking right botton of your mouse."},
    {MessageId::kSetUpPort, "Set up \"SELECT PORT\""},
};

MessageSink* g_sink = nullptr;
MessageWatch* g_watch = nullptr;

void Deliver(const Message& message) {
    for (MessageWatch* watch = g_watch; watch != nullptr; watch = watch->Outer())
        watch->Note(message);
    if (TraceSink* sink = ActiveTraceSink())
        sink->Message(message.text);
    if (g_sink != nullptr) {
        g_sink->Show(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.text.c_str());
}

}  // namespace

const char* LoadString(int id) {
    for (const TableEntry& entry : kStringTable) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return "";
}

Icon MessageIcon(int id) {
    return id == MessageId::kDone ? Icon::Information : Icon::Warning;
}

MessageWatch::MessageWatch() : outer_(g_watch) {
    g_watch = this;
}

MessageWatch::~MessageWatch() {
    g_watch = outer_;
}

void MessageWatch::Note(const Message& message) {
    shown_ = true;
    lastText_ = message.text;
    lastId_ = message.id;
}

MessageSink* SetMessageSink(MessageSink* sink) {
    MessageSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

void ShowMessage(int id) {
    Deliver(Message{id, LoadString(id), MessageIcon(id)});
}

void ShowText(const std::string& text) {
    Deliver(Message{0, text, Icon::Warning});
}

}  // namespace kelo::platform
