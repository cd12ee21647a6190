// Transport: one way of carrying an operation's bytes to the machine and its answers back,
// whatever the port: the packet link of machine types 3 and 4, the LPD sender of types 1 and 2
// with status through SNMP, the USB printer interface, the parallel port. Each operation opens
// it, writes, reads and closes it on every path; a step that fails shows its message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/ports.h"
#include "link/settings.h"
#include "link/wire_format.h"
#include "platform/cancel_dialog.h"
#include "platform/messages.h"

namespace kelo {

class Transport {
  public:
    static constexpr int kReplyBufferSize = 65535;
    static constexpr int kStatusBufferSize = 512;
    static constexpr int kUsbStatusBufferSize = 1024;
    static constexpr int kMaxCommandText = 509;

    // host: the selected host, if any; every port needs one to be set up. The dialog must
    // outlive the transport.
    Transport(platform::CancelDialog& dialog, int machineType, std::optional<std::string> host);
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    platform::CancelDialog& Dialog() const { return dialog_; }
    // Machine type 1 to 4.
    int MachineType() const { return machineType_; }
    // Machine types 3 and 4 speak in request packets and reply frames, 1 and 2 in command
    // lines answered through the status.
    bool SpeaksPackets() const { return machineType_ == 3 || machineType_ == 4; }
    const std::optional<std::string>& Host() const { return host_; }

    // False after a Cancel, and with no host selected or no port set up (which says so).
    // quiet keeps a packet link that cannot connect from saying so.
    bool Open(bool quiet);
    virtual void Close() = 0;
    // Refused after a Cancel, without a message; a failed write shows one.
    bool Write(const uint8_t* data, int length);
    bool WriteText(const std::string& text);
    bool WriteAccessLine();
    // A text command: in a request packet, or after the access and monitor lines as a frame.
    bool SendCommand(const std::string& text);
    // One reply frame of the packet link: exactly the frame, nothing after it. Its length, or
    // -1; only the packet link has replies to read.
    virtual int ReadReply(uint8_t* buffer, bool showProgress, int progressBase);
    // The machine's status text; refused after a Cancel, a failed read shows its message.
    bool ReadStatus(std::string& statusText);
    // Waits until a restarted machine can be reached again; false when it cannot. By default a
    // fixed wait, for the ports that stay usable while the machine restarts.
    virtual bool WaitForRestart();
    // A fixed wait before a step that a Cancel refuses (a write, a status read, an opening):
    // a Cancel ends it, since the step after it would fail anyway.
    void WaitUnlessCancelled(int milliseconds);

    // Byte formats of machine types 1 and 2.
    static std::string AccessLine(int machineType);
    static std::vector<uint8_t> CommandFrame(const std::string& text);

  protected:
    virtual bool OpenChannel(bool quiet) = 0;
    virtual bool WriteBlock(const uint8_t* data, int length) = 0;
    virtual bool ReadStatusText(std::string& statusText) = 0;
    // The text up to the first zero byte among the count received.
    static std::string TextUpToZero(const uint8_t* bytes, int count);
    // The machine's status through SNMP, for the network transports.
    bool ReadStatusThroughSnmp(std::string& statusText);

  private:
    platform::CancelDialog& dialog_;
    int machineType_;
    std::optional<std::string> host_;
};

// A network transport: a new connection of the sender for each exchange, released by Close,
// which closes its socket; the machine's status through SNMP.
template <class Sender>
class NetworkTransport : public Transport {
  public:
    using Transport::Transport;
    ~NetworkTransport() override { Close(); }

    void Close() override { sender_.reset(); }

  protected:
    // Connects the sender to the host's queue and keeps it; when it cannot, releases it and
    // says so unless quiet.
    bool Connect(std::unique_ptr<Sender> sender, bool quiet) {
        sender_ = std::move(sender);
        sender_->SetCancelDialog(&Dialog());
        if (sender_->Open(*Host(), wire::kQueue) == 0)
            return true;
        sender_.reset();
        if (!quiet)
            platform::ShowMessage(platform::MessageId::kFailedConnect);
        return false;
    }
    // The connected sender, or null.
    Sender* Connected() const { return sender_.get(); }
    bool ReadStatusText(std::string& statusText) override {
        return ReadStatusThroughSnmp(statusText);
    }

  private:
    std::unique_ptr<Sender> sender_;
};

// A local port as a transport: the port made once by its maker and kept, opened for each
// exchange.
template <class Port>
class LocalPortTransport : public Transport {
  public:
    using Maker = std::unique_ptr<Port> (*)();

    LocalPortTransport(platform::CancelDialog& dialog, int machineType,
                       std::optional<std::string> host, Maker maker)
        : Transport(dialog, machineType, std::move(host)), maker_(maker) {}

  protected:
    // Makes the port on first need; whether it opened.
    bool OpenPort() {
        if (!port_ && maker_ != nullptr)
            port_ = maker_();
        return port_ && port_->Open();
    }
    // The port once made, or null.
    Port* LocalPort() const { return port_.get(); }

  private:
    Maker maker_;
    std::unique_ptr<Port> port_;
};

// The makers of the local ports a transport may need.
struct LocalPortMakers {
    ParallelPortFactory parallel = MakeSystemParallelPort;
    UsbDeviceFactory usb = MakeSystemUsbDevice;
};

// The transport the settings pick: by port kind, and on the network by machine type.
std::unique_ptr<Transport> MakeTransport(const ConnectionSettings& settings,
                                         platform::CancelDialog& dialog,
                                         const LocalPortMakers& makers);

}  // namespace kelo
