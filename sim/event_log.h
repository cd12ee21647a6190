// The simulated machine's record of everything it receives: one JSON object per line on
// standard output, so a test can assert exactly what reached the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelo::sim {

// One event, {"event":"name","key":value,...}, with its fields in the order added.
class Event {
  public:
    explicit Event(std::string_view name) : name_(name) {}

    // A byte string; every byte becomes the code point of the same value, so nothing is lost.
    Event& Text(std::string_view key, std::string_view bytes);
    Event& Number(std::string_view key, long long value);
    Event& Flag(std::string_view key, bool value);
    // Bytes as uppercase hexadecimal pairs separated by spaces, e.g. "00 01".
    Event& Hex(std::string_view key, const uint8_t* bytes, size_t size);

    // The finished JSON object, without a line end. The address of the machine it concerns,
    // when given, follows the event name as "address".
    std::string Line(std::string_view address = {}) const;

  private:
    struct Field {
        std::string key;
        std::variant<std::string, long long, bool> value;  // a string holds bytes
    };
    std::string name_;
    std::vector<Field> fields_;
};

class EventLog {
  public:
    using Sink = std::function<void(const std::string& line)>;

    // Writes each line to standard output and flushes it at once.
    EventLog();
    // Every event goes to the sink, tagged with the address when one is given.
    explicit EventLog(Sink sink, std::string address = {})
        : sink_(std::move(sink)), address_(std::move(address)) {}

    // The log of one machine of a process that serves many: the same sink, and every event
    // tagged with that machine's address.
    EventLog ForAddress(std::string address) const { return EventLog(sink_, std::move(address)); }

    void Emit(const Event& event) const { sink_(event.Line(address_)); }

  private:
    Sink sink_;
    std::string address_;
};

}  // namespace kelo::sim
