// UsbPrinter: the machine's USB printer interface through the usblp kernel driver.
//
// The machine is recognised by the vendor and product in its device instance identifier,
// built from sysfs as USB\VID_xxxx&PID_xxxx\serial; the interface class is taken from the
// symbolic link of the recognised device, and the device opened is the first present
// interface of that class (/dev/usb/lp0, lp1, ... in number order).
#pragma once

#include <cstdint>
#include <string>

#include "link/ports.h"
#include "link/transport.h"
#include "platform/trace.h"

namespace kelo {

// The device file calls of the USB link, apart so that tests can stand in for the device.
class UsbPrinterIo {
  public:
    virtual ~UsbPrinterIo() = default;
    // A descriptor open for reading and writing, or -1.
    virtual int Open(const std::string& path) = 0;
    // One write: the count taken, or -1.
    virtual int Write(int fd, const uint8_t* data, int length) = 0;
    // Fills buffer with the device ID as the driver keeps it (two length bytes, then the
    // text); false on failure.
    virtual bool GetDeviceId(int fd, uint8_t* buffer, int size) = 0;
    virtual void Close(int fd) = 0;
};

// open(2), write(2), ioctl(LPIOC_GET_DEVICE_ID) and close(2).
UsbPrinterIo& SystemUsbPrinterIo();

// The device interface class of USB printers, as the symbolic links carry it.
constexpr const char* kUsbPrinterInterfaceClass = "28d78fad-5a12-11d1-ae5b-0000f803a8c2";

// Whether an instance identifier names one of the maker's machines (compared as a prefix,
// without regard to case).
bool IsOrvexInstance(const std::string& instanceId);

// The interface class in a symbolic link: the text between the last '}' and the last '{'
// before it. False when the link has no such pair.
bool InterfaceClassFromLink(const std::string& link, std::string& interfaceClass);

class UsbPrinter : public UsbDevice {
  public:
    static constexpr int kWritePiece = 4096;
    static constexpr size_t kMaxInterfaceClass = 255;

    // sysfsRoot and devRoot are the mount points of sysfs and /dev; io must outlive the
    // object.
    UsbPrinter(std::string sysfsRoot, std::string devRoot, UsbPrinterIo& io);
    // The system's own: /sys, /dev and the device file calls.
    UsbPrinter();
    ~UsbPrinter() override;
    UsbPrinter(const UsbPrinter&) = delete;
    UsbPrinter& operator=(const UsbPrinter&) = delete;

    bool Open() override;
    // The length on success; 0 when the device cannot be opened or a write fails (the
    // handle is then closed); a length of 0 or less comes back unchanged without writing.
    int Write(const uint8_t* data, int length) override;
    // The device ID without its length bytes, ended by a zero byte that the count includes,
    // so an empty ID still reads as one byte; 0 on failure (the handle is then closed).
    int Read(uint8_t* buffer, int size) override;
    void Close() override;

    bool IsOpen() const { return open_; }
    const std::string& InterfaceClass() const { return interfaceClass_; }

    enum class SearchResult { kFound, kNotFound, kError };
    // Looks for a recognised machine and takes the interface class from its symbolic link.
    SearchResult SearchInterfaceClass();

  private:
    bool SearchAndOpen();
    bool OpenFirstPresentInterface();
    // The trace's record of an open and of a transfer, run only while a trace runs.
    void TraceOpen(platform::TraceSink& sink, const std::string& device);
    void TraceTransfer(platform::TraceSink& sink, platform::TraceDirection direction,
                       const uint8_t* data, int count, bool failed);

    std::string sysfsRoot_;
    std::string devRoot_;
    UsbPrinterIo& io_;
    bool open_ = false;
    int handle_ = -1;
    std::string interfaceClass_;
    std::string openedPath_;  // the device file of the open handle
    platform::TraceChannel trace_;
};

// The USB printer interface as a transport: the device made once and kept, opened for each
// exchange; the machine's status is its device ID.
class UsbTransport : public LocalPortTransport<UsbDevice> {
  public:
    using LocalPortTransport::LocalPortTransport;
    ~UsbTransport() override;

    void Close() override;
    // Closes the device and opens it again after the fixed wait.
    bool WaitForRestart() override;

  protected:
    bool OpenChannel(bool quiet) override;
    bool WriteBlock(const uint8_t* data, int length) override;
    bool ReadStatusText(std::string& statusText) override;
};

}  // namespace kelo
