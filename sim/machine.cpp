#include "sim/machine.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/access_codes.h"
#include "sim/lpd_job.h"
#include "sim/snmp_ber.h"

namespace sim {
namespace {

constexpr char kAccessPrefix[] = "OPEN CODE=";
constexpr size_t kAccessPrefixLength = sizeof kAccessPrefix - 1;
constexpr char kUpdateCommand[] = "BOOT_UpdateMain 0\n";
constexpr char kRestartCommand[] = "rs\n";
const std::vector<uint8_t> kStoredReply = {'O', 'K'};

std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool StartsWith(const std::vector<uint8_t>& bytes, std::string_view prefix) {
    return AsText(bytes).substr(0, prefix.size()) == prefix;
}

// Which of the two access codes follows "OPEN CODE=": "A", "B" or "other".
const char* AccessCodeName(const std::vector<uint8_t>& line) {
    const std::string_view code = AsText(line).substr(kAccessPrefixLength);
    if (code == platform::kAccessCodeA)
        return "A";
    if (code == platform::kAccessCodeB)
        return "B";
    return "other";
}

const char* PduName(uint8_t type) {
    switch (type) {
        case kPduGetRequest:
            return "get";
        case kPduGetNextRequest:
            return "get-next";
        case kPduGetResponse:
            return "response";
        case kPduSetRequest:
            return "set";
        default:
            return "other";
    }
}

std::string CommandName(const uint8_t command[2]) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name;
    for (int i = 0; i < 2; ++i) {
        if (i > 0)
            name += ' ';
        name += kDigits[command[i] >> 4];
        name += kDigits[command[i] & 0x0F];
    }
    return name;
}

}  // namespace

Machine::Machine(MachineConfig config, EventLog& log, Recorder& recorder)
    : config_(std::move(config)), log_(log), recorder_(recorder) {}

void Machine::Restart(const std::string& cause) {
    if (restartHook_)
        restartHook_(cause);
}

void Machine::OnRestart() {
    EndOffer("restart");
}

void Machine::StartOffer(const std::string& key) {
    const std::vector<uint8_t>& data = key == "REPORT:" ? Report() : Parameters();
    offer_ = std::make_unique<LineOffer>(key, data, config_.faults);
    log_.Emit(Event("offer-start")
                  .Text("key", key)
                  .Number("lines", offer_->LineCount())
                  .Number("bytes", static_cast<long long>(data.size())));
}

void Machine::EndOffer(const char* reason) {
    if (!offer_)
        return;
    log_.Emit(Event("offer-end").Text("key", offer_->Key()).Text("reason", reason));
    offer_.reset();
}

std::string Machine::ReadStatus() {
    // never-answer: the machine takes the command but never offers anything.
    if (!offer_ || config_.faults.neverAnswer)
        return StatusText(config_.type, "");
    return StatusText(config_.type, offer_->NextField());
}

std::vector<uint8_t> Machine::AnswerSnmp(const uint8_t* datagram, size_t size,
                                         const std::string& peer) {
    const SnmpParse parse = ParseSnmpRequest(datagram, size);
    if (!parse.ok) {
        log_.Emit(Event("snmp-malformed")
                      .Text("peer", peer)
                      .Number("bytes", static_cast<long long>(size))
                      .Text("reason", parse.reason));
        return {};
    }
    const SnmpRequest& request = parse.request;
    Event event("snmp");
    event.Text("peer", peer)
        .Text("pdu", PduName(request.pduType))
        .Number("pdu_type", request.pduType)
        .Text("oid", request.varbinds.empty() ? "" : OidText(request.varbinds[0].name))
        .Number("varbinds", static_cast<long long>(request.varbinds.size()))
        .Text("community", request.community)
        .Number("version", request.version)
        .Number("request_id", request.requestIdValue);

    // Only version 1 GetRequest and SetRequest are served; anything else goes unanswered.
    if (request.version != 0 ||
        (request.pduType != kPduGetRequest && request.pduType != kPduSetRequest)) {
        log_.Emit(event.Text("answer", "ignored"));
        return {};
    }
    if (config_.faults.snmpSilence) {
        log_.Emit(event.Text("answer", "silent"));
        return {};
    }
    if (config_.faults.snmpError) {
        log_.Emit(event.Text("answer", "error-fault"));
        return EncodeGetResponse(request, kSnmpNoSuchName, 1, request.varbinds);
    }

    // Walk the variables; the first one that cannot be served decides the error, and an
    // error answer echoes the request's variables unchanged. Only types 1 and 2 keep their
    // status in the status object; types 3 and 4 are known by their TCP ports.
    const bool hasStatus = config_.type <= 2;
    std::vector<SnmpVarBind> answers;
    bool statusRead = false;
    bool restart = false;
    std::string offered;
    for (size_t i = 0; i < request.varbinds.size(); ++i) {
        const SnmpVarBind& varbind = request.varbinds[i];
        const std::string oid = OidText(varbind.name);
        const int index = static_cast<int>(i + 1);
        const bool get = request.pduType == kPduGetRequest;
        const std::optional<std::string> systemValue = get ? SystemObject(oid) : std::nullopt;
        if (get && hasStatus && oid == kStatusOid) {
            if (!statusRead) {
                offered = ReadStatus();
                statusRead = true;
            }
            answers.push_back({varbind.name, kBerOctetString,
                               std::vector<uint8_t>(offered.begin(), offered.end())});
        } else if (systemValue) {
            answers.push_back({varbind.name, kBerOctetString,
                               std::vector<uint8_t>(systemValue->begin(), systemValue->end())});
        } else if (request.pduType == kPduSetRequest && oid == kRestartOid) {
            if (varbind.valueTag != kBerInteger || varbind.value.empty() ||
                varbind.value.size() > 8 || IntegerValue(varbind.value) != kRestartValue) {
                log_.Emit(event.Text("answer", "bad-value").Number("error_index", index));
                return EncodeGetResponse(request, kSnmpBadValue, index, request.varbinds);
            }
            answers.push_back(varbind);
            restart = true;
        } else {
            log_.Emit(event.Text("answer", "no-such-name").Number("error_index", index));
            return EncodeGetResponse(request, kSnmpNoSuchName, index, request.varbinds);
        }
    }
    if (statusRead) {
        event.Text("answer", "status");
        if (offer_ && !config_.faults.neverAnswer) {
            event.Text("offer", offer_->Key() + std::to_string(offer_->LastNumber()));
        }
    } else if (restart) {
        event.Text("answer", "restart");
    } else {
        event.Text("answer", answers.empty() ? "empty" : "system");
    }
    log_.Emit(event);
    std::vector<uint8_t> answer = EncodeGetResponse(request, kSnmpNoError, 0, answers);
    if (restart)
        Restart("snmp");
    return answer;
}

std::optional<std::string> Machine::SystemObject(const std::string& oid) const {
    if (oid == kSysDescrOid)
        return "Kelo simulated machine, type " + std::to_string(config_.type);
    if (oid == kSysNameOid)
        return "kelo-sim-" + config_.address;
    return std::nullopt;
}

bool Machine::RunTextCommand(int connection, const std::string& text, const char* via) {
    const bool restart = text == kRestartCommand;
    const bool update = text == kUpdateCommand;
    log_.Emit(Event("command")
                  .Number("conn", connection)
                  .Text("via", via)
                  .Text("text", text)
                  .Flag("known", restart || update));
    if (update) {
        imageAnnounced_ = true;
        Restart("firmware-update");
    } else if (restart) {
        Restart("rs");
    }
    return update;
}

std::vector<uint8_t> Machine::Half(int half) const {
    const std::vector<uint8_t>& set = Parameters();
    const size_t start = std::min(set.size(), (half - 1) * kHalfSize);
    const size_t end = std::min(set.size(), start + kHalfSize);
    return std::vector<uint8_t>(set.begin() + start, set.begin() + end);
}

std::optional<std::vector<uint8_t>> Machine::HandleFrame(int connection, const PacketFrame& frame) {
    const std::string name = CommandName(frame.command);
    if (frame.command[0] == 0x00) {
        switch (frame.command[1]) {
            case 0x01:
                return Report();
            case 0x02:
                return Half(1);
            case 0x03:
                return Half(2);
            case 0x04:
            case 0x05: {
                const int half = frame.command[1] == 0x04 ? 1 : 2;
                if (frame.data.size() != kHalfSize) {
                    log_.Emit(Event("command-rejected")
                                  .Number("conn", connection)
                                  .Text("cmd", name)
                                  .Text("reason", "wrong-data-length")
                                  .Number("bytes", static_cast<long long>(frame.data.size())));
                    return std::nullopt;
                }
                KeepParameters(connection, "frame", half, frame.data);
                return kStoredReply;
            }
            case 0x06:
                RunTextCommand(connection, std::string(AsText(frame.data)), "frame");
                return std::nullopt;
            default:
                break;
        }
    }
    log_.Emit(Event("command")
                  .Number("conn", connection)
                  .Text("via", "frame")
                  .Text("cmd", name)
                  .Flag("known", false));
    return std::nullopt;
}

void Machine::KeepParameters(int connection, const char* via, int half,
                             const std::vector<uint8_t>& content) {
    const std::string path = recorder_.SaveParameters(content);
    log_.Emit(Event("params")
                  .Number("conn", connection)
                  .Text("via", via)
                  .Number("half", half)
                  .Number("bytes", static_cast<long long>(content.size()))
                  .Text("file", path));
}

bool Machine::TakeImageAnnouncement() {
    const bool announced = imageAnnounced_;
    imageAnnounced_ = false;
    return announced;
}

namespace {

// Ends a firmware image with its connection and logs what arrived.
void FinishFirmware(Machine& machine, Recorder::Image& image, int connection, const char* via,
                    bool announced, const char* reason) {
    const size_t size = image.Size();
    const std::string path = image.Finish();
    machine.Log().Emit(Event("firmware")
                           .Number("conn", connection)
                           .Text("via", via)
                           .Number("bytes", static_cast<long long>(size))
                           .Text("file", path)
                           .Flag("announced", announced)
                           .Text("end", reason));
}

// Types 1 and 2: an LPD job whose data files are access lines, bare commands, command
// frames, parameter sets, end-of-exchange bytes and, after an update command, firmware.
class LpdSession : public Session, private LpdJobParser::Handler {
  public:
    LpdSession(Machine& machine, int connection) : machine_(machine), connection_(connection) {}

    void Receive(const uint8_t* bytes, size_t size, Outbox& out) override {
        if (!parser_.Feed(bytes, size, out.bytes)) {
            machine_.Log().Emit(
                Event("lpd-error").Number("conn", connection_).Text("reason", parser_.Error()));
            out.closeAfterSend = true;
        }
    }

    void Closed(const char* reason) override {
        if (parser_.PendingFileBytes() > 0) {
            machine_.Log().Emit(
                Event("lpd-error")
                    .Number("conn", connection_)
                    .Text("reason", "closed-inside-file")
                    .Number("missing", static_cast<long long>(parser_.PendingFileBytes())));
        }
        if (image_.Open())
            FinishFirmware(machine_, image_, connection_, "lpd", true, reason);
    }

  private:
    enum class Expect { kCommand, kParameterSet, kCommandFrame, kFirmware };

    uint8_t OnJob(std::string_view queue) override {
        // The machine has one queue; a job for any other is refused as an LPD server does.
        const uint8_t ack = (machine_.GetFaults().lpdNak || queue != "lp1") ? 0x01 : 0x00;
        machine_.Log().Emit(
            Event("lpd-job").Number("conn", connection_).Text("queue", queue).Number("ack", ack));
        return ack;
    }

    void OnSubcommand(uint8_t code, size_t count, std::string_view name) override {
        machine_.Log().Emit(Event("lpd-subcommand")
                                .Number("conn", connection_)
                                .Number("code", code)
                                .Number("count", static_cast<long long>(count))
                                .Text("name", name));
    }

    void OnFile(uint8_t code, std::vector<uint8_t> content) override {
        machine_.Log().Emit(Event("lpd-file")
                                .Number("conn", connection_)
                                .Number("code", code)
                                .Number("bytes", static_cast<long long>(content.size()))
                                .Hex("head", content.data(), std::min<size_t>(content.size(), 16)));
        if (code == 0x03)
            TakeDataFile(std::move(content));
    }

    void TakeDataFile(std::vector<uint8_t> content) {
        switch (expect_) {
            case Expect::kFirmware:
                image_.Append(content.data(), content.size());
                return;
            case Expect::kParameterSet:
                expect_ = Expect::kCommand;
                machine_.KeepParameters(connection_, "lpd", 0, content);
                return;
            case Expect::kCommandFrame:
                expect_ = Expect::kCommand;
                TakeCommandFrame(content);
                return;
            case Expect::kCommand:
                break;
        }
        if (StartsWith(content, kAccessPrefix)) {
            TakeAccessLine(content);
        } else if (content.size() == 1 && content[0] == 0x00) {
            machine_.Log().Emit(Event("end-of-exchange").Number("conn", connection_));
            machine_.EndOffer("end-of-exchange");
        } else {
            TakeCommand(std::string(AsText(content)));
        }
    }

    void TakeAccessLine(const std::vector<uint8_t>& line) {
        const char* code = AccessCodeName(line);
        const char* expected = machine_.Type() == 1 ? "A" : "B";
        accessChecked_ = true;
        accessGranted_ = std::strcmp(code, expected) == 0;
        machine_.Log().Emit(Event("access")
                                .Number("conn", connection_)
                                .Flag("ok", accessGranted_)
                                .Text("code", code)
                                .Number("bytes", static_cast<long long>(line.size())));
    }

    void TakeCommand(const std::string& text) {
        if (!accessGranted_) {
            machine_.Log().Emit(
                Event("command-ignored")
                    .Number("conn", connection_)
                    .Text("text", text)
                    .Text("reason", accessChecked_ ? "wrong-access-code" : "no-access-line"));
            return;
        }
        const bool known = text == "GET REPORT" || text == "GET PARAM" || text == "PUT PARAM" ||
                           text == "PUT ALL PARAM" || text == "PIPE MONITOR";
        machine_.Log().Emit(Event("command")
                                .Number("conn", connection_)
                                .Text("via", "lpd")
                                .Text("text", text)
                                .Flag("known", known));
        if (text == "GET REPORT") {
            machine_.StartOffer("REPORT:");
        } else if (text == "GET PARAM") {
            machine_.StartOffer("READ_PARAM:");
        } else if (text == "PUT PARAM" || text == "PUT ALL PARAM") {
            expect_ = Expect::kParameterSet;
        } else if (text == "PIPE MONITOR") {
            expect_ = Expect::kCommandFrame;
        }
    }

    void TakeCommandFrame(const std::vector<uint8_t>& frame) {
        std::string text;
        const char* problem = ParseCommandFrame(frame, text);
        Event event("command-frame");
        event.Number("conn", connection_).Flag("ok", problem == nullptr);
        if (problem != nullptr) {
            machine_.Log().Emit(event.Text("reason", problem)
                                    .Hex("head", frame.data(), std::min<size_t>(frame.size(), 16)));
            return;
        }
        machine_.Log().Emit(event.Text("text", text));
        if (machine_.RunTextCommand(connection_, text, "monitor")) {
            // The rest of this job is the new firmware.
            machine_.TakeImageAnnouncement();
            machine_.GetRecorder().StartImage(image_);
            expect_ = Expect::kFirmware;
        }
    }

    Machine& machine_;
    const int connection_;
    LpdJobParser parser_{*this};
    Expect expect_ = Expect::kCommand;
    bool accessChecked_ = false;
    bool accessGranted_ = false;
    Recorder::Image image_;
};

// Types 3 and 4: request frames in, reply frames out.
class PacketSession : public Session {
  public:
    PacketSession(Machine& machine, int connection) : machine_(machine), connection_(connection) {}

    void Receive(const uint8_t* bytes, size_t size, Outbox& out) override {
        if (done_)
            return;
        pending_.insert(pending_.end(), bytes, bytes + size);
        size_t used = 0;
        while (!done_ && used < pending_.size()) {
            const FrameParse parse =
                ParsePacketFrame(pending_.data() + used, pending_.size() - used);
            if (parse.status == FrameStatus::kIncomplete)
                break;
            if (parse.status != FrameStatus::kComplete) {
                Reject(parse.status, used, out);
                break;
            }
            used += parse.frameLength;
            TakeFrame(parse.frame, out);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
    }

    void Closed(const char* reason) override {
        if (!pending_.empty() && !done_) {
            machine_.Log().Emit(Event("frame-rejected")
                                    .Number("conn", connection_)
                                    .Text("reason", "closed-inside-frame")
                                    .Text("end", reason)
                                    .Number("bytes", static_cast<long long>(pending_.size())));
        }
    }

  private:
    void Reject(FrameStatus status, size_t at, Outbox& out) {
        machine_.Log().Emit(
            Event("frame-rejected")
                .Number("conn", connection_)
                .Text("reason", FrameStatusName(status))
                .Hex("head", pending_.data() + at, std::min<size_t>(pending_.size() - at, 16)));
        done_ = true;
        out.closeAfterSend = true;
    }

    void TakeFrame(const PacketFrame& frame, Outbox& out) {
        const std::string name = CommandName(frame.command);
        machine_.Log().Emit(Event("frame")
                                .Number("conn", connection_)
                                .Text("cmd", name)
                                .Number("data", static_cast<long long>(frame.data.size()))
                                .Flag("data_sum", frame.hasDataSum));
        const std::optional<std::vector<uint8_t>> body = machine_.HandleFrame(connection_, frame);
        if (!body)
            return;
        if (machine_.GetFaults().neverAnswer) {
            machine_.Log().Emit(
                Event("reply-withheld").Number("conn", connection_).Text("cmd", name));
            return;
        }
        const ReplyPlan plan = PlanReply(*body, machine_.GetFaults());
        machine_.Log().Emit(Event("reply")
                                .Number("conn", connection_)
                                .Text("cmd", name)
                                .Number("body", static_cast<long long>(body->size()))
                                .Number("bytes", static_cast<long long>(plan.bytes.size()))
                                .Flag("cut", plan.closeAfter));
        out.bytes.append(reinterpret_cast<const char*>(plan.bytes.data()), plan.bytes.size());
        if (plan.closeAfter) {
            out.closeAfterSend = true;
            done_ = true;
        }
    }

    Machine& machine_;
    const int connection_;
    std::vector<uint8_t> pending_;
    bool done_ = false;
};

// Types 3 and 4, TCP 9100: everything one connection brings until it closes is an image.
class RawImageSession : public Session {
  public:
    RawImageSession(Machine& machine, int connection)
        : machine_(machine), connection_(connection), announced_(machine.TakeImageAnnouncement()) {
        machine_.GetRecorder().StartImage(image_);
    }

    void Receive(const uint8_t* bytes, size_t size, Outbox&) override {
        image_.Append(bytes, size);
    }

    void Closed(const char* reason) override {
        FinishFirmware(machine_, image_, connection_, "9100", announced_, reason);
    }

  private:
    Machine& machine_;
    const int connection_;
    const bool announced_;
    Recorder::Image image_;
};

}  // namespace

std::unique_ptr<Session> MakeSession(PortRole role, Machine& machine, int connection) {
    switch (role) {
        case PortRole::kLpd:
            return std::make_unique<LpdSession>(machine, connection);
        case PortRole::kPackets:
            return std::make_unique<PacketSession>(machine, connection);
        case PortRole::kRawImage:
            return std::make_unique<RawImageSession>(machine, connection);
    }
    return nullptr;
}

}  // namespace sim
