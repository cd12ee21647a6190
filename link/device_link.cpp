#include "link/device_link.h"

#include <algorithm>

#include "link/status_text.h"
#include "link/wire_format.h"
#include "platform/access_codes.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "snmp/status_query.h"

namespace kelo {
namespace {

constexpr int kUsbOpenInterval = 300;
constexpr int kUsbOpenGiveUp = 10000;
constexpr int kRestartAttempts = 10;
constexpr int kRestartRetryWait = 2000;
// A parallel device that keeps taking 0 bytes is given up after this many such writes.
constexpr int kMaxZeroWrites = 16;

// The text up to the first zero byte among the count received.
std::string TextUpToZero(const uint8_t* bytes, int count) {
    const uint8_t* end = std::find(bytes, bytes + count, 0);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

// Receives until count bytes are in, asking each time only for the bytes still missing, and
// tells afterEach the total after every receive. False when a receive fails or the peer closes
// first.
template <typename AfterEach>
bool ReceiveExactly(const CDeviceLink::ReplyReceive& receive, uint8_t* into, int count,
                    AfterEach afterEach) {
    int got = 0;
    while (got < count) {
        const int n = receive(into + got, count - got);
        if (n <= 0)
            return false;
        got += n;
        afterEach(got);
    }
    return true;
}

}  // namespace

CDeviceLink::CDeviceLink(platform::CancelDialog& dialog, const std::string& profilePath)
    : dialog_(dialog), profilePath_(profilePath), win9x_(platform::IsWindows9x()) {
    settings_ = LoadSettings(platform::ProfileStore(profilePath_));
}

CDeviceLink::~CDeviceLink() {
    ClosePort();
    if (saveOnExit_) {
        SaveSettings();
    }
    usb_.reset();
}

bool CDeviceLink::SaveSettings() {
    // Read the profile afresh so that what others wrote meanwhile is kept.
    platform::ProfileStore profile(profilePath_);
    SaveHostSettings(profile, settings_);
    SaveTypeSettings(profile, settings_);
    // Settings that could not be kept must not be lost without a word.
    return profile.Save().OkElseShow(profilePath_);
}

void CDeviceLink::SelectPort(PortSelectDialog& dialog) {
    PortSelection selection;
    const bool knownPort = settings_.portKind >= kPortParallel && settings_.portKind <= kPortUsb;
    selection.portKind = knownPort ? settings_.portKind : -1;
    selection.hosts = settings_.hosts;
    selection.selectedHost = settings_.selectedHost;
    selection.typeValue = settings_.machineTypeIndex;
    if (!dialog.Run(selection))
        return;
    if (selection.portKind >= kPortParallel && selection.portKind <= kPortUsb) {
        settings_.portKind = selection.portKind;
    }
    settings_.hosts = selection.hosts;
    settings_.selectedHost = selection.selectedHost;
    // A dialog that opened with no type checked and got no click keeps the stored index.
    if (selection.typeValue >= 0)
        settings_.machineTypeIndex = selection.typeValue;
}

bool CDeviceLink::HasSelectedHost() const {
    return settings_.selectedHost >= 0 &&
           static_cast<size_t>(settings_.selectedHost) < settings_.hosts.size();
}

const std::string& CDeviceLink::SelectedHost() const {
    return settings_.hosts[static_cast<size_t>(settings_.selectedHost)];
}

bool CDeviceLink::UsesPacketLink() const {
    const int type = GetMachineType();
    return type == 3 || type == 4;
}

std::string CDeviceLink::AccessLine(int machineType) {
    return std::string(platform::kAccessLinePrefix) +
           (machineType == 1 ? platform::kAccessCodeA : platform::kAccessCodeB);
}

std::vector<uint8_t> CDeviceLink::CommandFrame(const std::string& text) {
    // Length high, length low, the text, then a check byte of (sum of all before + 1).
    std::vector<uint8_t> frame;
    frame.reserve(text.size() + 3);
    frame.push_back(static_cast<uint8_t>((text.size() >> 8) & 0xFF));
    frame.push_back(static_cast<uint8_t>(text.size() & 0xFF));
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(wire::PlusOneSum(frame.data(), frame.size()));
    return frame;
}

bool CDeviceLink::OpenPort(bool quiet) {
    // After a Cancel the operation reaches the machine no more, as with writes and status reads.
    if (dialog_.IsCancelled())
        return false;
    // No operation acts on a missing host or an unknown port kind.
    const bool knownPort = settings_.portKind >= kPortParallel && settings_.portKind <= kPortUsb;
    if (settings_.hosts.empty() || !HasSelectedHost() || !knownPort) {
        platform::ShowMessage(platform::IDS_SET_UP_PORT);
        return false;
    }
    switch (settings_.portKind) {
        case kPortParallel:
            if (OpenParallel())
                return true;
            platform::ShowMessage(platform::IDS_FAILED_OPEN_PORT);
            return false;
        case kPortNetwork:
            return OpenNetwork(quiet);
        default:
            break;
    }
    for (int elapsed = 0; elapsed < kUsbOpenGiveUp; elapsed += kUsbOpenInterval) {
        if (OpenUsb())
            return true;
        WaitUnlessCancelled(kUsbOpenInterval);
    }
    platform::ShowMessage(platform::IDS_FAILED_OPEN_PORT);
    return false;
}

bool CDeviceLink::OpenNetwork(bool quiet) {
    if (UsesPacketLink()) {
        megaPut_ =
            std::make_unique<CMegaPut>(GetMachineType() == 3 ? wire::kType3Port : wire::kType4Port);
        megaPut_->SetCancelDialog(&dialog_);
        if (megaPut_->Open(SelectedHost(), wire::kQueue) == 0)
            return true;
        megaPut_.reset();
        if (!quiet)
            platform::ShowMessage(platform::IDS_FAILED_CONNECT);
        return false;
    }
    lprPut_ = std::make_unique<CLprPut>();
    lprPut_->SetCancelDialog(&dialog_);
    if (lprPut_->Open(SelectedHost(), wire::kQueue) == 0)
        return true;
    lprPut_.reset();
    platform::ShowMessage(platform::IDS_FAILED_CONNECT);
    return false;
}

bool CDeviceLink::OpenParallel() {
    if (!parallel_ && parallelFactory_ != nullptr)
        parallel_ = parallelFactory_();
    return parallel_ && parallel_->Open(win9x_);
}

bool CDeviceLink::OpenUsb() {
    if (!usb_ && usbFactory_ != nullptr)
        usb_ = usbFactory_();
    return usb_ && usb_->Open();
}

bool CDeviceLink::ClosePort() {
    switch (settings_.portKind) {
        case kPortParallel:
            if (parallel_ && parallel_->IsOpen())
                parallel_->Close();
            break;
        case kPortUsb:
            if (usb_)
                usb_->Close();
            break;
        default:
            break;
    }
    // Releasing a sender closes its socket.
    megaPut_.reset();
    mega9100Put_.reset();
    lprPut_.reset();
    return true;
}

bool CDeviceLink::WritePort(const uint8_t* data, int length) {
    if (dialog_.IsCancelled())
        return false;
    switch (settings_.portKind) {
        case kPortParallel:
            return WriteParallel(data, length);
        case kPortNetwork: {
            int result = -1;
            if (UsesPacketLink()) {
                if (megaPut_)
                    result = megaPut_->PutPacket(data, length);
            } else if (lprPut_) {
                result = lprPut_->PutData(data, length);
            }
            if (result == 0)
                return true;
            platform::ShowMessage(platform::IDS_FAILED_SEND);
            return false;
        }
        case kPortUsb:
            // An empty block is a write of nothing, which is no failure.
            if (length < 1)
                return true;
            if (usb_ && usb_->Write(data, length) != 0)
                return true;
            platform::ShowMessage(platform::IDS_FAILED_WRITE);
            return false;
        default:
            return true;
    }
}

bool CDeviceLink::WriteParallel(const uint8_t* data, int length) {
    if (length < 1)
        return true;
    int written = 0;
    int zeroWrites = 0;
    while (written < length) {
        const int n = parallel_ ? parallel_->Write(data + written, length - written) : -1;
        if (n < 0 || (n == 0 && ++zeroWrites >= kMaxZeroWrites)) {
            platform::ShowMessage(platform::IDS_FAILED_WRITE);
            return false;
        }
        if (n > 0)
            zeroWrites = 0;
        written += n;
    }
    return true;
}

void CDeviceLink::WaitUnlessCancelled(int milliseconds) {
    platform::Sleep(milliseconds, [this] { return dialog_.IsCancelled(); });
}

bool CDeviceLink::WriteAccessLine() {
    const std::string line = AccessLine(GetMachineType());
    return WriteText(line);
}

bool CDeviceLink::WriteText(const std::string& text) {
    return WritePort(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

bool CDeviceLink::SendCommand(const std::string& text) {
    if (UsesPacketLink()) {
        std::vector<uint8_t> payload{0x00, wire::kRequestTextCommand};
        payload.insert(payload.end(), text.begin(), text.end());
        return WritePort(payload.data(), static_cast<int>(payload.size()));
    }
    WaitUnlessCancelled(300);
    if (!WriteAccessLine() || !WriteText(wire::kMonitorLine))
        return false;
    const std::vector<uint8_t> frame = CommandFrame(text);
    return WritePort(frame.data(), static_cast<int>(frame.size()));
}

int CDeviceLink::ReadReply(uint8_t* buffer, bool showProgress, int progressBase) {
    if (!megaPut_) {
        platform::ShowMessage(platform::IDS_FAILED_RECEIVE);
        return -1;
    }
    CMegaPut& sender = *megaPut_;
    return ReadReplyFrame(
        [&sender](uint8_t* bytes, int length) { return sender.Receive(bytes, length); }, buffer,
        showProgress, progressBase);
}

int CDeviceLink::ReadReplyFrame(const ReplyReceive& receive, uint8_t* buffer, bool showProgress,
                                int progressBase) {
    // 1. The three header bytes: lead byte and the 16-bit length. A failed receive, or the
    //    machine closing the connection, ends the read.
    uint8_t header[wire::kFrameHeaderSize];
    if (!ReceiveExactly(receive, header, wire::kFrameHeaderSize, [](int) {})) {
        platform::ShowMessage(platform::IDS_FAILED_RECEIVE);
        return -1;
    }
    if (header[0] != wire::kLeadByte)
        return -1;
    const int bodyLength = header[1] * 256 + header[2];
    // The data and check byte of a 65535-byte body cannot fit the reply buffer.
    if (bodyLength + 1 > kReplyBufferSize)
        return -1;
    const int frameRest = bodyLength + 1;
    if (showProgress && progressBase == -1) {
        dialog_.SetRange(frameRest);
        progressBase = 0;
    }
    // 2. Data and check byte, and nothing after them: whatever the machine sends next is not
    //    part of this reply, and the check byte covers only the frame.
    const bool received = ReceiveExactly(receive, buffer, frameRest, [&](int total) {
        if (showProgress)
            dialog_.SetPos(progressBase + total);
    });
    if (!received)
        return -1;
    // 3. The whole frame sums to 0xFF.
    const unsigned sum = wire::ByteSum(buffer, static_cast<size_t>(frameRest),
                                       wire::ByteSum(header, wire::kFrameHeaderSize));
    if (!wire::FrameSumsRight(sum))
        return -1;
    // 4. A zero in place of the check byte ends the data as a text.
    buffer[bodyLength] = 0;
    return bodyLength;
}

bool CDeviceLink::ReadStatus(std::string& statusText) {
    if (dialog_.IsCancelled())
        return false;
    switch (settings_.portKind) {
        case kPortParallel:
            return ReadParallelStatus(statusText);
        case kPortNetwork:
            return QueryStatus(SelectedHost(), dialog_, statusText, DescribeStatusText);
        case kPortUsb:
            return ReadUsbStatus(statusText);
        default:
            return true;
    }
}

bool CDeviceLink::ReadParallelStatus(std::string& statusText) {
    uint8_t buffer[kStatusBufferSize];
    const int n = parallel_ ? parallel_->ReadDeviceId(buffer, kStatusBufferSize) : -1;
    if (n < 0) {
        platform::ShowMessage(platform::IDS_FAILED_READ);
        return false;
    }
    statusText = TextUpToZero(buffer, std::min(n, kStatusBufferSize));
    return true;
}

bool CDeviceLink::ReadUsbStatus(std::string& statusText) {
    uint8_t buffer[kUsbStatusBufferSize];
    const int n = usb_ ? usb_->Read(buffer, kUsbStatusBufferSize) : 0;
    if (n < 1) {
        platform::ShowMessage(platform::IDS_FAILED_READ);
        return false;
    }
    statusText = TextUpToZero(buffer, std::min(n, kUsbStatusBufferSize));
    return true;
}

bool CDeviceLink::WaitForRestart() {
    switch (settings_.portKind) {
        case kPortParallel:
            WaitUnlessCancelled(3000);
            return true;
        case kPortNetwork:
            break;
        case kPortUsb:
            ClosePort();
            WaitUnlessCancelled(3000);
            if (win9x_)
                WaitUnlessCancelled(g_win9xExtraDelay);
            return OpenPort(false);
        default:
            return true;
    }
    if (!UsesPacketLink()) {
        WaitUnlessCancelled(3000);  // the LPD job stays open
        return true;
    }
    dialog_.SetBusyCursor(true);
    WaitUnlessCancelled(GetMachineType() == 3 ? 3000 : 10000);
    bool reachable = false;
    for (int attempt = 0; attempt < kRestartAttempts && !reachable; ++attempt) {
        reachable = OpenPort(true);
        if (!reachable)
            WaitUnlessCancelled(kRestartRetryWait);
    }
    dialog_.SetBusyCursor(false);
    return reachable;
}

}  // namespace kelo
