// The connection over the USB and parallel port links: opening, writing, waiting for a
// restart, and Get Report of machine type 1 answered through the device ID.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/parallel_port_ieee1284.h"
#include "link/settings.h"
#include "link/usb_printer.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/system.h"
#include "tests/link/ports/port_fakes.h"
#include "testsupport/ops_calls.h"
#include "testsupport/scripted_cancel.h"
#include "testsupport/test_bytes.h"

namespace kelo {
namespace {

using test::FakeIeee1284Backend;
using test::FakeIeee1284State;
using test::FakeSystemTree;
using test::FakeUsbPrinterIo;
using test::ScriptedMachine;
using testing_support::HexText;
using testing_support::TempDir;
using Texts = std::vector<std::string>;

// A USB device that logs what the connection asks of it.
class LoggingUsbDevice : public UsbDevice {
  public:
    explicit LoggingUsbDevice(std::vector<std::string>& log) : log_(log) {}
    bool Open() override {
        log_.push_back("open");
        return true;
    }
    int Write(const uint8_t*, int length) override { return length; }
    int Read(uint8_t*, int) override { return 0; }
    void Close() override { log_.push_back("close"); }

  private:
    std::vector<std::string>& log_;
};

class PortConnectionTest : public ::testing::Test {
  protected:
    PortConnectionTest() { current = this; }
    ~PortConnectionTest() override { current = nullptr; }

    std::unique_ptr<DeviceLink> MakeLink(int portKind, bool withHost = true) {
        auto link = std::make_unique<DeviceLink>(dialog);
        link->SetUsbDeviceFactory(usbFactory);
        link->SetParallelPortFactory(&MakeFakeParallelPort);
        ConnectionSettings& settings = link->MutableSettings();
        settings.portKind = portKind;
        settings.machineTypeIndex = 0;
        settings.hosts = withHost ? Texts{"machine"} : Texts{};
        settings.selectedHost = 0;
        return link;
    }

    // The machine on the USB bus, its device file answering for the machine.
    void AttachUsbMachine() {
        tree.AddUsbmiscNode("lp0", "0b75", "031a", "K0001");
        tree.AddDevNode("lp0");
        usbIo.machine = &machine;
    }

    int ParallelCalls(const std::string& call) const {
        return static_cast<int>(std::count(parallel.calls.begin(), parallel.calls.end(), call));
    }

    static std::unique_ptr<UsbDevice> MakeTreeUsbDevice() {
        return std::make_unique<UsbPrinter>(current->tree.Sysfs(), current->tree.Dev(),
                                            current->usbIo);
    }
    static std::unique_ptr<UsbDevice> MakeLoggingUsbDevice() {
        return std::make_unique<LoggingUsbDevice>(current->log);
    }
    static std::unique_ptr<ParallelPort> MakeFakeParallelPort() {
        return std::make_unique<Ieee1284Port>(
            std::make_unique<FakeIeee1284Backend>(current->parallel));
    }

    static inline PortConnectionTest* current = nullptr;

    TempDir profileDir;
    FakeSystemTree tree;
    FakeUsbPrinterIo usbIo;
    FakeIeee1284State parallel;
    ScriptedMachine machine;
    std::vector<std::string> log;
    UsbDeviceFactory usbFactory = &MakeTreeUsbDevice;
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::platform::FakeClock clock;
    kelo::platform::MessageRecorder messages;
};

TEST_F(PortConnectionTest, UsbWithoutDeviceGivesUpAfter34AttemptsOf300Ms) {
    auto link = MakeLink(kPortUsb);
    EXPECT_FALSE(link->Port().Open(false));
    EXPECT_EQ(clock.Waits(), std::vector<int>(34, 300));
    EXPECT_EQ(messages.Texts(), Texts{"Failed to open port."});
}

TEST_F(PortConnectionTest, ParallelPortWithoutHostsRefuses) {
    auto link = MakeLink(kPortParallel, false);
    EXPECT_FALSE(link->Port().Open(false));
    EXPECT_EQ(messages.Texts(), Texts{"Set up \"SELECT PORT\""});
    EXPECT_TRUE(parallel.calls.empty());
}

TEST_F(PortConnectionTest, ParallelWriteOfNothingSucceedsWithoutWriting) {
    auto link = MakeLink(kPortParallel);
    ASSERT_TRUE(link->Port().Open(false));
    const uint8_t data[1] = {0x41};
    EXPECT_TRUE(link->Port().Write(data, 0));
    EXPECT_EQ(ParallelCalls("write"), 0);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PortConnectionTest, ParallelDeviceThatTakesNothingEndsWithFailedToWrite) {
    parallel.takes = [](long) { return 0L; };
    auto link = MakeLink(kPortParallel);
    ASSERT_TRUE(link->Port().Open(false));
    const uint8_t data[5] = {0x48, 0x65, 0x6C, 0x6C, 0x6F};
    EXPECT_FALSE(link->Port().Write(data, 5));
    EXPECT_EQ(messages.Texts(), Texts{"Failed to write."});
    EXPECT_EQ(ParallelCalls("write"), 16);
}

TEST_F(PortConnectionTest, UsbWaitForRestartClosesWaitsAndReopens) {
    usbFactory = &MakeLoggingUsbDevice;
    clock.onSleep = [this](int ms) { log.push_back("sleep " + std::to_string(ms)); };
    auto link = MakeLink(kPortUsb);
    ASSERT_TRUE(link->Port().Open(false));
    log.clear();
    EXPECT_TRUE(link->Port().WaitForRestart());
    EXPECT_EQ(log, (std::vector<std::string>{"close", "sleep 3000", "open"}));
}

// Get Report of machine type 1 over both local ports, with the machine answering through its
// device ID.
class LocalGetReportTest : public PortConnectionTest, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        if (GetParam() == kPortUsb) {
            AttachUsbMachine();
        } else {
            parallel.machine = &machine;
        }
    }

    // Whether the port was given back at the end.
    bool PortClosed() const {
        if (GetParam() == kPortUsb)
            return usbIo.openFd == -1 && !usbIo.closes.empty();
        return parallel.calls.size() >= 3 &&
               std::equal(parallel.calls.end() - 3, parallel.calls.end(),
                          Texts{"release", "close", "free"}.begin());
    }

    const std::string request = Transport::AccessLine(1) + "GET REPORT";
};

TEST_P(LocalGetReportTest, ReportArrivesLineByLine) {
    std::string firstLine;
    for (int i = 0; i < 128; ++i)
        firstLine += static_cast<char>('a' + i % 26);
    const std::string lastLine = "END\n";
    machine.reportAnswers = {
        "MFG:Maker;REPORT:0,2;",
        "MFG:Maker;REPORT:1," + HexText({firstLine.begin(), firstLine.end()}, "") + ";",
        "REPORT:2," + HexText({lastLine.begin(), lastLine.end()}, "") + ";"};
    auto link = MakeLink(GetParam());

    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link->Port(), report));
    EXPECT_EQ(report, firstLine + lastLine);
    EXPECT_EQ(machine.written, request + std::string(1, '\0'));
    EXPECT_EQ(dialog.Range(), 2);
    EXPECT_TRUE(PortClosed());
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_P(LocalGetReportTest, CancelEndsTheCountWait) {
    testing_support::CancelAtPump(dialog, 4);
    auto link = MakeLink(GetParam());

    std::string report = "unchanged";
    EXPECT_FALSE(testing_support::ReportInto(link->Port(), report));
    EXPECT_EQ(report, "unchanged");
    EXPECT_EQ(machine.written, request) << "no end-of-exchange byte after a Cancel";
    EXPECT_TRUE(PortClosed());
    EXPECT_TRUE(messages.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Ports, LocalGetReportTest, ::testing::Values(kPortUsb, kPortParallel),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == kPortUsb ? "Usb" : "Parallel";
                         });

}  // namespace
}  // namespace kelo
