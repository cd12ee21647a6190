// The string table, the message sink, the clock and the services lookup.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/access_codes.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/messages.h"
#include "platform/system.h"

#include <cstring>

namespace {

TEST(StringTable, HoldsExactlyTheProgramsEntries) {
    const int ids[] = {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111,
                       113, 114, 115, 117, 118, 119, 120, 121, 122, 123, 127};
    for (int id = 100; id <= 128; ++id) {
        const bool listed = std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
        EXPECT_EQ(std::strlen(kelo::platform::LoadString(id)) > 0, listed) << id;
    }
    EXPECT_STREQ(kelo::platform::LoadString(127), "Set up \"SELECT PORT\"");
    EXPECT_STREQ(kelo::platform::LoadString(101), "Version of Kelo(&A)...");
    EXPECT_STREQ(kelo::platform::LoadString(122),
                 "Faild to Create a Key. For setting User Account Control, please \"Run as "
                 "Administrator\" by clicking right botton of your mouse.");
}

TEST(StringTable, OnlyDoneCarriesTheInformationIcon) {
    EXPECT_EQ(kelo::platform::MessageIcon(kelo::platform::MessageId::kDone),
              kelo::platform::Icon::Information);
    EXPECT_EQ(kelo::platform::MessageIcon(kelo::platform::MessageId::kFailedSend),
              kelo::platform::Icon::Warning);
}

TEST(MessageSink, RecorderSeesMessagesAndRestoresThePreviousSink) {
    kelo::platform::MessageRecorder outer;
    {
        kelo::platform::MessageRecorder inner;
        kelo::platform::ShowMessage(kelo::platform::MessageId::kDone);
        kelo::platform::ShowText("x.kel: No such file or directory");
        ASSERT_EQ(inner.Messages().size(), 2u);
        EXPECT_EQ(inner.Messages()[0].id, 111);
        EXPECT_EQ(inner.Messages()[0].text, "Done.");
        EXPECT_EQ(inner.Messages()[1].id, 0);
        EXPECT_EQ(inner.Messages()[1].icon, kelo::platform::Icon::Warning);
    }
    kelo::platform::ShowMessage(kelo::platform::MessageId::kFailedRead);
    EXPECT_EQ(outer.Texts(), std::vector<std::string>{"Failed to read."});
}

TEST(Clock, FakeClockRecordsWaitsInsteadOfSpendingThem) {
    kelo::platform::FakeClock clock;
    int seen = 0;
    clock.onSleep = [&](int ms) { seen += ms; };
    kelo::platform::Sleep(3000);
    kelo::platform::Sleep(10000);
    EXPECT_EQ(clock.Waits(), (std::vector<int>{3000, 10000}));
    EXPECT_EQ(clock.Total(), 13000);
    EXPECT_EQ(seen, 13000);
}

TEST(Services, FallBackWhenTheDatabaseLacksTheEntry) {
    kelo::platform::SetServicesDatabaseHiddenForTest(true);
    EXPECT_EQ(kelo::platform::ServicePort("printer", "tcp", 515), 515);
    EXPECT_EQ(kelo::platform::ServicePort("snmp", "udp", 161), 161);
    kelo::platform::SetServicesDatabaseHiddenForTest(false);
    EXPECT_EQ(kelo::platform::ServicePort("no-such-service-kelo", "tcp", 4242), 4242);
}

TEST(ProgramName, IsTheFileNameWithoutFolderOrExtension) {
    const std::string saved = kelo::platform::ProgramName();
    kelo::platform::SetProgramName("/usr/local/bin/kelo-cli.exe");
    EXPECT_EQ(kelo::platform::ProgramName(), "kelo-cli");
    kelo::platform::SetProgramName(saved);
}

TEST(AccessCodes, AreTwoDifferentCodesOf500CharactersFromSpaceToUnderscore) {
    for (const char* code : {kelo::platform::kAccessCodeA, kelo::platform::kAccessCodeB}) {
        ASSERT_EQ(std::strlen(code), 500u);
        for (int i = 0; i < 500; ++i) {
            EXPECT_GE(code[i], 0x20);
            EXPECT_LE(code[i], 0x5F);
        }
    }
    EXPECT_STRNE(kelo::platform::kAccessCodeA, kelo::platform::kAccessCodeB);
}

TEST(HeadlessCancelDialog, CancelStaysSetWhileHiddenAndClearsOnShow) {
    kelo::platform::HeadlessCancelDialog dialog;
    dialog.Show();
    dialog.SetPos(40);
    dialog.Cancel();
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());
    dialog.Hide();  // already hidden: no notification, the flag stays
    EXPECT_TRUE(dialog.IsCancelled());
    dialog.Show();
    EXPECT_FALSE(dialog.IsCancelled());
    EXPECT_EQ(dialog.Pos(), 0);
}

TEST(HeadlessCancelDialog, RequestedCancelIsSeenAtTheNextPump) {
    kelo::platform::HeadlessCancelDialog dialog;
    dialog.Show();
    dialog.RequestCancel();
    dialog.SetPos(1);
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());
}

TEST(HeadlessCancelDialog, TimerFiresOnceAndStopTimerAfterwardsDoesNothing) {
    kelo::platform::HeadlessCancelDialog dialog;
    dialog.StartTimer(0);
    dialog.PumpMessages(true);
    EXPECT_TRUE(dialog.IsTimedOut());
    dialog.StopTimer();
    EXPECT_TRUE(dialog.IsTimedOut());
    dialog.StartTimer(60000);
    EXPECT_FALSE(dialog.IsTimedOut());
    dialog.StopTimer();
    EXPECT_FALSE(dialog.IsTimedOut());
}

}  // namespace
