#include "link/parallel_port_ieee1284.h"

#include <ieee1284.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "link/access_code_mask.h"
#include "link/command_trace.h"
#include "link/device_id.h"
#include "platform/messages.h"

namespace kelo {
namespace {

// The two length bytes in front of the device ID.
constexpr int kLengthFieldSize = 2;

class LibIeee1284Backend : public Ieee1284Backend {
  public:
    ~LibIeee1284Backend() override { FreePorts(); }

    int FindPorts() override {
        FreePorts();
        const int result = ieee1284_find_ports(&list_, 0);
        if (result != E1284_OK)
            return result;
        found_ = true;
        return list_.portc;
    }

    int OpenFirstPort(int flags) override {
        if (!HasPort())
            return E1284_INVALIDPORT;
        int capabilities = 0;
        return ieee1284_open(list_.portv[0], flags, &capabilities);
    }

    int Claim() override { return HasPort() ? ieee1284_claim(list_.portv[0]) : E1284_INVALIDPORT; }

    long CompatWrite(const uint8_t* data, long length) override {
        if (!HasPort() || length < 0)
            return E1284_INVALIDPORT;
        return ieee1284_compat_write(list_.portv[0], 0, reinterpret_cast<const char*>(data),
                                     static_cast<size_t>(length));
    }

    long GetDeviceId(uint8_t* buffer, long size) override {
        if (!HasPort() || size < 0)
            return E1284_INVALIDPORT;
        return ieee1284_get_deviceid(list_.portv[0], -1, F1284_FRESH,
                                     reinterpret_cast<char*>(buffer), static_cast<size_t>(size));
    }

    void Release() override {
        if (HasPort())
            ieee1284_release(list_.portv[0]);
    }

    void ClosePort() override {
        if (HasPort())
            ieee1284_close(list_.portv[0]);
    }

    std::string FirstPortName() override {
        return HasPort() && list_.portv[0]->name != nullptr ? list_.portv[0]->name : "";
    }

    void FreePorts() override {
        if (!found_)
            return;
        ieee1284_free_ports(&list_);
        found_ = false;
    }

  private:
    bool HasPort() const { return found_ && list_.portc > 0; }

    parport_list list_{};
    bool found_ = false;
};

}  // namespace

std::unique_ptr<Ieee1284Backend> MakeLibIeee1284Backend() {
    return std::make_unique<LibIeee1284Backend>();
}

Ieee1284Port::Ieee1284Port(std::unique_ptr<Ieee1284Backend> backend)
    : backend_(std::move(backend)) {
    trace_.SetDecoder(MakeLocalPortDecoder);
    trace_.SetMask(MakeAccessCodeMask);
}

Ieee1284Port::~Ieee1284Port() {
    Close();
}

// The first parallel port and its device ID read: the first port libieee1284 finds.
bool Ieee1284Port::Open() {
    if (open_)
        return true;
    open_ = ClaimFirstPort();
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        TraceOpen(*sink, open_);
    return open_;
}

bool Ieee1284Port::ClaimFirstPort() {
    if (backend_->FindPorts() < 1) {
        backend_->FreePorts();
        return false;
    }
    // Not exclusive: others may share the port, as the device was opened shared for reading
    // and writing; the claim keeps it ours while the exchange runs.
    if (backend_->OpenFirstPort(0) != E1284_OK) {
        backend_->FreePorts();
        return false;
    }
    if (backend_->Claim() != E1284_OK) {
        backend_->ClosePort();
        backend_->FreePorts();
        return false;
    }
    return true;
}

// A device that takes nothing gives 0; the connection gives up after a run of such writes.
int Ieee1284Port::Write(const uint8_t* data, int length) {
    if (!open_)
        return -1;
    if (length <= 0)
        return 0;
    const long n = backend_->CompatWrite(data, length);
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        TraceTransfer(*sink, platform::TraceDirection::kToMachine, data, std::min<long>(n, length));
    if (n < 0)
        return -1;
    return static_cast<int>(std::min<long>(n, length));
}

// The device ID is read fresh each time: it is the machine's current status, which a cached
// copy would not show.
int Ieee1284Port::ReadDeviceId(uint8_t* buffer, int size) {
    if (!open_ || buffer == nullptr || size < 1)
        return -1;
    std::vector<uint8_t> raw(static_cast<size_t>(size) + kLengthFieldSize, 0);
    const long got = backend_->GetDeviceId(raw.data(), static_cast<long>(raw.size()));
    if (got < 0)
        return -1;
    const int arrived = static_cast<int>(std::min<long>(got, static_cast<long>(raw.size())));
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        TraceTransfer(*sink, platform::TraceDirection::kFromMachine, raw.data(), arrived);
    return DeviceIdText(raw.data(), arrived, buffer, size);
}

void Ieee1284Port::Close() {
    if (!open_)
        return;
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        trace_.Closed(*sink);
    backend_->Release();
    backend_->ClosePort();
    backend_->FreePorts();
    open_ = false;
}

void Ieee1284Port::TraceOpen(platform::TraceSink& sink, bool opened) {
    platform::TraceEndpoints endpoints;
    endpoints.transport = platform::TraceTransport::kParallel;
    endpoints.device = opened ? backend_->FirstPortName() : "";
    trace_.SetEndpoints(std::move(endpoints));
    if (opened)
        trace_.Opened(sink, platform::TraceOpenResult::kOpened);
    else
        trace_.Opened(sink, platform::TraceOpenResult::kFailed, "no parallel port");
}

void Ieee1284Port::TraceTransfer(platform::TraceSink& sink, platform::TraceDirection direction,
                                 const uint8_t* data, long count) {
    if (count > 0)
        trace_.Bytes(sink, direction, data, static_cast<size_t>(count));
    else if (count < 0)
        trace_.Note(sink, direction == platform::TraceDirection::kToMachine
                              ? "write failed"
                              : "device ID read failed");
}

namespace {

// A parallel device that keeps taking 0 bytes is given up after this many such writes.
constexpr int kMaxZeroWrites = 16;

}  // namespace

ParallelTransport::~ParallelTransport() {
    Close();
}

bool ParallelTransport::OpenChannel(bool /*quiet*/) {
    if (OpenPort())
        return true;
    platform::ShowMessage(platform::MessageId::kFailedOpenPort);
    return false;
}

void ParallelTransport::Close() {
    if (LocalPort() && LocalPort()->IsOpen())
        LocalPort()->Close();
}

bool ParallelTransport::WriteBlock(const uint8_t* data, int length) {
    if (length < 1)
        return true;
    int written = 0;
    int zeroWrites = 0;
    while (written < length) {
        const int n = LocalPort() ? LocalPort()->Write(data + written, length - written) : -1;
        if (n < 0 || (n == 0 && ++zeroWrites >= kMaxZeroWrites)) {
            platform::ShowMessage(platform::MessageId::kFailedWrite);
            return false;
        }
        if (n > 0)
            zeroWrites = 0;
        written += n;
    }
    return true;
}

bool ParallelTransport::ReadStatusText(std::string& statusText) {
    uint8_t buffer[kStatusBufferSize];
    const int n = LocalPort() ? LocalPort()->ReadDeviceId(buffer, kStatusBufferSize) : -1;
    if (n < 0) {
        platform::ShowMessage(platform::MessageId::kFailedRead);
        return false;
    }
    statusText = TextUpToZero(buffer, std::min(n, kStatusBufferSize));
    return true;
}

}  // namespace kelo
