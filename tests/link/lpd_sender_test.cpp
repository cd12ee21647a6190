// The LPD job sender on the wire, against a scripted line printer daemon on port 515.
#include "link/lpd_sender.h"

#include <gtest/gtest.h>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/system.h"
#include "testsupport/latch.h"
#include "testsupport/loopback_peer.h"
#include "testsupport/scripted_cancel.h"
#include "testsupport/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::LoopbackPeer;
using testing_support::PeerConnection;

constexpr uint16_t kLpdPort = 515;

// A daemon that acknowledges every element with 0x00 and keeps everything it got.
class Daemon {
  public:
    explicit Daemon(uint8_t jobAnswer = 0x00)
        : peer_(kLpdPort, [this, jobAnswer](PeerConnection& c) { Serve(c, jobAnswer); }) {}

    Bytes Received() {
        peer_.WaitForServed(1);
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

  private:
    void Keep(const Bytes& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), bytes.begin(), bytes.end());
    }
    bool ReadLine(PeerConnection& c) {
        Bytes byte;
        do {
            if (!c.ReadExactly(1, byte))
                return false;
            Keep(byte);
        } while (byte[0] != '\n');
        return true;
    }
    void Serve(PeerConnection& c, uint8_t jobAnswer) {
        if (!ReadLine(c))
            return;
        c.Write(Bytes{jobAnswer});
        while (true) {
            // Subcommand "\x03<count> x\n", then count bytes and the zero byte.
            std::string line;
            Bytes byte;
            do {
                if (!c.ReadExactly(1, byte))
                    return;
                Keep(byte);
                line.push_back(static_cast<char>(byte[0]));
            } while (byte[0] != '\n');
            c.Write(Bytes{0x00});
            const int count = std::atoi(line.c_str() + 1);
            Bytes data;
            if (!c.ReadExactly(static_cast<size_t>(count) + 1, data))
                return;
            Keep(data);
            c.Write(Bytes{0x00});
        }
    }

    std::mutex mutex_;
    Bytes received_;
    LoopbackPeer peer_;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(LprPut, BlocksGoAsDataFilesNamedX) {
    Daemon daemon;
    {
        kelo::LpdSender put;
        ASSERT_EQ(put.Open("127.0.0.1", "lp1"), 0);
        const uint8_t five[5] = {1, 2, 3, 4, 5};
        EXPECT_EQ(put.PutData(five, 5), 0);
        EXPECT_EQ(put.PutData(five, 0), 0);
    }
    EXPECT_EQ(daemon.Received(), Concat({Text("\x02lp1\n"),
                                         {0x03, 0x35, 0x20, 0x78, 0x0A},
                                         {1, 2, 3, 4, 5, 0x00},
                                         {0x03, 0x30, 0x20, 0x78, 0x0A},
                                         {0x00}}));
}

TEST(LprPut, NegativeJobAcknowledgementFailsTheOpen) {
    Daemon daemon(0x01);
    kelo::LpdSender put;
    EXPECT_EQ(put.Open("127.0.0.1", "lp1"), -1);
}

TEST(LprPut, ClosedConnectionIsAFailedAcknowledgement) {
    // The daemon reads the job command and hangs up without answering.
    LoopbackPeer peer(kLpdPort, [](PeerConnection& c) {
        Bytes line;
        c.ReadExactly(5, line);
    });
    kelo::LpdSender put;
    EXPECT_EQ(put.Open("127.0.0.1", "lp1"), -1);
}

TEST(LprPut, UsesPort515WhenTheServicesDatabaseLacksPrinter) {
    kelo::platform::SetServicesDatabaseHiddenForTest(true);
    Daemon daemon;
    kelo::LpdSender put;
    EXPECT_EQ(put.Open("127.0.0.1", "lp1"), 0);
    kelo::platform::SetServicesDatabaseHiddenForTest(false);
}

TEST(LprPut, CancelWhileABlockIsSentFailsPutData) {
    testing_support::Latch done;
    // Acknowledges the job and the subcommand, then stops reading.
    LoopbackPeer peer(kLpdPort, [&](PeerConnection& c) {
        Bytes got;
        c.ReadExactly(5, got);
        c.Write(Bytes{0x00});
        std::string line;
        do {
            if (!c.ReadExactly(1, got))
                return;
            line.push_back(static_cast<char>(got[0]));
        } while (got[0] != '\n');
        c.Write(Bytes{0x00});
        done.WaitFor();
    });
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::LpdSender put;
    ASSERT_TRUE(testing_support::OpenWithCancelAtSecondPump(put, dialog));
    Bytes block(32 << 20, 0x42);
    EXPECT_EQ(put.PutData(block.data(), static_cast<int>(block.size())), -1);
    done.Open();
}

TEST(LprPut, Type1CommandGoesAsAccessLineMonitorLineAndFrame) {
    Daemon daemon;
    kelo::platform::FakeClock clock;
    kelo::platform::HeadlessCancelDialog dialog;
    testing_support::TempDir dir;
    {
        kelo::DeviceLink link(dialog);
        link.MutableSettings() = {kelo::kPortNetwork, 0, 0, {"127.0.0.1"}};
        ASSERT_TRUE(link.Port().Open(false));
        EXPECT_TRUE(link.Port().SendCommand("rs\n"));
        link.Port().Close();
    }
    const std::string access = kelo::Transport::AccessLine(1);
    EXPECT_EQ(daemon.Received(), Concat({Text("\x02lp1\n"),
                                         Text("\x03"
                                              "510 x\n"),
                                         Text(access),
                                         {0x00},
                                         Text("\x03"
                                              "12 x\n"),
                                         Text("PIPE MONITOR"),
                                         {0x00},
                                         Text("\x03"
                                              "6 x\n"),
                                         {0x00, 0x03, 0x72, 0x73, 0x0A, 0xF3, 0x00}}));
    EXPECT_EQ(clock.Waits(), std::vector<int>{300});
}

}  // namespace
