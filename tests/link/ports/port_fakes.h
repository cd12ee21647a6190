// Stand-ins for the system under the USB and parallel port links: a sysfs and /dev tree in a
// temporary folder, the device file calls of a USB printer, the libieee1284 calls, and a
// machine that answers Get Report through its device ID.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/parallel_port_ieee1284.h"
#include "link/usb_printer.h"
#include "testsupport/temp_dir.h"

namespace kelo::test {

// A device ID as a device sends it: the big-endian length (counting itself), then the text.
std::vector<uint8_t> DeviceIdBytes(const std::string& text);

// <root>/sys and <root>/dev laid out as the usblp driver lays them out.
class FakeSystemTree {
  public:
    std::string Sysfs() const { return dir_.Path() + "/sys"; }
    std::string Dev() const { return dir_.Path() + "/dev"; }
    // /sys/class/usbmisc/lp<number>, whose device is interface 1.0 of a USB device with these
    // attributes (an empty serial leaves the attribute out).
    void AddUsbmiscNode(const std::string& name, const std::string& vendor,
                        const std::string& product, const std::string& serial);
    // /dev/usb/<name>.
    void AddDevNode(const std::string& name);

  private:
    testing_support::TempDir dir_;
    int busPort_ = 1;
};

// The machine's side of the command protocol: what was written to it and the status texts it
// answers with. Until "GET REPORT" has arrived it answers idle; then each status read takes
// the next answer, the last staying. After maxStatusReads reads it stops answering, so that a
// wait that never ends fails instead of hanging the test.
class ScriptedMachine {
  public:
    void Take(const uint8_t* data, int length);
    // False when the machine no longer answers.
    bool NextStatus(std::string& status);

    std::string idleStatus = "MFG:Maker;MDL:Kelo;";
    std::vector<std::string> reportAnswers;
    std::string written;
    int maxStatusReads = 1000;

  private:
    size_t next_ = 0;
    int statusReads_ = 0;
};

class FakeUsbPrinterIo : public UsbPrinterIo {
  public:
    int Open(const std::string& path) override;
    int Write(int fd, const uint8_t* data, int length) override;
    bool GetDeviceId(int fd, uint8_t* buffer, int size) override;
    void Close(int fd) override;

    std::set<std::string> refused;   // paths that do not open
    std::vector<std::string> opens;  // every path tried
    std::vector<int> closes;
    std::vector<int> writeSizes;
    std::string written;
    std::function<int(int length)> takes;  // how much one write takes; default all
    bool failDeviceId = false;
    std::vector<uint8_t> deviceId = DeviceIdBytes("MFG:Maker;");
    ScriptedMachine* machine = nullptr;  // answers instead of deviceId when set
    int openFd = -1;

  private:
    int nextFd_ = 3;
};

// What the fake libieee1284 did and is to answer; kept by the test, since the port owns its
// backend.
struct FakeIeee1284State {
    std::vector<std::string> calls;
    int portCount = 1;
    int openResult = 0;
    int claimResult = 0;
    std::function<long(long length)> takes;  // default all
    long deviceIdResult = 0;                 // negative: an E1284_ failure
    std::vector<uint8_t> deviceId = DeviceIdBytes("MFG:Maker;");
    std::vector<int> openFlags;
    std::string written;
    ScriptedMachine* machine = nullptr;
};

class FakeIeee1284Backend : public Ieee1284Backend {
  public:
    explicit FakeIeee1284Backend(FakeIeee1284State& state) : state_(state) {}
    int FindPorts() override;
    int OpenFirstPort(int flags) override;
    int Claim() override;
    long CompatWrite(const uint8_t* data, long length) override;
    long GetDeviceId(uint8_t* buffer, long size) override;
    void Release() override { state_.calls.push_back("release"); }
    void ClosePort() override { state_.calls.push_back("close"); }
    void FreePorts() override { state_.calls.push_back("free"); }

  private:
    FakeIeee1284State& state_;
};

}  // namespace kelo::test
