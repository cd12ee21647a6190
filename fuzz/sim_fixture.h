// What the simulator's fuzz targets share: a machine whose events are kept in memory, and a
// connection's session fed the same bytes once whole and once in pieces, as TCP may cut them.
// The two runs must leave the same events and send the same bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "sim/builtin_data.h"
#include "sim/event_log.h"
#include "sim/machine.h"
#include "sim/recorder.h"

namespace sim_fuzz {

// An input: settings bytes in front (missing ones read as 0), then what the machine receives.
struct Input {
    uint8_t settings = 0;
    unsigned seed = 0;  // how the bytes are cut into pieces, where a target uses it
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

inline Input SplitInput(const uint8_t* data, size_t size, size_t settingsBytes) {
    Input input;
    input.settings = size > 0 ? data[0] : 0;
    input.seed = settingsBytes > 1 && size > 1 ? data[1] : 0;
    const size_t skip = std::min(size, settingsBytes);
    input.bytes = data + skip;
    input.size = size - skip;
    return input;
}

// Switches on the faults listed, the first by the settings bit firstBit, the next by the
// bit above it, and so on.
inline kelo::sim::Faults FaultsOf(uint8_t settings, int firstBit,
                                  std::initializer_list<bool kelo::sim::Faults::*> faults) {
    kelo::sim::Faults result;
    int bit = firstBit;
    for (bool kelo::sim::Faults::*fault : faults)
        result.*fault = (settings >> bit++) & 1;
    return result;
}

// The start of the built-in report and parameter set, made once per machine type. Short
// ones keep each run cheap (every offer, reply and recording copies them) while the offers
// still span three lines of 128 bytes, the last one shorter, and the first half of the set
// is there but not the second.
constexpr size_t kServedReportBytes = 300;
constexpr size_t kServedParameterBytes = 330;

inline kelo::sim::ServedBytes Start(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(std::min(bytes.size(), size));
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

inline kelo::sim::MachineConfig ConfigOf(int type, const kelo::sim::Faults& faults) {
    static std::map<int, kelo::sim::ServedBytes> reports;
    static const kelo::sim::ServedBytes parameters =
        Start(kelo::sim::BuiltInParameters(), kServedParameterBytes);
    kelo::sim::ServedBytes& report = reports[type];
    if (!report)
        report = Start(kelo::sim::BuiltInReport(type), kServedReportBytes);
    kelo::sim::MachineConfig config;
    config.type = type;
    config.report = report;
    config.parameters = parameters;
    config.faults = faults;
    return config;
}

// A rejected frame's event shows the head of what had arrived when the machine refused it,
// which depends on how the bytes were cut; the rest of the event does not.
inline std::string WithoutArrivedHead(const std::string& line) {
    if (line.find("\"frame-rejected\"") == std::string::npos)
        return line;
    const size_t head = line.find(",\"head\":\"");
    const size_t end = head == std::string::npos ? head : line.find('"', head + 9);
    return end == std::string::npos ? line : line.substr(0, head) + line.substr(end + 1);
}

// A fresh machine for one input, so that every run starts from the same state. It records
// nothing; its events and restarts become lines in Events().
class FuzzMachine {
  public:
    FuzzMachine(int type, const kelo::sim::Faults& faults)
        : log_([this](const std::string& line) { events_.push_back(WithoutArrivedHead(line)); }),
          recorder_(""),
          machine_(ConfigOf(type, faults), log_, recorder_) {
        machine_.SetRestartHook([this](const std::string& cause) {
            events_.push_back("restart " + cause);
            machine_.OnRestart();
        });
    }

    kelo::sim::Machine& Get() { return machine_; }
    const std::vector<std::string>& Events() const { return events_; }

  private:
    std::vector<std::string> events_;
    kelo::sim::EventLog log_;
    kelo::sim::Recorder recorder_;
    kelo::sim::Machine machine_;
};

// What one connection left behind.
struct Transcript {
    std::vector<std::string> events;
    std::string sent;
    bool closedByMachine = false;

    bool operator==(const Transcript& other) const {
        return events == other.events && sent == other.sent &&
               closedByMachine == other.closedByMachine;
    }
};

// Feeds the bytes to a new session in pieces of 1 to 64 bytes whose sizes follow from the
// seed (seed 0: all at once), stops as the server does once the machine closes the
// connection, and closes it. Then the status text is read as often as asked; each text
// joins the events.
inline Transcript RunSession(kelo::sim::PortRole role, int type, const kelo::sim::Faults& faults,
                             const uint8_t* bytes, size_t size, unsigned seed, int statusReads) {
    FuzzMachine machine(type, faults);
    std::unique_ptr<kelo::sim::Session> session = kelo::sim::MakeSession(role, machine.Get(), 1);
    Transcript transcript;
    size_t at = 0;
    for (unsigned piece = 1; at < size && !transcript.closedByMachine; ++piece) {
        const size_t length = seed == 0 ? size : 1 + (seed * piece * 37u >> 3) % 64;
        const size_t take = std::min(length, size - at);
        kelo::sim::Outbox out;
        session->Receive(bytes + at, take, out);
        at += take;
        transcript.sent += out.bytes;
        transcript.closedByMachine = out.closeAfterSend;
    }
    session->Closed(transcript.closedByMachine ? "machine-closed" : "peer-closed");
    transcript.events = machine.Events();
    for (int read = 0; read < statusReads; ++read)
        transcript.events.push_back(machine.Get().ReadStatus());
    return transcript;
}

// The session must not depend on how the bytes were cut; returns the whole run.
inline Transcript RunWholeAndInPieces(kelo::sim::PortRole role, int type,
                                      const kelo::sim::Faults& faults, const uint8_t* bytes,
                                      size_t size, unsigned seed, int statusReads = 0) {
    Transcript whole = RunSession(role, type, faults, bytes, size, 0, statusReads);
    FUZZ_REQUIRE(whole == RunSession(role, type, faults, bytes, size, seed | 1, statusReads));
    return whole;
}

}  // namespace sim_fuzz
