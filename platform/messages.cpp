#include "platform/messages.h"

#include <cstdio>

#include "platform/trace.h"

namespace platform {
namespace {

struct TableEntry {
    int id;
    const char* text;
};

// The one copy of the program's message texts.
constexpr TableEntry kStringTable[] = {
    {IDS_ABOUTBOX, "Version of Kelo(&A)..."},
    {IDS_DATA_PORT_BUSY, "Data Port is Busy"},
    {IDS_SOCKET_INIT_FAILED, "Failed to initialize Windows socket."},
    {IDS_FAILED_CONNECT, "Failed to connect."},
    {IDS_FAILED_SEND, "Failed to send."},
    {IDS_FAILED_RECEIVE, "Failed to receive."},
    {IDS_FAILED_OPEN_PORT, "Failed to open port."},
    {IDS_FAILED_WRITE, "Failed to write."},
    {IDS_FAILED_READ, "Failed to read."},
    {IDS_ILLEGAL_PARAM_FILE, "Illegal Parameter File."},
    {IDS_DONE, "Done."},
    {IDS_ILLEGAL_REPORT_FILE, "Illegal Report File."},
    {IDS_ILLEGAL_FILE, "Illegal File"},
    {IDS_FAILED_FIND, "Failed to find"},
    {IDS_FAILED_REMOVE, "Failed to remove."},
    {IDS_TOO_LARGE_FILE, "Too Large File"},
    {IDS_DROP_ONE_FILE, "Drop Only One File"},
    {IDS_FAILED_TEMP_PATH, "Failed to Get Temp Path"},
    {IDS_FAILED_CREATE_PROCESS, "Failed to Create Process"},
    {IDS_FAILED_CREATE_KEY,
     "Faild to Create a Key. For setting User Account Control, please \"Run as Administrator\" "
     "by clicking right botton of your mouse."},
    {IDS_FAILED_SET_VALUE,
     "Failed to Set a Value. For setting User Account Control, please \"Run as Administrator\" "
     "by clicking right botton of your mouse."},
    {IDS_SET_UP_PORT, "Set up \"SELECT PORT\""},
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
    return id == IDS_DONE ? Icon::Information : Icon::Warning;
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

}  // namespace platform
