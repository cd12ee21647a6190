#include "sim/sessions.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access_codes.h"
#include "sim/lpd_job.h"

namespace kelo::sim {
namespace {

constexpr char kAccessPrefix[] = "OPEN CODE=";
constexpr size_t kAccessPrefixLength = sizeof kAccessPrefix - 1;

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

}  // namespace

std::unique_ptr<Session> MakeLpdSession(Machine& machine, int connection) {
    return std::make_unique<LpdSession>(machine, connection);
}

}  // namespace kelo::sim
