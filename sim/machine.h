// The simulated machine: what it holds (type, report, parameter set, faults, the field it is
// offering), what it does with each command, and the sessions that turn the bytes of one
// connection into commands. Sockets stay outside; the server feeds bytes in and sends what
// the sessions put into their outbox.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/event_log.h"
#include "sim/faults.h"
#include "sim/line_offer.h"
#include "sim/packet_frame.h"
#include "sim/recorder.h"

namespace kelo::sim {

// The object the status text lives in, and the one whose setting to 10 restarts the machine.
inline constexpr char kStatusOid[] = ".1.3.6.1.4.1.1229.2.2.2.1.24.1";
inline constexpr char kRestartOid[] = ".1.3.6.1.4.1.1229.2.8.1.0";
constexpr long long kRestartValue = 10;
// MIB-II's system description and name, which every type's agent answers.
inline constexpr char kSysDescrOid[] = ".1.3.6.1.2.1.1.1.0";
inline constexpr char kSysNameOid[] = ".1.3.6.1.2.1.1.5.0";

// Half of the parameter set that 00 02/00 03 read and 00 04/00 05 write.
constexpr size_t kHalfSize = 32768;

// The bytes a machine serves. Machines of one process that serve the same file share them.
using ServedBytes = std::shared_ptr<const std::vector<uint8_t>>;

struct MachineConfig {
    int type = 1;
    ServedBytes report;
    ServedBytes parameters;
    Faults faults;
    std::string address = "127.0.0.1";  // the address it serves, named in sysName.0
};

// What a session wants sent after it took some bytes.
struct Outbox {
    std::string bytes;
    bool closeAfterSend = false;  // close once the bytes are out (or at once when there are none)
};

class Machine {
  public:
    using RestartHook = std::function<void(const std::string& cause)>;

    Machine(MachineConfig config, EventLog& log, Recorder& recorder);

    int Type() const { return config_.type; }
    const std::string& Address() const { return config_.address; }
    const Faults& GetFaults() const { return config_.faults; }
    EventLog& Log() { return log_; }
    Recorder& GetRecorder() { return recorder_; }

    // Called when the machine decides to restart; the server stops listening for a while.
    void SetRestartHook(RestartHook hook) { restartHook_ = std::move(hook); }
    // The server calls this when the restart begins: the offered field is gone.
    void OnRestart();

    // One SNMP datagram in; the answer datagram out (empty: no answer).
    std::vector<uint8_t> AnswerSnmp(const uint8_t* datagram, size_t size, const std::string& peer);

    // The status text of one read; the offered field moves on.
    std::string ReadStatus();

    // Starts offering the report ("REPORT:") or the parameter set ("READ_PARAM:").
    void StartOffer(const std::string& key);
    // The end-of-exchange byte (or a restart) ends the offer.
    void EndOffer(const char* reason);

    // A text command ("rs\n", "BOOT_UpdateMain 0\n", ...); returns true when firmware
    // follows it.
    bool RunTextCommand(int connection, const std::string& text, const char* via);

    // A reply body for a packet frame of types 3 and 4, or none.
    std::optional<std::vector<uint8_t>> HandleFrame(int connection, const PacketFrame& frame);

    // Records a received parameter set and serves it from then on; half is 1 or 2 for a half
    // of types 3 and 4, which replaces only that half, else 0 for the whole set.
    void KeepParameters(int connection, const char* via, int half,
                        const std::vector<uint8_t>& content);

    // Whether "BOOT_UpdateMain 0\n" came since the last image on the raw port; clears it.
    bool TakeImageAnnouncement();

    const std::vector<uint8_t>& Report() const { return *config_.report; }
    const std::vector<uint8_t>& Parameters() const { return *config_.parameters; }

  private:
    void Restart(const std::string& cause);
    // The value of an object a GetRequest may read other than the status object, or none.
    std::optional<std::string> SystemObject(const std::string& oid) const;
    std::vector<uint8_t> Half(int half) const;
    // The set the next Get Parameters serves once the received one (or half) is in it.
    void ServeParameters(int half, const std::vector<uint8_t>& content);

    MachineConfig config_;
    EventLog& log_;
    Recorder& recorder_;
    RestartHook restartHook_;
    std::unique_ptr<LineOffer> offer_;
    bool imageAnnounced_ = false;
};

class Session {
  public:
    virtual ~Session() = default;
    // Bytes arrived on the connection.
    virtual void Receive(const uint8_t* bytes, size_t size, Outbox& out) = 0;
    // The connection ended: the peer closed it, it broke, or the machine is stopping.
    virtual void Closed(const char* reason) = 0;
};

enum class PortRole {
    kLpd,      // TCP 515, types 1 and 2: LPD jobs
    kPackets,  // TCP 9101 (type 3) or 9500 (type 4): packet frames
    kRawImage  // TCP 9100, types 3 and 4: a firmware image per connection
};

std::unique_ptr<Session> MakeSession(PortRole role, Machine& machine, int connection);

}  // namespace kelo::sim
