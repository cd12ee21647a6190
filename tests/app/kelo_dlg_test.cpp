// The main dialog: caption and hidden controls, the enabling rule around every operation,
// the report size limit, dropped files, the start-up file and the About box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "app/file_dialogs.h"
#include "app/kelo_app.h"
#include "app/kelo_dlg.h"
#include "app/message_box_sink.h"
#include "app/report_dlg.h"
#include "files/file_filters.h"
#include "files/parameter_file.h"
#include "files/report_file.h"
#include "platform/message_recorder.h"
#include "platform/system.h"
#include "tests/app/named_child.h"
#include "tests/app/scripted_file_dialogs.h"
#include "tests/app/stub_operations.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using app_testing::ScriptedFileDialogs;
using kelo::app::MainDialog;
using ::testing::ElementsAre;
using testing_support::ParametersOf;
using testing_support::ReadFileText;
using testing_support::ReportOf;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::WriteOf;

// Acts on each modal dialog of type T as it comes up, then closes it.
template <class T>
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(T&)> act = {}) : act_(std::move(act)) {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            ++count_;
            if (act_)
                act_(*dialog);
            dialog->reject();
        });
        timer_.start();
    }
    int Count() const { return count_; }

  private:
    std::function<void(T&)> act_;
    QTimer timer_;
    int count_ = 0;
};

const char* const kButtons[] = {"selectPort",    "getReport",       "openReport", "getParameters",
                                "putParameters", "firmwareUpgrade", "exit"};

// What the window looks like from the user's side at one moment.
struct ControlState {
    int enabledButtons = 0;
    bool closeEnabled = false;
    bool closeRefused = false;
    bool operator==(const ControlState&) const = default;
};
const ControlState kBusy{0, false, true};
const ControlState kIdle{7, true, false};

// Reads the state; tries Close and Esc on a busy window (an idle one is left open).
ControlState Observe(MainDialog& dialog) {
    ControlState state;
    for (const char* name : kButtons)
        state.enabledButtons += Child<QPushButton>(dialog, name)->isEnabled() ? 1 : 0;
    state.closeEnabled = Child<QAction>(dialog, "close")->isEnabled();
    if (dialog.IsBusy()) {
        dialog.close();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        state.closeRefused = dialog.isVisible();
    }
    return state;
}

class KeloDlgTest : public ::testing::Test {
  protected:
    KeloDlgTest() : dialog_("", folder_ / "kelo.INI") {
        dialog_.SetRegistration(std::nullopt);
        dialog_.show();
    }

    // Puts a report file with this text where Open Report and drops can find it.
    std::string MakeReportFile(const std::string& name, const std::string& text) {
        EXPECT_TRUE(kelo::SaveReportText(folder_ / name, text));
        return folder_ / name;
    }

    void Drop(const std::vector<std::string>& paths) {
        QList<QUrl> urls;
        for (const std::string& path : paths)
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        QMimeData data;
        data.setUrls(urls);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // Straight to the window: the application passes drops only to a drag it tracks.
        static_cast<QObject&>(dialog_).event(&drop);
    }

    TempDir folder_;
    kelo::platform::MessageRecorder messages_;
    MainDialog dialog_;
};

TEST_F(KeloDlgTest, ShowsTheVersionInTheCaptionAndNeverTheDevelopmentControls) {
    EXPECT_EQ(dialog_.windowTitle().toStdString(), "Kelo " + kelo::platform::ProgramVersion());
    EXPECT_FALSE(kelo::platform::ProgramVersion().empty());
    EXPECT_FALSE(Child<QLabel>(dialog_, "development")->isVisible());
    EXPECT_TRUE(Child<QLabel>(dialog_, "development")->text().isEmpty());
    EXPECT_TRUE(dialog_.acceptDrops());
    EXPECT_EQ(Observe(dialog_), kIdle);
    EXPECT_EQ(Child<QPushButton>(dialog_, "selectPort")->text(), "Select Port");
    EXPECT_EQ(Child<QPushButton>(dialog_, "firmwareUpgrade")->text(), "Firmware Upgrade");
    EXPECT_EQ(Child<QPushButton>(dialog_, "exit")->text(), "Exit");
}

TEST_F(KeloDlgTest, SystemMenuHoldsTheAboutEntryThatShowsTheCaptionsVersion) {
    const QList<QAction*> actions = Child<QMenu>(dialog_, "systemMenu")->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), "Close");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Version of Kelo(&A)...");
    EXPECT_EQ(actions[3]->text(), "Protocol Trace...");
    EXPECT_EQ(actions[4]->text(), "History...");

    QString shown;
    QString caption;
    ModalWatcher<kelo::app::AboutDialog> about([&](kelo::app::AboutDialog& box) {
        shown = box.VersionText();
        caption = box.windowTitle();
    });
    actions[2]->trigger();
    EXPECT_EQ(about.Count(), 1);
    EXPECT_EQ(caption, "Version of Kelo");
    EXPECT_EQ("Kelo " + shown, dialog_.windowTitle());
}

TEST_F(KeloDlgTest, ProtocolTraceStartsInTheChosenFileAndStopsWhenChosenAgain) {
    ScriptedFileDialogs dialogs;
    const std::string path = folder_ / "trace.txt";
    dialogs.answers = {path};
    QAction* trace = Child<QAction>(dialog_, "trace");
    trace->trigger();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].kind, kelo::app::FileDialogRequest::Kind::kSave);
    EXPECT_EQ(dialogs.asked[0].filter, "Trace Files (*.txt)|*.txt|");
    EXPECT_TRUE(trace->isChecked());
    kelo::platform::ShowMessage(kelo::platform::MessageId::kDone);

    trace->trigger();
    EXPECT_FALSE(trace->isChecked());
    EXPECT_EQ(dialogs.asked.size(), 1u) << "stopping asks for nothing";
    kelo::platform::ShowMessage(kelo::platform::MessageId::kFailedSend);
    const std::string written = ReadFileText(path);
    EXPECT_NE(written.find(" message \"Done.\"\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("Failed to send."), std::string::npos) << written;
    EXPECT_THAT(messages_.Texts(), ElementsAre("Done.", "Failed to send."))
        << "the messages themselves are as before";

    dialog_.EnableControls(false);
    EXPECT_FALSE(trace->isEnabled()) << "no file dialog inside a running exchange";
    dialog_.EnableControls(true);
}

TEST_F(KeloDlgTest, EveryOperationDisablesTheWindowWhileItRunsAndEnablesItAfter) {
    ScriptedFileDialogs dialogs;  // every file dialog is cancelled
    std::vector<ControlState> during;
    auto observe = [&] { during.push_back(Observe(dialog_)); };
    dialogs.onShow = observe;
    MainDialog::Operations& ops = dialog_.MutableOperations();
    ops.selectPort = observe;
    ops.getReport = [&] {
        observe();
        return ReportOf(false, "");
    };
    ops.getParameters = [&](int) {
        observe();
        return ParametersOf(true, {0x42});
    };

    for (const char* id : kButtons) {
        if (std::string_view(id) == "exit")
            continue;
        during.clear();
        Child<QPushButton>(dialog_, id)->click();
        ASSERT_FALSE(during.empty()) << id;
        for (const ControlState& state : during)
            EXPECT_EQ(state, kBusy) << id;
        EXPECT_EQ(Observe(dialog_), kIdle) << id;
        EXPECT_TRUE(dialog_.isVisible()) << id;
    }
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(KeloDlgTest, CancelledFileDialogsEndTheOperationSilently) {
    ScriptedFileDialogs dialogs;
    bool touched = false;
    MainDialog::Operations& ops = dialog_.MutableOperations();
    ops.getParameters = [](int capacity) {
        EXPECT_EQ(capacity, 131072);
        return ParametersOf(true, {1});
    };
    ops.putParameters = [&](const std::vector<uint8_t>&) {
        touched = true;
        return WriteOf(true);
    };
    ops.upgradeFirmware = [&](const std::vector<uint8_t>&) {
        touched = true;
        return WriteOf(true);
    };

    struct Case {
        const char* button;
        kelo::app::FileDialogRequest::Kind kind;
        std::string filter;
        std::string defaultExtension;
        bool mustExist;
        bool askBeforeReplace;
    };
    const Case cases[] = {
        {"openReport", kelo::app::FileDialogRequest::Kind::kOpen, kelo::kReportFilter, ".kel", true,
         false},
        {"getParameters", kelo::app::FileDialogRequest::Kind::kSave, "", "", false, true},
        {"putParameters", kelo::app::FileDialogRequest::Kind::kOpen, "", "", false, false},
        {"firmwareUpgrade", kelo::app::FileDialogRequest::Kind::kOpen, kelo::kFirmwareFilter, "",
         true, false},
    };
    for (const Case& c : cases) {
        dialogs.asked.clear();
        dialogs.owners.clear();
        Child<QPushButton>(dialog_, c.button)->click();
        ASSERT_EQ(dialogs.asked.size(), 1u) << c.button;
        const kelo::app::FileDialogRequest& request = dialogs.asked[0];
        EXPECT_EQ(request.kind, c.kind) << c.button;
        EXPECT_EQ(request.filter, c.filter) << c.button;
        EXPECT_EQ(request.defaultExtension, c.defaultExtension) << c.button;
        EXPECT_EQ(request.mustExist, c.mustExist) << c.button;
        EXPECT_EQ(request.askBeforeReplace, c.askBeforeReplace) << c.button;
        EXPECT_EQ(dialogs.owners[0], &dialog_) << c.button;
        EXPECT_EQ(Observe(dialog_), kIdle) << c.button;
    }
    EXPECT_FALSE(touched);
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(KeloDlgTest, RefusesAMachineReportOverTheLimitAndShowsOneAtTheLimit) {
    struct Case {
        size_t length;
        bool viewerOpens;
    };
    for (const Case c : {Case{131073, false}, Case{131072, true}, Case{0, true}}) {
        messages_.Clear();
        const std::string report(c.length, 'R');
        dialog_.MutableOperations().getReport = [&] { return ReportOf(true, report); };
        size_t shownLength = 99;
        ControlState whileShown;
        ModalWatcher<kelo::app::ReportDialog> viewer([&](kelo::app::ReportDialog& v) {
            shownLength = v.ReportText().size();
            whileShown = Observe(dialog_);
            EXPECT_EQ(v.parentWidget(), nullptr);
        });
        Child<QPushButton>(dialog_, "getReport")->click();
        EXPECT_EQ(viewer.Count(), c.viewerOpens ? 1 : 0) << c.length;
        if (c.viewerOpens) {
            EXPECT_EQ(shownLength, c.length);
            EXPECT_EQ(whileShown, kBusy);
            EXPECT_TRUE(messages_.Messages().empty());
        } else {
            EXPECT_THAT(messages_.Texts(), ElementsAre("Too Large File"));
        }
        EXPECT_EQ(Observe(dialog_), kIdle) << c.length;
    }
}

TEST_F(KeloDlgTest, ReportsShowInTheProfilesCodePageAndAnUnknownOneIsToldOnce) {
    dialog_.MutableOperations().getReport = [] { return ReportOf(true, "25\x81\x8B\x43"); };
    QStringList shown;
    ModalWatcher<kelo::app::ReportDialog> viewer([&](kelo::app::ReportDialog& v) {
        shown << Child<QPlainTextEdit>(v, "text")->toPlainText();
    });
    for (const char* name : {"CP932", "NOPE", "NOPE"}) {
        WriteFile(folder_ / "kelo.INI", std::string("[Report]\nEncoding=") + name + "\n");
        Child<QPushButton>(dialog_, "getReport")->click();
    }
    EXPECT_EQ(shown, QStringList({"25\u00B0C", "25\uFFFD\uFFFDC", "25\uFFFD\uFFFDC"}));
    EXPECT_THAT(messages_.Texts(),
                ElementsAre("Unknown report encoding \"NOPE\" in " + folder_ / "kelo.INI" +
                            "; reports are shown as UTF-8."));
}

TEST_F(KeloDlgTest, AFailedGetReportOpensNothing) {
    dialog_.MutableOperations().getReport = [] { return ReportOf(false, "partial"); };
    ModalWatcher<kelo::app::ReportDialog> viewer;
    Child<QPushButton>(dialog_, "getReport")->click();
    EXPECT_EQ(viewer.Count(), 0);
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(Observe(dialog_), kIdle);
}

TEST_F(KeloDlgTest, OpenReportShowsTheChosenFile) {
    const std::string path = MakeReportFile("chosen.kel", "LINE 1\r\nLINE 2\r\n");
    ScriptedFileDialogs dialogs;
    dialogs.answers.push_back(path);
    std::string shown;
    ModalWatcher<kelo::app::ReportDialog> viewer(
        [&](kelo::app::ReportDialog& v) { shown = v.ReportText(); });
    Child<QPushButton>(dialog_, "openReport")->click();
    EXPECT_EQ(viewer.Count(), 1);
    EXPECT_EQ(shown, "LINE 1\r\nLINE 2\r\n");
    EXPECT_EQ(Observe(dialog_), kIdle);
}

TEST_F(KeloDlgTest, ParametersGoFromTheMachineToAFileAndBack) {
    const std::vector<uint8_t> parameters = {0x00, 0x10, 0xFF, 0x7F, 0x80, 0x01};
    MainDialog::Operations& ops = dialog_.MutableOperations();
    ops.getParameters = [&](int capacity) {
        EXPECT_EQ(capacity, 131072);
        return ParametersOf(true, parameters);
    };
    std::vector<uint8_t> put;
    int putCalls = 0;
    ops.putParameters = [&](const std::vector<uint8_t>& block) {
        ++putCalls;
        put = block;
        return WriteOf(true);
    };

    ScriptedFileDialogs dialogs;
    dialogs.answers.push_back(folder_ / "machine.par");
    Child<QPushButton>(dialog_, "getParameters")->click();
    ASSERT_TRUE(std::filesystem::exists(folder_ / "machine.par"));

    dialogs.answers.push_back(folder_ / "machine.par");
    Child<QPushButton>(dialog_, "putParameters")->click();
    ASSERT_EQ(putCalls, 1);
    std::vector<uint8_t> expected = parameters;
    expected.push_back(kelo::ParameterCheckByte(parameters.data(), 6));
    EXPECT_EQ(put, expected);
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(Observe(dialog_), kIdle);
}

TEST_F(KeloDlgTest, FirmwareUpgradeSendsTheFilesBytes) {
    const std::string image("\x01\x02\x00\xFF firmware", 13);
    WriteFile(folder_ / "update.rfw", image);
    std::string sent;
    dialog_.MutableOperations().upgradeFirmware = [&](const std::vector<uint8_t>& bytes) {
        sent.assign(bytes.begin(), bytes.end());
        return WriteOf(true);
    };
    ScriptedFileDialogs dialogs;
    dialogs.answers.push_back(folder_ / "update.rfw");
    Child<QPushButton>(dialog_, "firmwareUpgrade")->click();
    EXPECT_EQ(sent, image);
    EXPECT_EQ(Observe(dialog_), kIdle);
}

TEST_F(KeloDlgTest, DroppedFilesOpenOnlyOneReport) {
    const std::string report = MakeReportFile("dropped.kel", "DROPPED");
    WriteFile(folder_ / "note.txt", "text");
    std::vector<std::string> shown;
    ModalWatcher<kelo::app::ReportDialog> viewer([&](kelo::app::ReportDialog& v) {
        shown.push_back(v.ReportText());
        EXPECT_EQ(Observe(dialog_), kIdle);  // a drop does not disable the buttons
    });

    // Each drop returns to the drag's source first; its message or viewer follows from the
    // event loop.
    struct Case {
        std::vector<std::string> dropped;
        std::vector<std::string> messages;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {{report, folder_ / "note.txt"}, {"Drop Only One File"}, {}},
        {{folder_ / "note.txt"}, {"Illegal File"}, {}},
        {{report}, {}, {"DROPPED"}},
    };
    for (const Case& c : cases) {
        messages_.Clear();
        shown.clear();
        Drop(c.dropped);
        EXPECT_TRUE(messages_.Messages().empty() && shown.empty()) << c.dropped.size();
        QApplication::processEvents();
        EXPECT_EQ(messages_.Texts(), c.messages);
        EXPECT_EQ(shown, c.shown);
    }
}

// A file name is shown as typed, never read as markup.
TEST(MessageBoxes, ShowTheirTextAsPlainText) {
    kelo::app::MessageBoxSink boxes;
    kelo::platform::MessageSink* previous = kelo::platform::SetMessageSink(&boxes);
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    ModalWatcher<QMessageBox> watcher([&](QMessageBox& box) {
        format = box.textFormat();
        text = box.text();
    });
    kelo::platform::ShowText("<b>x.kel: Operation not permitted");
    kelo::platform::SetMessageSink(previous);
    EXPECT_EQ(watcher.Count(), 1);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(text, "<b>x.kel: Operation not permitted");
}

TEST(KeloDlgStart, AReportNamedAtStartOpensOnceTheWindowIsUp) {
    TempDir folder;
    kelo::platform::MessageRecorder messages;
    const std::string path = folder / "start.kel";
    ASSERT_TRUE(kelo::SaveReportText(path, "STARTED"));

    MainDialog dialog(path, folder / "kelo.INI");
    dialog.SetRegistration(std::nullopt);
    bool windowUp = false;
    std::string shown;
    ModalWatcher<kelo::app::ReportDialog> viewer([&](kelo::app::ReportDialog& v) {
        windowUp = dialog.isVisible() && dialog.windowTitle().startsWith("Kelo ");
        shown = v.ReportText();
    });
    dialog.show();
    EXPECT_EQ(viewer.Count(), 0);  // the start-up file waits for the event loop
    QApplication::processEvents();
    EXPECT_EQ(viewer.Count(), 1);
    EXPECT_TRUE(windowUp);
    EXPECT_EQ(shown, "STARTED");
    EXPECT_EQ(Observe(dialog), kIdle);
    EXPECT_TRUE(messages.Messages().empty());
}

// The whole program: the first argument opens, the second is ignored, and the settings are
// written when the window closes.
TEST(KeloDlgStart, TheProgramOpensItsFirstArgumentAndSavesTheSettingsAtTheEnd) {
    TempDir folder;
    const std::string config = folder / "config";
    const std::string data = folder / "data";
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    ASSERT_TRUE(kelo::SaveReportText(folder / "first.kel", "FIRST"));
    ASSERT_TRUE(kelo::SaveReportText(folder / "second.kel", "SECOND"));

    std::vector<std::string> shown;
    ModalWatcher<kelo::app::ReportDialog> viewer(
        [&](kelo::app::ReportDialog& v) { shown.push_back(v.ReportText()); });
    // The program shows its messages in boxes; none is expected, and one must not hang the test.
    ModalWatcher<QMessageBox> boxes(
        [](QMessageBox& box) { ADD_FAILURE() << box.text().toStdString(); });
    // Once the viewer has come and gone, Exit ends the program.
    QTimer exitWhenDone;
    exitWhenDone.setInterval(1);
    QObject::connect(&exitWhenDone, &QTimer::timeout, [&] {
        auto* main = qobject_cast<MainDialog*>(QApplication::activeModalWidget());
        if (main != nullptr && viewer.Count() > 0)
            Child<QPushButton>(*main, "exit")->click();
    });
    exitWhenDone.start();

    kelo::app::KeloApp program({folder / "first.kel", folder / "second.kel"});
    EXPECT_EQ(program.Run(), 0);
    EXPECT_THAT(shown, ElementsAre("FIRST"));
    EXPECT_TRUE(std::filesystem::exists(config + "/kelo.INI"));
    EXPECT_NE(ReadFileText(config + "/kelo.INI").find("[Port]"), std::string::npos);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
}

TEST(FileDialogs, TranslateTheFiltersForQt) {
    struct Case {
        std::string filter;
        QStringList names;
    };
    const Case cases[] = {
        {kelo::kReportFilter, {"Kelo Report File(*.kel)"}},
        {kelo::kFirmwareFilter, {"Firmware Files (*.rfw)", "All Files (*)"}},
        {kelo::kSaveFilter, {"Kelo Report File(*.kel)", "Text File (*.txt)", "All Files (*)"}},
        {"Logs|*.log;*.txt|", {"Logs (*.log *.txt)"}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelo::app::NameFilters(c.filter), c.names) << c.filter;

    EXPECT_EQ(kelo::app::DefaultSuffix(".kel|.txt", 0), "kel");
    EXPECT_EQ(kelo::app::DefaultSuffix(".kel|.txt", 1), "txt");
    EXPECT_EQ(kelo::app::DefaultSuffix(".kel|.txt", 2), "kel");  // "All Files" keeps the first
    EXPECT_EQ(kelo::app::DefaultSuffix(".kel", 0), "kel");
    EXPECT_EQ(kelo::app::DefaultSuffix("", 0), "");
}

// The dialogs Qt shows, as the operations set them up.
TEST_F(KeloDlgTest, TheSystemsFileDialogsAreSetUpAsEachOperationAsks) {
    struct Seen {
        QFileDialog::AcceptMode mode;
        QFileDialog::FileMode fileMode;
        QStringList filters;
        QString suffix;
        bool confirmOverwrite;
        QString suffixForText;
    };
    std::optional<Seen> seen;
    ModalWatcher<QFileDialog> watcher([&](QFileDialog& d) {
        seen = Seen{d.acceptMode(),
                    d.fileMode(),
                    d.nameFilters(),
                    d.defaultSuffix(),
                    !d.testOption(QFileDialog::DontConfirmOverwrite),
                    ""};
        if (d.nameFilters().size() > 1) {
            d.selectNameFilter(d.nameFilters()[1]);
            emit d.filterSelected(d.nameFilters()[1]);
            seen->suffixForText = d.defaultSuffix();
        }
    });

    Child<QPushButton>(dialog_, "openReport")->click();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->mode, QFileDialog::AcceptOpen);
    EXPECT_EQ(seen->fileMode, QFileDialog::ExistingFile);
    EXPECT_EQ(seen->filters, QStringList{"Kelo Report File(*.kel)"});
    EXPECT_EQ(seen->suffix, "kel");

    seen.reset();
    dialog_.MutableOperations().getParameters = [](int) { return ParametersOf(true, {7}); };
    Child<QPushButton>(dialog_, "getParameters")->click();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(seen->confirmOverwrite);

    seen.reset();
    kelo::app::ReportDialog viewer;
    Child<QPushButton>(viewer, "save")->click();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->mode, QFileDialog::AcceptSave);
    EXPECT_FALSE(seen->confirmOverwrite);
    EXPECT_EQ(seen->suffix, "kel");
    EXPECT_EQ(seen->suffixForText, "txt");

    EXPECT_EQ(watcher.Count(), 3);
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(Observe(dialog_), kIdle);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
