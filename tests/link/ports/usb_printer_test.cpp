#include "link/usb_printer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/link/ports/port_fakes.h"

namespace kelo {
namespace {

using test::DeviceIdBytes;
using test::FakeSystemTree;
using test::FakeUsbPrinterIo;

TEST(OrvexInstance, MatchesTheMakersPrefixesWithoutCase) {
    const struct {
        const char* instanceId;
        bool matches;
    } cases[] = {
        {"USB\\VID_0B75&PID_0316\\0001", true},  {"USB\\VID_0B75&PID_0319\\0001", true},
        {"USB\\VID_0B75&PID_031A\\0001", true},  {"usb\\vid_0b75&pid_031a\\5&2f1c&0&1", true},
        {"USB\\VID_0B75&PID_0316", true},        {"USB\\VID_0B75&PID_031", false},
        {"USB\\VID_0B75&PID_0317\\0001", false}, {"USB\\VID_0B76&PID_0316\\0001", false},
        {"X USB\\VID_0B75&PID_0316", false},     {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsOrvexInstance(c.instanceId), c.matches) << c.instanceId;
    }
}

TEST(InterfaceClassFromLink, TakesTheLastBracedPart) {
    const struct {
        const char* link;
        bool found;
        const char* interfaceClass;
    } cases[] = {
        {"\\\\?\\usb#vid_0b75&pid_031a#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", true,
         "28d78fad-5a12-11d1-ae5b-0000f803a8c2"},
        {"\\\\?\\usb#{aaaa}#{bbbb}", true, "bbbb"},
        {"\\\\?\\usb#{aaaa}#{bbbb}tail", true, "bbbb"},
        {"{}", true, ""},
        {"\\\\?\\usb#}{", false, ""},
        {"\\\\?\\usb#{28d78fad", false, ""},
        {"\\\\?\\usb#28d78fad}", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string interfaceClass;
        EXPECT_EQ(InterfaceClassFromLink(c.link, interfaceClass), c.found) << c.link;
        if (c.found) {
            EXPECT_EQ(interfaceClass, c.interfaceClass) << c.link;
        }
    }
}

class UsbPrinterTest : public ::testing::Test {
  protected:
    UsbPrinter& Device() {
        if (!device_)
            device_ = std::make_unique<UsbPrinter>(tree.Sysfs(), tree.Dev(), io);
        return *device_;
    }
    // A machine recognised by its lower-case identifiers, with its printer node.
    void AddMachine() {
        tree.AddUsbmiscNode("lp0", "0b75", "031a", "K0001");
        tree.AddDevNode("lp0");
    }

    FakeSystemTree tree;
    FakeUsbPrinterIo io;

  private:
    std::unique_ptr<UsbPrinter> device_;
};

TEST_F(UsbPrinterTest, LowerCaseIdentifiersMatchAndTheClassComesFromTheLink) {
    AddMachine();
    ASSERT_TRUE(Device().Open());
    EXPECT_EQ(Device().InterfaceClass(), kUsbPrinterInterfaceClass);
    EXPECT_EQ(io.opens, std::vector<std::string>{"lp0"});
}

TEST_F(UsbPrinterTest, NoMatchingDeviceLeavesTheDeviceNodesAlone) {
    tree.AddUsbmiscNode("lp0", "04b8", "0005", "X1");
    tree.AddUsbmiscNode("hiddev0", "0b75", "0316", "K0001");  // not a printer node
    tree.AddDevNode("lp0");
    EXPECT_EQ(Device().SearchInterfaceClass(), UsbPrinter::SearchResult::kNotFound);
    const uint8_t data[3] = {1, 2, 3};
    EXPECT_FALSE(Device().Open());
    EXPECT_EQ(Device().Write(data, 3), 0);
    EXPECT_TRUE(io.opens.empty());
}

TEST_F(UsbPrinterTest, UnreadableDeviceEndsTheSearchAsAnError) {
    tree.AddUsbmiscNode("lp0", "", "", "");
    std::filesystem::remove(std::filesystem::path(tree.Sysfs()) / "devices/usb1/1-1/idVendor");
    tree.AddUsbmiscNode("lp1", "0b75", "0316", "K0001");
    tree.AddDevNode("lp0");
    EXPECT_EQ(Device().SearchInterfaceClass(), UsbPrinter::SearchResult::kError);
    EXPECT_FALSE(Device().Open());
    EXPECT_TRUE(io.opens.empty());
}

TEST_F(UsbPrinterTest, DeviceWithoutSerialIsStillRecognised) {
    tree.AddUsbmiscNode("lp0", "0b75", "0319", "");
    EXPECT_EQ(Device().SearchInterfaceClass(), UsbPrinter::SearchResult::kFound);
}

TEST_F(UsbPrinterTest, FirstPresentInterfaceInNumberOrderThatOpensWins) {
    tree.AddUsbmiscNode("lp3", "0b75", "0316", "K0001");
    for (const char* node : {"lp10", "lp2", "lp1", "lpx"})
        tree.AddDevNode(node);
    io.refused = {"lp1"};
    ASSERT_TRUE(Device().Open());
    EXPECT_EQ(io.opens, (std::vector<std::string>{"lp1", "lp2"}));
    EXPECT_TRUE(Device().Open());
    EXPECT_EQ(io.opens.size(), 2u) << "an open device is not searched again";
}

TEST_F(UsbPrinterTest, WritesGoInPiecesOf4096) {
    AddMachine();
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(Device().Write(data.data(), 10000), 10000);
    EXPECT_EQ(io.writeSizes, (std::vector<int>{4096, 4096, 1808}));
    EXPECT_EQ(io.written, std::string(data.begin(), data.end()));
}

TEST_F(UsbPrinterTest, ShortWriteContinuesWhereItEnded) {
    AddMachine();
    io.takes = [](int length) { return length == 4096 ? 1000 : length; };
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13);
    EXPECT_EQ(Device().Write(data.data(), 5000), 5000);
    EXPECT_EQ(io.writeSizes, (std::vector<int>{4096, 4000}));
    EXPECT_EQ(io.written, std::string(data.begin(), data.end()));
}

TEST_F(UsbPrinterTest, LengthOfZeroOrLessComesBackUnwritten) {
    AddMachine();
    const uint8_t data[1] = {0};
    EXPECT_EQ(Device().Write(data, 0), 0);
    EXPECT_EQ(Device().Write(data, -5), -5);
    EXPECT_TRUE(io.opens.empty());
    EXPECT_TRUE(io.writeSizes.empty());
}

TEST_F(UsbPrinterTest, FailedOrStalledWriteClosesAndTheNextWriteReopens) {
    AddMachine();
    for (int taken : {-1, 0}) {
        SCOPED_TRACE(taken);
        FakeUsbPrinterIo deviceIo;
        UsbPrinter device(tree.Sysfs(), tree.Dev(), deviceIo);
        const uint8_t data[4] = {1, 2, 3, 4};
        deviceIo.takes = [taken](int) { return taken; };
        EXPECT_EQ(device.Write(data, 4), 0);
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(deviceIo.closes.size(), 1u);
        deviceIo.takes = nullptr;
        EXPECT_EQ(device.Write(data, 4), 4);
        EXPECT_EQ(deviceIo.opens.size(), 2u);
    }
}

TEST_F(UsbPrinterTest, ReadGivesTheDeviceIdTextWithItsZero) {
    AddMachine();
    io.deviceId = DeviceIdBytes("MFG:Maker;REPORT:0,2;");
    uint8_t buffer[1024];
    ASSERT_EQ(Device().Read(buffer, sizeof buffer), 22);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "MFG:Maker;REPORT:0,2;");

    io.deviceId = {0x00, 0x02};  // an empty ID still reads
    ASSERT_EQ(Device().Read(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(io.opens.size(), 1u);
}

TEST_F(UsbPrinterTest, FailedReadClosesAndTheNextWriteSearchesAgain) {
    AddMachine();
    ASSERT_TRUE(Device().Open());
    io.failDeviceId = true;
    uint8_t buffer[1024];
    EXPECT_EQ(Device().Read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(Device().IsOpen());
    EXPECT_EQ(io.closes.size(), 1u);

    const uint8_t data[2] = {0x41, 0x42};
    EXPECT_EQ(Device().Write(data, 2), 2);
    EXPECT_TRUE(Device().IsOpen());
    EXPECT_EQ(io.opens, (std::vector<std::string>{"lp0", "lp0"}));
}

TEST_F(UsbPrinterTest, DestroyingTheDeviceClosesItsHandle) {
    AddMachine();
    {
        UsbPrinter device(tree.Sysfs(), tree.Dev(), io);
        ASSERT_TRUE(device.Open());
    }
    EXPECT_EQ(io.closes.size(), 1u);
}

}  // namespace
}  // namespace kelo
