// The local ports of the connection: the parallel port and the USB device. Each sits behind
// a small interface so that tests can put a fake in place of the hardware.
#pragma once

#include <cstdint>
#include <memory>

namespace kelo {

class ParallelPort {
  public:
    virtual ~ParallelPort() = default;
    // Opens the first parallel port.
    virtual bool Open() = 0;
    virtual bool IsOpen() const = 0;
    // One write: the count of bytes taken (0 is possible), or -1 on failure.
    virtual int Write(const uint8_t* data, int length) = 0;
    // The IEEE 1284 device ID without its two length bytes: the count, or -1 on failure.
    virtual int ReadDeviceId(uint8_t* buffer, int size) = 0;
    virtual void Close() = 0;
};

// The machine's USB printer interface (UsbPrinter on a real system).
class UsbDevice {
  public:
    virtual ~UsbDevice() = default;
    // Searches and opens when no handle is held; whether a handle is open.
    virtual bool Open() = 0;
    // The length on success, 0 when the device cannot be opened or a write fails.
    virtual int Write(const uint8_t* data, int length) = 0;
    // The count of device-ID bytes, or 0 on failure (the handle is then closed).
    virtual int Read(uint8_t* buffer, int size) = 0;
    virtual void Close() = 0;
};

// Makers of the system's ports; tests install their own.
using ParallelPortFactory = std::unique_ptr<ParallelPort> (*)();
using UsbDeviceFactory = std::unique_ptr<UsbDevice> (*)();

// The system's first parallel port and the machine's USB device; null where the system has
// no such port.
std::unique_ptr<ParallelPort> MakeSystemParallelPort();
std::unique_ptr<UsbDevice> MakeSystemUsbDevice();

}  // namespace kelo
