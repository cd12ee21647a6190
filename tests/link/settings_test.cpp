// The connection settings on real profile files: load at construction, save at destruction.
#include <gtest/gtest.h>

#include "link/device_link.h"
#include "platform/headless_cancel_dialog.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    std::string Profile() const { return dir_.File("kelo.INI"); }
    void Write(const std::string& text) { testing_support::WriteFile(Profile(), text); }
    std::string Read() const { return testing_support::ReadFileText(Profile()); }

    testing_support::TempDir dir_;
    platform::HeadlessCancelDialog dialog_;
};

TEST_F(SettingsTest, EmptyProfileLoadsDefaultsAndExitWritesEveryKeyButHosts) {
    {
        kelo::CDeviceLink link(dialog_, Profile());
        EXPECT_EQ(link.Settings().portKind, 1);
        EXPECT_EQ(link.Settings().selectedHost, 0);
        EXPECT_TRUE(link.Settings().hosts.empty());
        EXPECT_EQ(kelo::g_win9xExtraDelay, 22000);
        EXPECT_EQ(link.Settings().machineTypeIndex, 2);
        EXPECT_EQ(link.GetMachineType(), 3);
    }
    EXPECT_EQ(Read(),
              "[Port]\nPort=1\nHostSel=0\nNumHost=0\nWin9x_ExtraDelay=22000\nMachineType=2\n");
}

TEST_F(SettingsTest, NumHostBoundsTheHostsReadAndStaleHostKeysStay) {
    Write("[Port]\nNumHost=2\nHost0=a\nHost1=b\nHost2=c\nHost3=d\nHost4=e\n");
    {
        kelo::CDeviceLink link(dialog_, Profile());
        EXPECT_EQ(link.Settings().hosts, (std::vector<std::string>{"a", "b"}));
        link.MutableSettings().hosts = {"z"};
    }
    EXPECT_EQ(Read(),
              "[Port]\nNumHost=1\nHost0=z\nHost1=b\nHost2=c\nHost3=d\nHost4=e\nPort=1\nHostSel=0\n"
              "Win9x_ExtraDelay=22000\nMachineType=2\n");
}

TEST_F(SettingsTest, ExtraDelayIsOneEntryWhateverItsCase) {
    Write("[Port]\nWin9x_ExtraDelay=5000\n");
    {
        kelo::CDeviceLink link(dialog_, Profile());
        EXPECT_EQ(kelo::g_win9xExtraDelay, 5000);
    }
    EXPECT_EQ(Read().find("Win9X"), std::string::npos);
    kelo::g_win9xExtraDelay = kelo::kDefaultWin9xExtraDelay;
}

TEST_F(SettingsTest, UnknownPortKindAndTypeSurviveASave) {
    Write("[Port]\nPort=5\nMachineType=9\n");
    {
        kelo::CDeviceLink link(dialog_, Profile());
        EXPECT_EQ(link.Settings().portKind, 5);
        EXPECT_EQ(link.GetMachineType(), 10);
    }
    kelo::CDeviceLink again(dialog_, Profile());
    EXPECT_EQ(again.Settings().portKind, 5);
    EXPECT_EQ(again.Settings().machineTypeIndex, 9);
}

TEST_F(SettingsTest, NegativeOrHugeNumHostLoadsABoundedList) {
    Write("[Port]\nNumHost=-3\n");
    {
        kelo::CDeviceLink link(dialog_, Profile());
        EXPECT_TRUE(link.Settings().hosts.empty());
    }
    Write("[Port]\nNumHost=2000000000\nHost0=a\n");
    kelo::CDeviceLink link(dialog_, Profile());
    link.DiscardSettingsOnExit();
    EXPECT_LE(link.Settings().hosts.size(), 4096u);
    EXPECT_EQ(link.Settings().hosts.front(), "a");
}

// The port selection dialog as a script: it records what it was given and answers.
class ScriptedPortDialog : public kelo::PortSelectDialog {
  public:
    bool Run(kelo::PortSelection& selection) override {
        given = selection;
        if (!ok)
            return false;
        selection = answer;
        return true;
    }
    bool ok = true;
    kelo::PortSelection given;
    kelo::PortSelection answer;
};

TEST_F(SettingsTest, SelectPortPassesAndTakesBackOnlyKnownPortKinds) {
    Write("[Port]\nPort=5\nNumHost=1\nHost0=alpha\nMachineType=1\n");
    kelo::CDeviceLink link(dialog_, Profile());
    link.DiscardSettingsOnExit();
    ScriptedPortDialog dialog;
    dialog.answer = {-1, 3, 0, {"delta", "alpha"}};
    link.SelectPort(dialog);
    EXPECT_EQ(dialog.given.portKind, -1);
    EXPECT_EQ(dialog.given.typeValue, 1);
    EXPECT_EQ(dialog.given.hosts, std::vector<std::string>{"alpha"});
    EXPECT_EQ(link.Settings().portKind, 5);
    EXPECT_EQ(link.Settings().machineTypeIndex, 3);
    EXPECT_EQ(link.Settings().hosts, (std::vector<std::string>{"delta", "alpha"}));
}

TEST_F(SettingsTest, CancelledSelectPortChangesNothing) {
    Write("[Port]\nPort=1\nNumHost=2\nHost0=a\nHost1=b\nHostSel=1\n");
    kelo::CDeviceLink link(dialog_, Profile());
    link.DiscardSettingsOnExit();
    ScriptedPortDialog dialog;
    dialog.ok = false;
    link.SelectPort(dialog);
    EXPECT_EQ(link.Settings().hosts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(link.Settings().selectedHost, 1);
}

}  // namespace
