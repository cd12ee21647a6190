#include "sim/event_log.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <type_traits>

#include "platform/code_points.h"

namespace kelo::sim {
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
    object["event"] = platform::Latin1CodePoints(name_);
    if (!address.empty())
        object["address"] = platform::Latin1CodePoints(address);
    for (const Field& field : fields_) {
        nlohmann::ordered_json& value = object[platform::Latin1CodePoints(field.key)];
        std::visit(
            [&value](const auto& content) {
                if constexpr (std::is_same_v<std::decay_t<decltype(content)>, std::string>) {
                    value = platform::Latin1CodePoints(content);
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

}  // namespace kelo::sim
