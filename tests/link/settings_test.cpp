// The connection settings on real profile files: loaded and saved when the program asks.
#include <gtest/gtest.h>

#include "link/settings.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    std::string Profile() const { return dir_.File("kelo.INI"); }
    void Write(const std::string& text) { testing_support::WriteFile(Profile(), text); }
    std::string Read() const { return testing_support::ReadFileText(Profile()); }

    testing_support::TempDir dir_;
};

TEST_F(SettingsTest, EmptyProfileLoadsDefaultsAndASaveWritesEveryKeyButHosts) {
    const kelo::ConnectionSettings settings = kelo::LoadSettings(Profile());
    EXPECT_EQ(settings.portKind, 1);
    EXPECT_EQ(settings.selectedHost, 0);
    EXPECT_TRUE(settings.hosts.empty());
    EXPECT_EQ(settings.machineTypeIndex, 2);
    EXPECT_FALSE(std::filesystem::exists(Profile())) << "loading writes nothing";
    ASSERT_TRUE(kelo::SaveSettings(Profile(), settings));
    EXPECT_EQ(Read(), "[Port]\nPort=1\nHostSel=0\nNumHost=0\nMachineType=2\n");
}

TEST_F(SettingsTest, NumHostBoundsTheHostsReadAndStaleAndUnreadKeysStay) {
    Write("[Port]\nNumHost=2\nHost0=a\nHost1=b\nHost2=c\nWin9x_ExtraDelay=5000\n");
    kelo::ConnectionSettings settings = kelo::LoadSettings(Profile());
    EXPECT_EQ(settings.hosts, (std::vector<std::string>{"a", "b"}));
    settings.hosts = {"z"};
    ASSERT_TRUE(kelo::SaveSettings(Profile(), settings));
    EXPECT_EQ(Read(),
              "[Port]\nNumHost=1\nHost0=z\nHost1=b\nHost2=c\nWin9x_ExtraDelay=5000\nPort=1\n"
              "HostSel=0\nMachineType=2\n");
}

TEST_F(SettingsTest, UnknownPortKindAndTypeSurviveASave) {
    Write("[Port]\nPort=5\nMachineType=9\n");
    const kelo::ConnectionSettings settings = kelo::LoadSettings(Profile());
    EXPECT_EQ(settings.portKind, 5);
    ASSERT_TRUE(kelo::SaveSettings(Profile(), settings));
    const kelo::ConnectionSettings again = kelo::LoadSettings(Profile());
    EXPECT_EQ(again.portKind, 5);
    EXPECT_EQ(again.machineTypeIndex, 9);
}

TEST_F(SettingsTest, NegativeOrHugeNumHostLoadsABoundedList) {
    Write("[Port]\nNumHost=-3\n");
    EXPECT_TRUE(kelo::LoadSettings(Profile()).hosts.empty());
    Write("[Port]\nNumHost=2000000000\nHost0=a\n");
    const kelo::ConnectionSettings settings = kelo::LoadSettings(Profile());
    EXPECT_LE(settings.hosts.size(), 4096u);
    EXPECT_EQ(settings.hosts.front(), "a");
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
    kelo::ConnectionSettings settings{5, 0, 1, {"alpha"}};
    ScriptedPortDialog dialog;
    dialog.answer = {-1, 3, 0, {"delta", "alpha"}};
    EXPECT_TRUE(kelo::SelectPort(dialog, settings));
    EXPECT_EQ(dialog.given.portKind, -1);
    EXPECT_EQ(dialog.given.typeValue, 1);
    EXPECT_EQ(dialog.given.hosts, std::vector<std::string>{"alpha"});
    EXPECT_EQ(settings.portKind, 5);
    EXPECT_EQ(settings.machineTypeIndex, 3);
    EXPECT_EQ(settings.hosts, (std::vector<std::string>{"delta", "alpha"}));
}

TEST_F(SettingsTest, CancelledSelectPortChangesNothing) {
    kelo::ConnectionSettings settings{1, 1, 2, {"a", "b"}};
    ScriptedPortDialog dialog;
    dialog.ok = false;
    EXPECT_FALSE(kelo::SelectPort(dialog, settings));
    EXPECT_EQ(settings.hosts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(settings.selectedHost, 1);
}

}  // namespace
