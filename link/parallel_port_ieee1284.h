// The parallel port through libieee1284: the first port the library finds, written in
// compatibility mode, with the IEEE 1284 device ID as the machine's status text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/ports.h"
#include "link/transport.h"
#include "platform/trace.h"

namespace kelo {

// The libieee1284 calls the parallel port makes, each on the first port found, apart so that
// tests can stand in for the library. Results are the library's: 0 or a count on success,
// a negative E1284_ code on failure.
class Ieee1284Backend {
  public:
    virtual ~Ieee1284Backend() = default;
    // ieee1284_find_ports: the number of ports found.
    virtual int FindPorts() = 0;
    // ieee1284_open of the first port with the given F1284_ flags.
    virtual int OpenFirstPort(int flags) = 0;
    virtual int Claim() = 0;
    virtual long CompatWrite(const uint8_t* data, long length) = 0;
    // ieee1284_get_deviceid(port, -1, F1284_FRESH, ...): the count of bytes placed in
    // buffer, the two length bytes included.
    virtual long GetDeviceId(uint8_t* buffer, long size) = 0;
    virtual void Release() = 0;
    virtual void ClosePort() = 0;
    // ieee1284_free_ports.
    virtual void FreePorts() = 0;
    // The name of the first port found ("parport0"), for the protocol trace.
    virtual std::string FirstPortName() { return ""; }
};

// The library itself.
std::unique_ptr<Ieee1284Backend> MakeLibIeee1284Backend();

class Ieee1284Port : public ParallelPort {
  public:
    explicit Ieee1284Port(std::unique_ptr<Ieee1284Backend> backend);
    ~Ieee1284Port() override;
    Ieee1284Port(const Ieee1284Port&) = delete;
    Ieee1284Port& operator=(const Ieee1284Port&) = delete;

    bool Open() override;
    bool IsOpen() const override { return open_; }
    int Write(const uint8_t* data, int length) override;
    int ReadDeviceId(uint8_t* buffer, int size) override;
    void Close() override;

  private:
    // The trace's record of an open and of a transfer, run only while a trace runs.
    // Finds, opens and claims the first port.
    bool ClaimFirstPort();
    void TraceOpen(platform::TraceSink& sink, bool opened);
    void TraceTransfer(platform::TraceSink& sink, platform::TraceDirection direction,
                       const uint8_t* data, long count);

    std::unique_ptr<Ieee1284Backend> backend_;
    bool open_ = false;
    platform::TraceChannel trace_;
};

// The parallel port as a transport: the port made once and kept, opened for each exchange;
// the machine's status is its IEEE 1284 device ID.
class ParallelTransport : public LocalPortTransport<ParallelPort> {
  public:
    using LocalPortTransport::LocalPortTransport;
    ~ParallelTransport() override;

    void Close() override;

  protected:
    bool OpenChannel(bool quiet) override;
    bool WriteBlock(const uint8_t* data, int length) override;
    bool ReadStatusText(std::string& statusText) override;
};

}  // namespace kelo
