#include "sim/event_log.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace sim {
namespace {

// JSON strings are Unicode, the machine's bytes are not: each byte becomes the code point of
// the same value (UTF-8 encoded here), and the dump writes those from 0x80 on as \u0080 to
// \u00ff, so a reader gets every byte back.
std::string CodePoints(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (unsigned char byte : bytes) {
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

}  // namespace

Event& Event::Text(std::string_view key, std::string_view bytes) {
    fields_.push_back({std::string(key), std::string(bytes)});
    return *this;
}

Event& Event::Number(std::string_view key, long long value) {
    fields_.push_back({std::string(key), value});
    return *this;
}

Event& Event::Flag(std::string_view key, bool value) {
    fields_.push_back({std::string(key), value});
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

std::string Event::Line(std::string_view address) const {
    nlohmann::ordered_json object;
    object["event"] = CodePoints(name_);
    if (!address.empty())
        object["address"] = CodePoints(address);
    for (const Field& field : fields_) {
        nlohmann::ordered_json& value = object[CodePoints(field.key)];
        std::visit(
            [&value](const auto& content) {
                if constexpr (std::is_same_v<std::decay_t<decltype(content)>, std::string>) {
                    value = CodePoints(content);
                } else {
                    value = content;
                }
            },
            field.value);
    }
    return object.dump(-1, ' ', /*ensure_ascii=*/true);
}

EventLog::EventLog()
    : sink_([](const std::string& line) {
          // A reader that went away must not stop the machine: write errors are ignored.
          std::fputs(line.c_str(), stdout);
          std::fputc('\n', stdout);
          std::fflush(stdout);
      }) {}

}  // namespace sim
