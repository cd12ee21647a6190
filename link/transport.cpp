#include "link/transport.h"

#include <algorithm>

#include "link/lpd_sender.h"
#include "link/packet_link.h"
#include "link/parallel_port_ieee1284.h"
#include "link/status_text.h"
#include "link/usb_printer.h"
#include "link/wire_format.h"
#include "platform/access_codes.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "snmp/status_query.h"

namespace kelo {
namespace {

// No port kind the program knows: nothing can be opened, so nothing else is ever reached.
class UnsetPort : public Transport {
  public:
    using Transport::Transport;
    void Close() override {}
    bool WaitForRestart() override { return true; }

  protected:
    bool OpenChannel(bool /*quiet*/) override {
        platform::ShowMessage(platform::MessageId::kSetUpPort);
        return false;
    }
    bool WriteBlock(const uint8_t*, int) override { return true; }
    bool ReadStatusText(std::string&) override { return true; }
};

}  // namespace

Transport::Transport(platform::CancelDialog& dialog, int machineType,
                     std::optional<std::string> host)
    : dialog_(dialog), machineType_(machineType), host_(std::move(host)) {}

bool Transport::Open(bool quiet) {
    // After a Cancel the operation reaches the machine no more, as with writes and status reads.
    if (dialog_.IsCancelled())
        return false;
    // No operation acts on a missing host.
    if (!host_) {
        platform::ShowMessage(platform::MessageId::kSetUpPort);
        return false;
    }
    return OpenChannel(quiet);
}

bool Transport::Write(const uint8_t* data, int length) {
    if (dialog_.IsCancelled())
        return false;
    return WriteBlock(data, length);
}

bool Transport::WriteText(const std::string& text) {
    return Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

bool Transport::WriteAccessLine() {
    return WriteText(AccessLine(machineType_));
}

bool Transport::SendCommand(const std::string& text) {
    if (SpeaksPackets()) {
        std::vector<uint8_t> payload{0x00, wire::kRequestTextCommand};
        payload.insert(payload.end(), text.begin(), text.end());
        return Write(payload.data(), static_cast<int>(payload.size()));
    }
    WaitUnlessCancelled(300);
    if (!WriteAccessLine() || !WriteText(wire::kMonitorLine))
        return false;
    const std::vector<uint8_t> frame = CommandFrame(text);
    return Write(frame.data(), static_cast<int>(frame.size()));
}

int Transport::ReadReply(uint8_t* /*buffer*/, bool /*showProgress*/, int /*progressBase*/) {
    platform::ShowMessage(platform::MessageId::kFailedReceive);
    return -1;
}

bool Transport::ReadStatus(std::string& statusText) {
    if (dialog_.IsCancelled())
        return false;
    return ReadStatusText(statusText);
}

bool Transport::WaitForRestart() {
    WaitUnlessCancelled(3000);
    return true;
}

void Transport::WaitUnlessCancelled(int milliseconds) {
    platform::Sleep(milliseconds, [this] { return dialog_.IsCancelled(); });
}

std::string Transport::AccessLine(int machineType) {
    return std::string(platform::kAccessLinePrefix) +
           (machineType == 1 ? platform::kAccessCodeA : platform::kAccessCodeB);
}

std::vector<uint8_t> Transport::CommandFrame(const std::string& text) {
    // Length high, length low, the text, then a check byte of (sum of all before + 1).
    std::vector<uint8_t> frame;
    frame.reserve(text.size() + 3);
    frame.push_back(static_cast<uint8_t>((text.size() >> 8) & 0xFF));
    frame.push_back(static_cast<uint8_t>(text.size() & 0xFF));
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(wire::PlusOneSum(frame.data(), frame.size()));
    return frame;
}

std::string Transport::TextUpToZero(const uint8_t* bytes, int count) {
    const uint8_t* end = std::find(bytes, bytes + count, 0);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

bool Transport::ReadStatusThroughSnmp(std::string& statusText) {
    return QueryStatus(*host_, dialog_, statusText, DescribeStatusText);
}

std::unique_ptr<Transport> MakeTransport(const ConnectionSettings& settings,
                                         platform::CancelDialog& dialog,
                                         const LocalPortMakers& makers) {
    const int type = settings.machineTypeIndex + 1;
    const std::optional<std::string> host = SelectedHost(settings);
    switch (settings.portKind) {
        case kPortParallel:
            return std::make_unique<ParallelTransport>(dialog, type, host, makers.parallel);
        case kPortUsb:
            return std::make_unique<UsbTransport>(dialog, type, host, makers.usb);
        case kPortNetwork:
            if (type == 3 || type == 4)
                return std::make_unique<PacketLinkTransport>(dialog, type, host);
            return std::make_unique<LpdTransport>(dialog, type, host);
        default:
            return std::make_unique<UnsetPort>(dialog, type, host);
    }
}

}  // namespace kelo
