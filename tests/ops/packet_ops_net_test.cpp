// The operations of machine types 3 and 4 against scripted packet machines on loopback, in a
// private network namespace.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/latch.h"
#include "testsupport/loopback_peer.h"
#include "testsupport/ops_calls.h"
#include "testsupport/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::LoopbackPeer;
using testing_support::PeerConnection;
using testing_support::ReplyFrame;

// A machine that reads packet frames and answers each with what the script says. It keeps
// the request payload of every frame (command and data, without data-sum and checksum).
class PacketMachine {
  public:
    using Script = std::function<Bytes(const Bytes& payload)>;
    PacketMachine(uint16_t port, Script script)
        : script_(std::move(script)), peer_(port, [this](PeerConnection& c) { Serve(c); }) {}

    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int Connections() const { return peer_.Connections(); }
    bool WaitForServed(int n) const { return peer_.WaitForServed(n); }

  private:
    void Serve(PeerConnection& c) {
        Bytes header, rest;
        while (c.ReadExactly(3, header)) {
            const size_t length = header[1] * 256u + header[2];
            if (!c.ReadExactly(length + 1, rest))
                return;
            const bool dataSum = !(rest[1] >= 1 && rest[1] <= 3) && rest[1] != 7;
            Bytes payload(rest.begin(), rest.end() - (dataSum ? 2 : 1));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(payload);
            }
            const Bytes reply = script_(payload);
            if (!reply.empty())
                c.Write(reply);
        }
    }

    Script script_;
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    LoopbackPeer peer_;
};

Bytes Half(uint8_t seed) {
    Bytes half(32768);
    for (size_t i = 0; i < half.size(); ++i)
        half[i] = static_cast<uint8_t>(i * seed + (i >> 8));
    return half;
}

class PacketOpsTest : public ::testing::Test {
  protected:
    std::unique_ptr<kelo::DeviceLink> MakeLink(int machineType) {
        auto link = std::make_unique<kelo::DeviceLink>(dialog_);
        link->MutableSettings() = {kelo::kPortNetwork, 0, machineType - 1, {"127.0.0.1"}};
        dialog_.onProgress = [this](kelo::platform::HeadlessCancelDialog& d) {
            progress_.push_back({d.Range(), d.Pos()});
        };
        return link;
    }
    std::vector<int> Positions() const {
        std::vector<int> out;
        for (auto [range, pos] : progress_)
            out.push_back(pos);
        return out;
    }
    void PutParametersAndExpectTheSecondHalfThenClose(PacketMachine& machine, int type);

    testing_support::TempDir dir_;
    kelo::platform::HeadlessCancelDialog dialog_;
    kelo::platform::MessageRecorder messages_;
    std::vector<std::pair<int, int>> progress_;
};

TEST_F(PacketOpsTest, ReportArrivesInOneReplyFrame) {
    const std::string text = "Total pages 12345\r\nFirmware 2.01\r\n";
    PacketMachine machine(
        9101, [&](const Bytes&) { return ReplyFrame(Bytes(text.begin(), text.end())); });
    auto link = MakeLink(3);
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link->Port(), report));
    EXPECT_EQ(report, text);
    EXPECT_EQ(machine.Requests(), std::vector<Bytes>{Bytes({0x00, 0x01})});
    EXPECT_EQ(dialog_.Range(), static_cast<int>(text.size()) + 1);
    EXPECT_EQ(Positions().back(), static_cast<int>(text.size()) + 1);
    EXPECT_FALSE(dialog_.IsVisible());
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(PacketOpsTest, BadRepliesEndTheReportWithTheirMessageOnly) {
    const struct {
        const char* name;
        std::function<Bytes()> reply;
        std::vector<std::string> messages;
    } cases[] = {
        {"bad checksum",
         [] {
             Bytes f = ReplyFrame({'H', 'i'});
             f.back() ^= 1;
             return f;
         },
         {}},
        {"bad lead byte",
         [] {
             Bytes f = ReplyFrame({'H', 'i'});
             f[0] = 0x7F;
             return f;
         },
         {}},
        {"close mid-header", [] { return Bytes{0x80}; }, {"Failed to receive."}},
        {"close mid-body",
         [] {
             return Bytes{0x80, 0x00, 0x09, 'H'};
         },
         {}},
    };
    for (const auto& c : cases) {
        messages_.Clear();
        // Answers, then hangs up after the first request.
        LoopbackPeer peer(9101, [&](PeerConnection& conn) {
            Bytes request;
            conn.ReadExactly(6, request);
            conn.Write(c.reply());
        });
        auto link = MakeLink(3);
        std::string report = "kept";
        EXPECT_FALSE(testing_support::ReportInto(link->Port(), report)) << c.name;
        EXPECT_EQ(report, "kept") << c.name;
        EXPECT_EQ(messages_.Texts(), c.messages) << c.name;
        EXPECT_TRUE(peer.WaitForServed(1)) << c.name;
    }
}

TEST_F(PacketOpsTest, ParameterHalvesLieBackToBack) {
    const Bytes first = Half(3), second = Half(5);
    PacketMachine machine(9500,
                          [&](const Bytes& p) { return ReplyFrame(p[1] == 2 ? first : second); });
    auto link = MakeLink(4);
    Bytes buffer(131072);
    ASSERT_EQ(testing_support::ParametersInto(link->Port(), buffer.data(), 131072), 65536);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), buffer.begin() + 32768));
    EXPECT_EQ(machine.Requests(), (std::vector<Bytes>{{0x00, 0x02}, {0x00, 0x03}}));
    EXPECT_EQ(machine.Connections(), 2);
    EXPECT_EQ(dialog_.Range(), 65536);
    const std::vector<int> positions = Positions();
    // The first half runs up to 32,769 and the second from 32,768 up to 65,537.
    EXPECT_NE(std::find(positions.begin(), positions.end(), 32769), positions.end());
    EXPECT_EQ(positions.back(), 65537);
}

TEST_F(PacketOpsTest, EmptyFirstHalfEndsWithoutAskingForTheSecond) {
    PacketMachine machine(9101, [](const Bytes&) { return ReplyFrame({}); });
    auto link = MakeLink(3);
    Bytes buffer(131072);
    EXPECT_EQ(testing_support::ParametersInto(link->Port(), buffer.data(), 131072), -1);
    EXPECT_EQ(machine.Requests(), std::vector<Bytes>{Bytes({0x00, 0x02})});
}

Bytes ParameterSet() {
    Bytes set = Half(3);
    const Bytes second = Half(5);
    set.insert(set.end(), second.begin(), second.end());
    set.push_back(0x42);  // the file's check byte
    return set;
}

Bytes Request(uint8_t code, const Bytes& data) {
    Bytes r{0x00, code};
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

// Only the second half and then the closing command reach the machine, each on a connection.
void PacketOpsTest::PutParametersAndExpectTheSecondHalfThenClose(PacketMachine& machine, int type) {
    auto link = MakeLink(type);
    const Bytes set = ParameterSet();
    kelo::ops::PutParameters(link->Port(), set.data(), static_cast<int>(set.size()));
    ASSERT_TRUE(machine.WaitForServed(2));
    EXPECT_EQ(machine.Requests(),
              (std::vector<Bytes>{Request(5, Half(5)), Request(6, {'r', 's', '\n'})}));
    EXPECT_EQ(machine.Connections(), 2);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
}

TEST_F(PacketOpsTest, PutParametersSendsTheSecondHalfThenTheClosingCommand) {
    kelo::platform::FakeClock clock;
    PacketMachine machine(9500, [](const Bytes&) { return ReplyFrame({0x00}); });
    PutParametersAndExpectTheSecondHalfThenClose(machine, 4);
    const std::vector<int> positions = Positions();
    EXPECT_EQ(positions.front(), 0);
    EXPECT_NE(std::find(positions.begin(), positions.end(), 25), positions.end());
    EXPECT_NE(std::find(positions.begin(), positions.end(), 50), positions.end());
    EXPECT_EQ(positions.back(), 100);
    EXPECT_EQ(clock.Waits(), (std::vector<int>{3000, 300}));
}

TEST_F(PacketOpsTest, PutParametersLooksAtNoReplyAndSendsEachRequestOnItsOwnConnection) {
    kelo::platform::FakeClock clock;
    // A bad check byte on the replies changes nothing.
    PacketMachine machine(9101, [](const Bytes&) {
        Bytes f = ReplyFrame({0x00});
        f.back() ^= 0x10;
        return f;
    });
    PutParametersAndExpectTheSecondHalfThenClose(machine, 3);
}

TEST_F(PacketOpsTest, ShortParameterSetIsRefusedBeforeAnythingIsSent) {
    PacketMachine machine(9101, [](const Bytes&) { return ReplyFrame({0x00}); });
    auto link = MakeLink(3);
    const Bytes set(65535, 1);
    kelo::ops::PutParameters(link->Port(), set.data(), static_cast<int>(set.size()));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Illegal Parameter File."});
    EXPECT_EQ(machine.Connections(), 0);
}

TEST_F(PacketOpsTest, FailedLaterConnectionEndsWithoutDone) {
    kelo::platform::FakeClock clock;
    auto machine =
        std::make_unique<PacketMachine>(9101, [&](const Bytes&) { return ReplyFrame({0x00}); });
    auto link = MakeLink(3);
    // The machine goes away once it has answered the first request.
    dialog_.onProgress = [&](kelo::platform::HeadlessCancelDialog& d) {
        if (d.Pos() == 25 && machine)
            machine.reset();
    };
    const Bytes set = ParameterSet();
    kelo::ops::PutParameters(link->Port(), set.data(), static_cast<int>(set.size()));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to connect."});
}

TEST_F(PacketOpsTest, FirmwareGoesToTheRawPortAfterTheRestart) {
    kelo::platform::FakeClock clock;
    PacketMachine machine(9500, [](const Bytes&) { return Bytes{}; });
    Bytes image;
    LoopbackPeer raw(9100, [&](PeerConnection& c) { image = c.ReadUntilClosed(); });
    auto link = MakeLink(4);
    Bytes firmware(250000);
    for (size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = static_cast<uint8_t>(i ^ (i >> 9));
    kelo::ops::UpgradeFirmware(link->Port(), firmware.data(), static_cast<int>(firmware.size()));
    ASSERT_TRUE(raw.WaitForServed(1));
    // The command's connection ended before the image went; its frame is kept once the
    // machine has seen that close. The restart poll's connection may be served first, so
    // both are waited for.
    ASSERT_TRUE(machine.WaitForServed(2));
    EXPECT_EQ(image, firmware);
    const std::string update = "BOOT_UpdateMain 0\n";
    EXPECT_EQ(machine.Requests(),
              std::vector<Bytes>{Request(6, Bytes(update.begin(), update.end()))});
    // The command's connection is closed, then the restart wait of a type 4 machine, which is
    // reachable again at the first attempt.
    EXPECT_EQ(clock.Waits(), (std::vector<int>{10000, 300}));
    EXPECT_EQ(Positions().back(), 100);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
}

TEST_F(PacketOpsTest, NoRawPortGivesDataPortIsBusy) {
    kelo::platform::FakeClock clock;
    PacketMachine machine(9101, [](const Bytes&) { return Bytes{}; });
    auto link = MakeLink(3);
    const Bytes firmware(10, 1);
    kelo::ops::UpgradeFirmware(link->Port(), firmware.data(), 10);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Data Port is Busy"});
}

TEST_F(PacketOpsTest, CancelDuringAChunkEndsTheUpgradeWithoutDone) {
    kelo::platform::FakeClock clock;
    PacketMachine machine(9101, [](const Bytes&) { return Bytes{}; });
    testing_support::Latch done;
    LoopbackPeer raw(9100, [&](PeerConnection&) { done.WaitFor(); });
    auto link = MakeLink(3);
    dialog_.onPump = [](kelo::platform::HeadlessCancelDialog& d) {
        if (d.Pos() >= 10 && d.PumpCount() > 40)
            d.Cancel();
    };
    Bytes firmware(64 << 20, 0x33);
    kelo::ops::UpgradeFirmware(link->Port(), firmware.data(), static_cast<int>(firmware.size()));
    done.Open();
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(PacketOpsTest, Type3OnTheParallelPortStillSendsTheImageToTheRawPort) {
    kelo::platform::FakeClock clock;
    Bytes image;
    LoopbackPeer raw(9100, [&](PeerConnection& c) { image = c.ReadUntilClosed(); });
    auto link = MakeLink(3);
    link->MutableSettings().portKind = kelo::kPortParallel;
    static std::vector<Bytes> parallelWrites;
    parallelWrites.clear();
    link->SetParallelPortFactory([]() -> std::unique_ptr<kelo::ParallelPort> {
        struct Recorder : kelo::ParallelPort {
            bool Open() override { return open = true; }
            bool IsOpen() const override { return open; }
            int Write(const uint8_t* d, int n) override {
                parallelWrites.emplace_back(d, d + n);
                return n;
            }
            int ReadDeviceId(uint8_t*, int) override { return 0; }
            void Close() override { open = false; }
            bool open = false;
        };
        return std::make_unique<Recorder>();
    });
    const Bytes firmware{1, 2, 3};
    kelo::ops::UpgradeFirmware(link->Port(), firmware.data(), 3);
    ASSERT_TRUE(raw.WaitForServed(1));
    const std::string update = "BOOT_UpdateMain 0\n";
    EXPECT_EQ(parallelWrites, std::vector<Bytes>{Request(6, Bytes(update.begin(), update.end()))});
    EXPECT_EQ(image, firmware);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
}

}  // namespace
