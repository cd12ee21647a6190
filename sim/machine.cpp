#include "sim/machine.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "sim/sessions.h"
#include "sim/snmp_ber.h"

namespace kelo::sim {
namespace {

constexpr char kUpdateCommand[] = "BOOT_UpdateMain 0\n";
constexpr char kRestartCommand[] = "rs\n";
const std::vector<uint8_t> kStoredReply = {'O', 'K'};

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
    ServeParameters(half, content);
}

void Machine::ServeParameters(int half, const std::vector<uint8_t>& content) {
    if (half == 0) {
        config_.parameters = std::make_shared<const std::vector<uint8_t>>(content);
        return;
    }
    // The served bytes may be shared with other machines of the process: this one changes a
    // copy of its own. A half beyond a short set lengthens it, the gap zero.
    std::vector<uint8_t> set = Parameters();
    const size_t start = (half - 1) * kHalfSize;
    set.resize(std::max(set.size(), start + content.size()));
    std::copy(content.begin(), content.end(), set.begin() + static_cast<long>(start));
    config_.parameters = std::make_shared<const std::vector<uint8_t>>(std::move(set));
}

bool Machine::TakeImageAnnouncement() {
    const bool announced = imageAnnounced_;
    imageAnnounced_ = false;
    return announced;
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

std::unique_ptr<Session> MakeSession(PortRole role, Machine& machine, int connection) {
    switch (role) {
        case PortRole::kLpd:
            return MakeLpdSession(machine, connection);
        case PortRole::kPackets:
            return MakePacketSession(machine, connection);
        case PortRole::kRawImage:
            return MakeRawImageSession(machine, connection);
    }
    return nullptr;
}

}  // namespace kelo::sim
