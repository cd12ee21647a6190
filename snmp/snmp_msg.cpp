#include "snmp/snmp_msg.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "net/socket.h"
#include "platform/system.h"
#include "snmp/snmp_trace.h"

namespace kelo {
namespace {

constexpr int kReceiveTimeoutMs = 200;

}  // namespace

// The exchange's datagram socket: while a call waits it lets the dialog's events run, and gives
// up on Cancel or when the receive timer has fired.
class SnmpExchange::Channel : public Socket {
  public:
    explicit Channel(platform::CancelDialog*& dialog) : dialog_(dialog) {
        SetTraceDecoder([] { return MakeSnmpDecoder(); });
    }
    using Socket::TraceNote;

  protected:
    bool OnMessagePending() override {
        if (dialog_ == nullptr)
            return Socket::OnMessagePending();
        dialog_->PumpMessages(true);
        if (dialog_->IsCancelled() || dialog_->IsTimedOut())
            return false;
        return Socket::OnMessagePending();
    }

  private:
    platform::CancelDialog*& dialog_;
};

SnmpExchange::SnmpExchange()
    : requestId_(static_cast<uint32_t>(::getpid())), socket_(std::make_unique<Channel>(dialog_)) {}

SnmpExchange::~SnmpExchange() = default;

int SnmpExchange::MakeGetRequest(const char* oid, int pduType) {
    request_ = snmp::BuildGetRequest(oid, {pduType, requestId_, community_});
    return request_.empty() ? -1 : RequestLength();
}

int SnmpExchange::MakeSetRequest(const char* oid, int pduType, int value) {
    request_ = snmp::BuildSetRequest(oid, value, {pduType, requestId_, community_});
    return request_.empty() ? -1 : RequestLength();
}

bool SnmpExchange::TakeResponse(const uint8_t* data, int length) {
    if (length < 0 || length > snmp::kMessageSize)
        return false;
    if (data != response_)
        std::memmove(response_, data, static_cast<size_t>(length));
    responseLength_ = length;
    return snmp::ParseMessage(response_, responseLength_, fields_);
}

void SnmpExchange::MakeValueText() {
    const uint8_t* data = fields_.oidvalue_data;
    AppendValueText(snmp::ValueTextOf(fields_.oidvalue_type, data,
                                      data != nullptr ? fields_.oidvalue_length : 0));
}

void SnmpExchange::AppendValueText(const std::string& text) {
    const size_t room = static_cast<size_t>(snmp::kValueTextSize) - valueText_.size();
    valueText_.append(text, 0, std::min(room, text.size()));
}

void SnmpExchange::SetTraceDecoder(platform::TraceDecoderFactory factory) {
    socket_->SetTraceDecoder(std::move(factory));
}

int SnmpExchange::Open(const std::string& host) {
    sockaddr_in address{};
    const int port = platform::ServicePort("snmp", "udp", snmp::kSnmpPort);
    if (!Socket::ResolveIPv4(host, port, &address))
        return -1;
    if (!socket_->Create(SOCK_DGRAM) || !socket_->Connect(address))
        return -1;
    return 0;
}

int SnmpExchange::SendRequest() {
    if (request_.empty())
        return -1;
    return socket_->Send(request_.data(), RequestLength());
}

int SnmpExchange::ReceiveResponse() {
    if (dialog_ == nullptr)
        return -1;
    dialog_->StartTimer(kReceiveTimeoutMs);
    const int received = socket_->Receive(response_, responseLength_);
    dialog_->StopTimer();
    if (received < 0) {
        if (socket_->LastError() == Socket::kInterrupted && !dialog_->IsCancelled() &&
            dialog_->IsTimedOut()) {
            socket_->TraceNote("no answer within " + std::to_string(kReceiveTimeoutMs) + " ms");
            valueText_.clear();
            return 0;
        }
        return -1;
    }
    return AcceptResponse(response_, received);
}

int SnmpExchange::AcceptResponse(const uint8_t* data, int length) {
    if (!TakeResponse(data, length) || fields_.error_status != 0)
        return -1;
    MakeValueText();
    return length;
}

}  // namespace kelo
