// Put Parameters and the firmware upgrade of machine types 1 and 2 on the parallel port.
#include <gtest/gtest.h>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/fake_parallel_port.h"
#include "testsupport/ops_calls.h"
#include "testsupport/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::CurrentMachine;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class DeviceOpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link_ = testing_support::MakeScriptedParallelLink(dialog_, 1);
        dialog_.onProgress = [this](kelo::platform::HeadlessCancelDialog& d) {
            positions_.push_back(d.Pos());
        };
    }

    testing_support::TempDir dir_;
    kelo::platform::HeadlessCancelDialog dialog_;
    kelo::platform::MessageRecorder messages_;
    kelo::platform::FakeClock clock_;
    std::unique_ptr<kelo::DeviceLink> link_;
    std::vector<int> positions_;
};

TEST_F(DeviceOpsTest, PutParametersSendsTheSetThenRestartsTheMachineWithNoEndByte) {
    const Bytes set{1, 2, 0, 4, 0x08};
    const kelo::ops::Write written =
        kelo::ops::PutParameters(link_->Port(), set.data(), static_cast<int>(set.size()));
    EXPECT_TRUE(written.outcome.ok());
    EXPECT_TRUE(written.machineHasAll);
    const std::string access = kelo::Transport::AccessLine(2);
    const auto& writes = CurrentMachine().writes;
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(writes[0], Text(access));
    EXPECT_EQ(writes[1], Text("PUT PARAM"));
    EXPECT_EQ(writes[2], set);
    EXPECT_EQ(writes[3], Text(access));
    EXPECT_EQ(writes[4], Text("PIPE MONITOR"));
    EXPECT_EQ(writes[5], (Bytes{0x00, 0x03, 0x72, 0x73, 0x0A, 0xF3}));
    // The restart wait, the command's 300 ms, its 3000 ms, and 300 ms at the end.
    EXPECT_EQ(clock_.Waits(), (std::vector<int>{3000, 300, 3000, 300}));
    EXPECT_EQ(positions_, (std::vector<int>{0, 0, 50, 100}));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
    EXPECT_EQ(messages_.Messages()[0].icon, kelo::platform::Icon::Information);
}

TEST_F(DeviceOpsTest, FirmwareGoesInChunksWithItsProgress) {
    Bytes image(250000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    kelo::ops::UpgradeFirmware(link_->Port(), image.data(), static_cast<int>(image.size()));
    const auto& writes = CurrentMachine().writes;
    ASSERT_EQ(writes.size(), 6u);
    const std::string update = "BOOT_UpdateMain 0\n";
    Bytes frame{0x00, 0x12};
    frame.insert(frame.end(), update.begin(), update.end());
    frame.push_back(0xE8);
    EXPECT_EQ(writes[2], frame);
    EXPECT_EQ(writes[3].size(), 102400u);
    EXPECT_EQ(writes[4].size(), 102400u);
    EXPECT_EQ(writes[5].size(), 45200u);
    Bytes sent;
    for (size_t i = 3; i < 6; ++i)
        sent.insert(sent.end(), writes[i].begin(), writes[i].end());
    EXPECT_EQ(sent, image);
    EXPECT_EQ(positions_, (std::vector<int>{0, 0, 10, 10, 46, 83, 100}));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
}

TEST_F(DeviceOpsTest, ChunkBoundaries) {
    const struct {
        int size;
        std::vector<size_t> chunks;
    } cases[] = {{102400, {102400}}, {102401, {102400, 1}}, {0, {}}};
    for (const auto& c : cases) {
        testing_support::ResetMachine();
        messages_.Clear();
        Bytes image(static_cast<size_t>(c.size), 0x11);
        kelo::ops::UpgradeFirmware(link_->Port(), image.data(), c.size);
        std::vector<size_t> chunks;
        const auto& writes = CurrentMachine().writes;
        for (size_t i = 3; i < writes.size(); ++i)
            chunks.push_back(writes[i].size());
        EXPECT_EQ(chunks, c.chunks) << c.size;
        EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."}) << c.size;
    }
}

TEST_F(DeviceOpsTest, CancelDuringTheUpgradeEndsWithoutDone) {
    Bytes image(300000, 0x22);
    dialog_.onProgress = [](kelo::platform::HeadlessCancelDialog& d) {
        if (d.Pos() == 40)
            d.Cancel();  // before the second chunk
    };
    const kelo::ops::Write written =
        kelo::ops::UpgradeFirmware(link_->Port(), image.data(), static_cast<int>(image.size()));
    EXPECT_EQ(written.outcome.status, kelo::ops::Status::kCancelled);
    EXPECT_TRUE(written.firmwareAwaited);
    EXPECT_FALSE(written.machineHasAll);
    EXPECT_EQ(CurrentMachine().writes.size(), 4u);  // access, monitor, frame, first chunk
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_FALSE(CurrentMachine().open);
}

TEST_F(DeviceOpsTest, ParallelWritesThatTakeNothingGiveUp) {
    link_->SetParallelPortFactory([]() -> std::unique_ptr<kelo::ParallelPort> {
        struct Stuck : kelo::ParallelPort {
            bool Open() override { return open = true; }
            bool IsOpen() const override { return open; }
            int Write(const uint8_t*, int) override { return 0; }
            int ReadDeviceId(uint8_t*, int) override { return 0; }
            void Close() override { open = false; }
            bool open = false;
        };
        return std::make_unique<Stuck>();
    });
    const Bytes set{1};
    const kelo::ops::Write written = kelo::ops::PutParameters(link_->Port(), set.data(), 1);
    EXPECT_EQ(written.outcome.status, kelo::ops::Status::kFailed);
    EXPECT_EQ(written.outcome.message, "Failed to write.");
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to write."});
}

TEST_F(DeviceOpsTest, EmptyWriteOnTheParallelPortSucceedsWithoutWriting) {
    ASSERT_TRUE(link_->Port().Open(false));
    EXPECT_TRUE(link_->Port().Write(nullptr, 0));
    EXPECT_TRUE(CurrentMachine().writes.empty());
    link_->Port().Close();
}

}  // namespace
