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
#include "platform/cancel_dialog.h"

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
    // Waits until a restarted machine can be reached again; false when it cannot.
    virtual bool WaitForRestart() = 0;
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

  private:
    platform::CancelDialog& dialog_;
    int machineType_;
    std::optional<std::string> host_;
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
