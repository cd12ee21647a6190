#include "sim/event_log.h"

#include <cstdio>

namespace sim {

std::string JsonString(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += static_cast<char>(c);
                } else {
                    out += "\\u00";
                    out += kDigits[c >> 4];
                    out += kDigits[c & 0x0F];
                }
        }
    }
    out += '"';
    return out;
}

Event::Event(std::string_view name) : body_("{\"event\":" + JsonString(name)) {}

void Event::Key(std::string_view key) {
    body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
}

Event& Event::Text(std::string_view key, std::string_view bytes) {
    Key(key);
    body_ += JsonString(bytes);
    return *this;
}

Event& Event::Number(std::string_view key, long long value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

Event& Event::Flag(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

Event& Event::Hex(std::string_view key, const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i > 0)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return Text(key, text);
}

std::string Event::Line() const {
    return body_ + "}";
}

EventLog::EventLog()
    : sink_([](const std::string& line) {
          // A reader that went away must not stop the machine: write errors are ignored.
          std::fputs(line.c_str(), stdout);
          std::fputc('\n', stdout);
          std::fflush(stdout);
      }) {}

}  // namespace sim
