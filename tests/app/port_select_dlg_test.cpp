// The "Select Port" dialog run modally with scripted user actions: the host box's deletions and
// typed hosts, what OK hands back and Cancel keeps, the port enabling rule, and Restart.
#include "app/port_select_dlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include "app/comm_cancel_dlg.h"
#include "link/settings.h"
#include "platform/clock.h"
#include "platform/message_recorder.h"
#include "tests/app/named_child.h"
#include "tests/snmp/scripted_agent.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using kelo::app::ProgressDialog;
using kelo::app::SelectPortDialog;
using Hosts = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Script = std::function<void(SelectPortDialog&)>;

// Queues the script to run inside the dialog's modal loop. A script that stops early (a failed
// assertion) leaves the dialog open; it is cancelled then so that the test goes on.
void Queue(SelectPortDialog& dialog, Script script) {
    QTimer::singleShot(0, &dialog, [&dialog, script] {
        script(dialog);
        if (dialog.isVisible())
            dialog.reject();
    });
}

bool RunScripted(SelectPortDialog& dialog, kelo::PortSelection& selection, Script script) {
    Queue(dialog, std::move(script));
    return dialog.Run(selection);
}

Hosts BoxEntries(const SelectPortDialog& dialog) {
    Hosts entries;
    for (int i = 0; i < Child<QComboBox>(dialog, "hostBox")->count(); ++i) {
        entries.push_back(Child<QComboBox>(dialog, "hostBox")->itemText(i).toStdString());
    }
    return entries;
}

std::string EditText(const SelectPortDialog& dialog) {
    return Child<QComboBox>(dialog, "hostBox")->lineEdit()->text().toStdString();
}

// Types into the host box's edit field as the user does, over whatever it shows.
void TypeHost(SelectPortDialog& dialog, const char* text) {
    Child<QComboBox>(dialog, "hostBox")->lineEdit()->selectAll();
    QTest::keyClicks(Child<QComboBox>(dialog, "hostBox")->lineEdit(), text);
}

void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

kelo::PortSelection Selection(Hosts hosts, int selected, int portKind = kelo::kPortNetwork,
                              int typeValue = 0) {
    kelo::PortSelection selection;
    selection.hosts = std::move(hosts);
    selection.selectedHost = selected;
    selection.portKind = portKind;
    selection.typeValue = typeValue;
    return selection;
}

TEST(PortSelectDlg, DeleteHostSelectsTheEntryThatMovesUpOrTheNewLastOne) {
    SelectPortDialog dialog;
    auto selection = Selection({"alpha", "beta", "gamma"}, 1);
    RunScripted(dialog, selection, [](SelectPortDialog& d) {
        EXPECT_EQ(EditText(d), "beta");
        Click(Child<QPushButton>(d, "deleteHost"));
        EXPECT_THAT(BoxEntries(d), ElementsAre("alpha", "gamma"));
        EXPECT_EQ(Child<QComboBox>(d, "hostBox")->currentIndex(), 1);
        EXPECT_EQ(EditText(d), "gamma");

        Click(Child<QPushButton>(d, "deleteHost"));
        EXPECT_THAT(BoxEntries(d), ElementsAre("alpha"));
        EXPECT_EQ(Child<QComboBox>(d, "hostBox")->currentIndex(), 0);
        EXPECT_EQ(EditText(d), "alpha");

        Click(Child<QPushButton>(d, "deleteHost"));
        EXPECT_THAT(BoxEntries(d), IsEmpty());
        EXPECT_EQ(Child<QComboBox>(d, "hostBox")->currentIndex(), -1);
        EXPECT_EQ(EditText(d), "");
        Click(Child<QPushButton>(d, "cancel"));
    });
}

TEST(PortSelectDlg, DeleteHostWithATypedHostDeletesNothing) {
    SelectPortDialog dialog;
    auto selection = Selection({"alpha", "beta"}, 0);
    RunScripted(dialog, selection, [](SelectPortDialog& d) {
        TypeHost(d, "delta");
        Click(Child<QPushButton>(d, "deleteHost"));
        EXPECT_THAT(BoxEntries(d), ElementsAre("alpha", "beta"));
        EXPECT_EQ(EditText(d), "delta");
        Click(Child<QPushButton>(d, "cancel"));
    });
}

// What the user does in the host box before OK.
struct OkCase {
    const char* what;
    Hosts hosts;
    int selected;
    const char* typed;  // typed into the edit field, or nullptr
    bool arrowDown;     // then the next entry chosen from the list with the arrow key
    bool enterKey;      // Enter in the edit field instead of a click on OK
    Hosts expectedHosts;
    int expectedSelected;
};

class OkTest : public ::testing::TestWithParam<OkCase> {};

TEST_P(OkTest, HandsBackTheBoxWithATypedHostInFront) {
    const OkCase& c = GetParam();
    SelectPortDialog dialog;
    auto selection = Selection(c.hosts, c.selected);
    const bool accepted = RunScripted(dialog, selection, [&c](SelectPortDialog& d) {
        if (c.typed != nullptr)
            TypeHost(d, c.typed);
        if (c.arrowDown)
            QTest::keyClick(Child<QComboBox>(d, "hostBox"), Qt::Key_Down);
        if (c.enterKey) {
            QTest::keyClick(Child<QComboBox>(d, "hostBox")->lineEdit(), Qt::Key_Return);
        } else {
            Click(Child<QPushButton>(d, "ok"));
        }
    });
    ASSERT_TRUE(accepted);
    EXPECT_EQ(selection.hosts, c.expectedHosts);
    EXPECT_EQ(selection.selectedHost, c.expectedSelected);
}

INSTANTIATE_TEST_SUITE_P(
    PortSelectDlg, OkTest,
    ::testing::Values(OkCase{"typed_new_host_with_none_selected",
                             {"alpha", "beta", "gamma"},
                             7,
                             "delta",
                             false,
                             false,
                             {"delta", "alpha", "beta", "gamma"},
                             0},
                      OkCase{"typed_host_already_listed",
                             {"alpha", "beta", "gamma"},
                             0,
                             "beta",
                             false,
                             false,
                             {"beta", "alpha", "beta", "gamma"},
                             0},
                      OkCase{"typed_host_then_enter",
                             {"alpha", "beta"},
                             1,
                             "alpha",
                             false,
                             true,
                             {"alpha", "alpha", "beta"},
                             0},
                      OkCase{"empty_list_nothing_typed", {}, 0, nullptr, false, false, {""}, 0},
                      OkCase{"entry_selected",
                             {"alpha", "beta", "gamma"},
                             2,
                             nullptr,
                             false,
                             false,
                             {"alpha", "beta", "gamma"},
                             2},
                      OkCase{"entry_chosen_after_typing",
                             {"alpha", "beta"},
                             0,
                             "zeta",
                             true,
                             false,
                             {"alpha", "beta"},
                             1}),
    [](const ::testing::TestParamInfo<OkCase>& info) { return info.param.what; });

// The profile's settings around a run of the dialog through SelectPort.
class SelectPortTest : public ::testing::Test {
  protected:
    void WriteProfile(const std::string& text) { testing_support::WriteFile(Profile(), text); }
    std::string Profile() const { return dir_.File("kelo.INI"); }
    kelo::ConnectionSettings Reload() const { return kelo::LoadSettings(Profile()); }
    // Runs the dialog on the profile's settings and saves them, as the main window does by
    // its exit.
    void SelectAndSave(kelo::ConnectionSettings& settings, kelo::PortSelectDialog& dialog) {
        kelo::SelectPort(dialog, settings);
        ASSERT_TRUE(kelo::SaveSettings(Profile(), settings));
    }
    // Writes the profile, runs the dialog on it clicking the named buttons in turn (the radio
    // checkedFirst must stand checked before them), saves, and gives what the profile holds.
    kelo::ConnectionSettings AfterClicks(const std::string& profile,
                                         const std::vector<const char*>& clicks,
                                         const char* checkedFirst) {
        WriteProfile(profile);
        {
            kelo::ConnectionSettings loaded = Reload();
            SelectPortDialog dialog;
            Queue(dialog, [&clicks, checkedFirst](SelectPortDialog& d) {
                EXPECT_TRUE(Child<QRadioButton>(d, checkedFirst)->isChecked());
                for (const char* name : clicks)
                    Click(Child<QAbstractButton>(d, name));
            });
            SelectAndSave(loaded, dialog);
        }
        return Reload();
    }

    testing_support::TempDir dir_;
};

TEST_F(SelectPortTest, CancelAfterDeletionsKeepsTheHostList) {
    const kelo::ConnectionSettings settings =
        AfterClicks("[Port]\nPort=1\nHostSel=1\nNumHost=3\nHost0=alpha\nHost1=beta\nHost2=gamma\n",
                    {"deleteHost", "deleteHost", "usb", "type1", "cancel"}, "network");
    EXPECT_THAT(settings.hosts, ElementsAre("alpha", "beta", "gamma"));
    EXPECT_EQ(settings.selectedHost, 1);
    EXPECT_EQ(settings.portKind, kelo::kPortNetwork);
    EXPECT_EQ(settings.machineTypeIndex, 2);
}

TEST_F(SelectPortTest, OkTakesThePortTheTypeAndTheHosts) {
    const kelo::ConnectionSettings settings =
        AfterClicks("[Port]\nPort=1\nHostSel=0\nNumHost=2\nHost0=alpha\nHost1=beta\n",
                    {"deleteHost", "type1", "parallel", "ok"}, "type3");
    EXPECT_THAT(settings.hosts, ElementsAre("beta"));
    EXPECT_EQ(settings.selectedHost, 0);
    EXPECT_EQ(settings.portKind, kelo::kPortParallel);
    EXPECT_EQ(settings.machineTypeIndex, 0);
}

// Stored values the dialog has no radio for: it opens with none checked and, without a click,
// OK leaves them as they were.
struct UncheckedCase {
    const char* what;
    int storedPort;
    int storedType;
};

class UncheckedTest : public SelectPortTest, public ::testing::WithParamInterface<UncheckedCase> {};

TEST_P(UncheckedTest, OkWithoutAClickKeepsTheStoredValue) {
    const UncheckedCase& c = GetParam();
    {
        kelo::ConnectionSettings loaded = Reload();
        loaded.portKind = c.storedPort;
        loaded.machineTypeIndex = c.storedType;
        SelectPortDialog dialog;
        Queue(dialog, [&c](SelectPortDialog& d) {
            for (int kind = 0; kind < 3; ++kind) {
                EXPECT_EQ(Child<QButtonGroup>(d, "ports")->button(kind)->isChecked(),
                          kind == c.storedPort)
                    << kind;
            }
            for (int index = 0; index < 4; ++index) {
                EXPECT_EQ(Child<QButtonGroup>(d, "types")->button(index)->isChecked(),
                          index == c.storedType)
                    << index;
            }
            // No port chosen: the host controls stay as the template has them.
            EXPECT_TRUE(Child<QComboBox>(d, "hostBox")->isEnabled());
            EXPECT_TRUE(Child<QPushButton>(d, "deleteHost")->isEnabled());
            EXPECT_TRUE(Child<QPushButton>(d, "restart")->isEnabled());
            Click(Child<QPushButton>(d, "ok"));
        });
        SelectAndSave(loaded, dialog);
    }
    const kelo::ConnectionSettings settings = Reload();
    EXPECT_EQ(settings.portKind, c.storedPort);
    EXPECT_EQ(settings.machineTypeIndex, c.storedType);
}

INSTANTIATE_TEST_SUITE_P(PortSelectDlg, UncheckedTest,
                         ::testing::Values(UncheckedCase{"port_5", 5, 2},
                                           UncheckedCase{"port_minus_1", -1, 1},
                                           UncheckedCase{"type_index_7", 1, 7},
                                           UncheckedCase{"type_index_minus_2", 1, -2}),
                         [](const ::testing::TestParamInfo<UncheckedCase>& info) {
                             return info.param.what;
                         });

TEST(PortSelectDlg, OkWithoutATypeClickHandsBackTheIndexItWasGiven) {
    SelectPortDialog dialog;
    auto selection = Selection({"alpha"}, 0, -1, 7);
    ASSERT_TRUE(RunScripted(dialog, selection,
                            [](SelectPortDialog& d) { Click(Child<QPushButton>(d, "ok")); }));
    EXPECT_EQ(selection.typeValue, 7);
    EXPECT_EQ(selection.portKind, -1);
}

TEST(PortSelectDlg, HostControlsServeOnlyTheNetwork) {
    const struct {
        int openedWith;
        bool enabledAtOpen;
    } opens[] = {{kelo::kPortParallel, false}, {kelo::kPortNetwork, true}, {kelo::kPortUsb, false}};
    for (const auto& open : opens) {
        SelectPortDialog dialog;
        auto selection = Selection({"alpha"}, 0, open.openedWith);
        RunScripted(dialog, selection, [&open](SelectPortDialog& d) {
            auto hostControlsEnabled = [&d, &open](bool enabled) {
                EXPECT_EQ(Child<QComboBox>(d, "hostBox")->isEnabled(), enabled)
                    << "opened with " << open.openedWith;
                EXPECT_EQ(Child<QPushButton>(d, "deleteHost")->isEnabled(), enabled);
                EXPECT_EQ(Child<QPushButton>(d, "restart")->isEnabled(), enabled);
                EXPECT_EQ(Child<QPushButton>(d, "find")->isEnabled(), enabled);
            };
            hostControlsEnabled(open.enabledAtOpen);
            const struct {
                int port;
                bool enabled;
            } clicks[] = {{kelo::kPortParallel, false},
                          {kelo::kPortNetwork, true},
                          {kelo::kPortUsb, false},
                          {kelo::kPortNetwork, true}};
            for (const auto& click : clicks) {
                Click(Child<QButtonGroup>(d, "ports")->button(click.port));
                EXPECT_TRUE(Child<QButtonGroup>(d, "ports")->button(click.port)->isChecked());
                hostControlsEnabled(click.enabled);
            }
            Click(Child<QPushButton>(d, "cancel"));
        });
    }
}

TEST(PortSelectDlg, TypeRadiosAreOneExclusiveGroup) {
    SelectPortDialog dialog;
    auto selection = Selection({}, 0, kelo::kPortNetwork, 1);
    ASSERT_TRUE(RunScripted(dialog, selection, [](SelectPortDialog& d) {
        Click(Child<QRadioButton>(d, "type4"));
        EXPECT_FALSE(Child<QRadioButton>(d, "type2")->isChecked());
        // The port radios are a group of their own.
        EXPECT_TRUE(Child<QRadioButton>(d, "network")->isChecked());
        Click(Child<QPushButton>(d, "ok"));
    }));
    EXPECT_EQ(selection.typeValue, 3);
    EXPECT_EQ(selection.portKind, kelo::kPortNetwork);
}

// ---- Restart on a recording exchange --------------------------------------------------------

struct RecordedRestart {
    std::string host;
    bool ownWindow = false;  // the exchange ran on a progress window of the port dialog's own
};

class RestartTest : public ::testing::Test {
  protected:
    void Record(SelectPortDialog& dialog) {
        dialog.SetRestartExchange(
            [this, &dialog](const std::string& host, kelo::platform::CancelDialog& progress) {
                auto* window = dynamic_cast<ProgressDialog*>(&progress);
                restarts_.push_back({host, window != nullptr && window->parent() == &dialog});
                if (onRestart)
                    onRestart(dialog);
            });
    }

    std::vector<RecordedRestart> restarts_;
    std::function<void(SelectPortDialog&)> onRestart;
};

TEST_F(RestartTest, RestartsTheSelectedOrTypedHostExceptForType4) {
    const struct {
        const char* what;
        int typeIndex;
        const char* typed;
        std::optional<std::string> expectedHost;
    } cases[] = {
        {"selected entry", 0, nullptr, "beta"}, {"typed host", 1, "10.0.0.9", "10.0.0.9"},
        {"type3", 2, nullptr, "beta"},          {"no type checked", 9, nullptr, "beta"},
        {"type4", 3, nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        restarts_.clear();
        SelectPortDialog dialog;
        Record(dialog);
        auto selection = Selection({"alpha", "beta"}, 1, kelo::kPortNetwork, c.typeIndex);
        RunScripted(dialog, selection, [&c](SelectPortDialog& d) {
            if (c.typed != nullptr)
                TypeHost(d, c.typed);
            Click(Child<QPushButton>(d, "restart"));
            Click(Child<QPushButton>(d, "cancel"));
        });
        if (!c.expectedHost) {
            EXPECT_THAT(restarts_, IsEmpty()) << c.what;
            continue;
        }
        ASSERT_EQ(restarts_.size(), 1u) << c.what;
        EXPECT_EQ(restarts_[0].host, *c.expectedHost) << c.what;
        EXPECT_TRUE(restarts_[0].ownWindow) << c.what;
    }
}

// A host the system would read as another address is refused by Restart and by OK with the
// reason, and the dialog stays open for the correction.
TEST_F(RestartTest, HostsInAnotherNumericFormAreRefusedWithTheirReason) {
    kelo::platform::MessageRecorder messages;
    SelectPortDialog dialog;
    Record(dialog);
    auto selection = Selection({"alpha"}, 0);
    bool openAfterOk = false;
    const bool accepted = RunScripted(dialog, selection, [&openAfterOk](SelectPortDialog& d) {
        TypeHost(d, "10.0.0.010");
        Click(Child<QPushButton>(d, "restart"));
        Click(Child<QPushButton>(d, "ok"));
        openAfterOk = d.isVisible();
        TypeHost(d, "10.0.0.10");
        Click(Child<QPushButton>(d, "ok"));
    });
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(openAfterOk);
    EXPECT_THAT(restarts_, IsEmpty());
    const std::string refusal =
        "10.0.0.010: write IPv4 addresses without leading zeros (did you mean 10.0.0.10?)";
    EXPECT_THAT(messages.Texts(), ElementsAre(refusal, refusal));
    EXPECT_EQ(selection.hosts, (Hosts{"10.0.0.10", "alpha"}));
}

TEST_F(RestartTest, TypeClickedBeforeRestartDecides) {
    SelectPortDialog dialog;
    Record(dialog);
    auto selection = Selection({"alpha"}, 0, kelo::kPortNetwork, 2);
    RunScripted(dialog, selection, [](SelectPortDialog& d) {
        Click(Child<QRadioButton>(d, "type4"));
        Click(Child<QPushButton>(d, "restart"));
        Click(Child<QRadioButton>(d, "type3"));
        Click(Child<QPushButton>(d, "restart"));
        Click(Child<QPushButton>(d, "cancel"));
    });
    ASSERT_EQ(restarts_.size(), 1u);
}

TEST_F(RestartTest, DialogStaysOpenWithItsValuesAndASecondClickWaits) {
    SelectPortDialog dialog;
    Record(dialog);
    int nestedRestarts = 0;
    onRestart = [&nestedRestarts](SelectPortDialog& d) {
        // The progress window pumps events, so the user can click Restart again meanwhile.
        Click(Child<QPushButton>(d, "restart"));
        nestedRestarts = static_cast<int>(d.findChildren<ProgressDialog*>().size());
    };
    auto selection = Selection({"alpha", "beta"}, 0, kelo::kPortNetwork, 1);
    ASSERT_TRUE(RunScripted(dialog, selection, [](SelectPortDialog& d) {
        Click(Child<QPushButton>(d, "restart"));
        EXPECT_TRUE(d.isVisible());
        EXPECT_THAT(d.findChildren<ProgressDialog*>(), IsEmpty());
        EXPECT_THAT(BoxEntries(d), ElementsAre("alpha", "beta"));
        EXPECT_EQ(Child<QComboBox>(d, "hostBox")->currentIndex(), 0);
        Click(Child<QPushButton>(d, "ok"));
    }));
    EXPECT_EQ(restarts_.size(), 1u);
    EXPECT_EQ(nestedRestarts, 1);
    EXPECT_THAT(selection.hosts, ElementsAre("alpha", "beta"));
    EXPECT_EQ(selection.selectedHost, 0);
    EXPECT_EQ(selection.typeValue, 1);
    EXPECT_EQ(selection.portKind, kelo::kPortNetwork);
}

// ---- Restart on the real exchange -----------------------------------------------------------

// True in a private network namespace: loopback is the only interface, so the test may bind the
// machine's SNMP port.
bool InPrivateNetwork() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool onlyLoopback = true;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_LOOPBACK) == 0)
            onlyLoopback = false;
    }
    ::freeifaddrs(list);
    return onlyLoopback;
}

class RealRestartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetwork()) {
            GTEST_SKIP() << "needs a private network namespace to bind UDP port 161";
        }
        agent_.emplace([](const kelo::test::Bytes&) { return std::optional<kelo::test::Bytes>(); });
        ASSERT_TRUE(agent_->Bound());
    }

    // Runs Restart against the silent agent and returns the selection OK handed back.
    kelo::PortSelection RestartThenOk() {
        SelectPortDialog dialog;
        auto selection = Selection({"127.0.0.1", "beta"}, 0, kelo::kPortNetwork, 0);
        EXPECT_TRUE(RunScripted(dialog, selection, [](SelectPortDialog& d) {
            Click(Child<QPushButton>(d, "restart"));
            EXPECT_TRUE(d.isVisible());
            EXPECT_THAT(d.findChildren<ProgressDialog*>(), IsEmpty());
            Click(Child<QPushButton>(d, "ok"));
        }));
        return selection;
    }

    std::optional<kelo::test::ScriptedAgent> agent_;
    kelo::platform::FakeClock clock_;
    kelo::platform::MessageRecorder messages_;
};

TEST_F(RealRestartTest, SilentInterfaceStillGetsTheSixSecondWait) {
    const kelo::PortSelection selection = RestartThenOk();
    EXPECT_EQ(clock_.Waits(), std::vector<int>(24, 250));
    EXPECT_THAT(messages_.Texts(), IsEmpty());
    EXPECT_TRUE(agent_->WaitForRequests(1));
    EXPECT_THAT(selection.hosts, ElementsAre("127.0.0.1", "beta"));
    EXPECT_EQ(selection.selectedHost, 0);
}

TEST_F(RealRestartTest, CancelOnTheProgressWindowEndsTheWaitEarly) {
    bool progressShown = false;
    clock_.onSleep = [this, &progressShown](int) {
        if (clock_.Waits().size() != 3)
            return;
        // The restart's own progress window, a child of the port dialog, is the only one up.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<ProgressDialog*>(window);
            if (progress == nullptr || !progress->isVisible())
                continue;
            progressShown = true;
            QMetaObject::invokeMethod(Child<QPushButton>(*progress, "cancel"), "click",
                                      Qt::QueuedConnection);
        }
    };
    RestartThenOk();
    EXPECT_TRUE(progressShown);
    EXPECT_GE(clock_.Waits().size(), 3u);
    EXPECT_LT(clock_.Waits().size(), 24u);
    EXPECT_THAT(messages_.Texts(), IsEmpty());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
