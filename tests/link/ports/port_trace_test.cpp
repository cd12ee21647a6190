// What the USB device and the parallel port tell the protocol trace: one block per write and
// per device ID read, the device they went to, and never the access code, also when the
// port takes the access line in pieces.
#include <gtest/gtest.h>

#include <string>

#include "link/device_link.h"
#include "link/parallel_port_ieee1284.h"
#include "link/usb_printer.h"
#include "tests/link/ports/port_fakes.h"
#include "trace/trace_text_writer.h"

namespace kelo {
namespace {

// The text trace of the test, kept in memory.
class TextTrace {
  public:
    TextTrace() : previous_(platform::SetTraceSink(&writer_)) {}
    ~TextTrace() { platform::SetTraceSink(previous_); }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    kelo::trace::TraceTextWriter writer_{[this](const void* data, size_t size) {
        text_.append(static_cast<const char*>(data), size);
    }};
    platform::TraceSink* previous_;
};

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PortTrace, UsbWritesAndDeviceIdsAreBlocksOfTheDevice) {
    test::FakeSystemTree tree;
    tree.AddUsbmiscNode("lp0", "0b75", "031a", "K0001");
    tree.AddDevNode("lp0");
    test::FakeUsbPrinterIo io;
    io.deviceId = test::DeviceIdBytes("MFG:Maker;REPORT:0,2;");
    TextTrace trace;
    {
        UsbPrinter device(tree.Sysfs(), tree.Dev(), io);
        const std::string line = Transport::AccessLine(1) + std::string(5000, 'x');
        ASSERT_EQ(device.Write(reinterpret_cast<const uint8_t*>(line.data()),
                               static_cast<int>(line.size())),
                  5510);
        uint8_t buffer[1024];
        ASSERT_EQ(device.Read(buffer, sizeof buffer), 22);
    }
    const std::string name = "usb " + tree.Dev() + "/usb/lp0";
    EXPECT_TRUE(Holds(trace.Text(), name + " open: opened\n"));
    EXPECT_TRUE(
        Holds(trace.Text(), name + " > 5510 bytes: access line \"OPEN CODE=\" "
                                   "<access code, 500 characters, not shown>, then 5000 bytes\n"));
    EXPECT_TRUE(Holds(trace.Text(), "\n# <access code, 500 characters, not shown>\n"));
    EXPECT_TRUE(Holds(trace.Text(), name + " < 23 bytes: device ID \"MFG:Maker;REPORT:0,2;\"; "
                                           "REPORT: count 2\n"));
    EXPECT_TRUE(Holds(trace.Text(), name + " close\n"));
}

TEST(PortTrace, AnAccessLineTakenInPiecesStaysMasked) {
    test::FakeIeee1284State state;
    state.takes = [](long) { return 7L; };
    TextTrace trace;
    Ieee1284Port port(std::make_unique<test::FakeIeee1284Backend>(state));
    ASSERT_TRUE(port.Open());
    const std::string line = Transport::AccessLine(2);
    for (size_t written = 0; written < line.size();) {
        written +=
            static_cast<size_t>(port.Write(reinterpret_cast<const uint8_t*>(line.data()) + written,
                                           static_cast<int>(line.size() - written)));
    }
    EXPECT_TRUE(Holds(trace.Text(), " > 7 bytes: command \"OPEN CO\"\n"));
    EXPECT_TRUE(Holds(trace.Text(), "\n# <access code, 4 characters, not shown>\n"));
    EXPECT_FALSE(Holds(trace.Text(), line.substr(10, 7)));
    EXPECT_FALSE(Holds(trace.Text(), line.substr(300, 7)));
}

}  // namespace
}  // namespace kelo
