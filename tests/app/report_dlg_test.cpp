// The report viewer: byte offsets against what the control shows, the find boxes, Save, and
// Open Browser with a stand-in launcher.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/file_dialogs.h"
#include "app/find_dlg.h"
#include "app/report_dlg.h"
#include "files/file_filters.h"
#include "files/report_file.h"
#include "platform/clock.h"
#include "platform/message_recorder.h"
#include "platform/system.h"
#include "tests/app/named_child.h"
#include "tests/app/scripted_file_dialogs.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using app_testing::ScriptedFileDialogs;
using kelo::app::ReportDialog;
using kelo::app::TextRange;
using ::testing::ElementsAre;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFile;

void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
}

// What the control shows as selected, line breaks as "\n".
std::string SelectedText(const ReportDialog& viewer) {
    QString text = Child<QPlainTextEdit>(viewer, "text")->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QChar(u'\n'));
    return text.toStdString();
}

struct MappingCase {
    size_t start;
    size_t end;
    std::string shown;
    TextRange readBack;
};

TEST(ReportViewer, SelectsByteRangesOfTheStoredText) {
    // A CR LF, a CR, an LF, characters of 2, 3 and 4 bytes, a stray byte and a NUL.
    const std::string text(
        "A\r\nB\rC\nD\xC3\xA9"
        "E\xE3\x81\x82"
        "F\xF0\x9F\x98\x80"
        "G\x83H",
        22);
    const std::string tail("\0I", 2);
    ReportDialog viewer;
    viewer.SetReportText(text + tail);
    const QTextDocument* document = Child<QPlainTextEdit>(viewer, "text")->document();
    EXPECT_EQ(document->characterCount() - 1, 18);  // 24 bytes, 18 positions

    const MappingCase cases[] = {
        {0,
         24,
         "A\nB\nC\nD\xC3\xA9"
         "E\xE3\x81\x82"
         "F\xF0\x9F\x98\x80"
         "G\xEF\xBF\xBDH"
         "\xEF\xBF\xBDI",
         {0, 24}},
        {3, 8, "B\nC\nD", {3, 8}},
        {1, 3, "\n", {1, 3}},
        {8, 10, "\xC3\xA9", {8, 10}},
        {11, 14, "\xE3\x81\x82", {11, 14}},
        {15, 19, "\xF0\x9F\x98\x80", {15, 19}},
        {20, 21, "\xEF\xBF\xBD", {20, 21}},
        {9, 10, "\xC3\xA9", {8, 10}},  // inside a character: its start counts
        {12,
         16,
         "\xE3\x81\x82"
         "F",
         {11, 15}},
        {2, 2, "", {1, 1}},
    };
    for (const MappingCase& c : cases) {
        viewer.SetSelection(c.start, c.end);
        EXPECT_EQ(SelectedText(viewer), c.shown) << c.start << ".." << c.end;
        EXPECT_EQ(viewer.Selection(), c.readBack) << c.start << ".." << c.end;
    }

    // A caret put between the two halves of a 4-byte character reads as the character's start.
    QTextCursor cursor = Child<QPlainTextEdit>(viewer, "text")->textCursor();
    cursor.setPosition(12);
    Child<QPlainTextEdit>(viewer, "text")->setTextCursor(cursor);
    EXPECT_EQ(viewer.Selection(), (TextRange{15, 15}));
}

class FindBoxTest : public ::testing::Test {
  protected:
    FindBoxTest() {
        viewer_.SetReportText("abc xx abc yy ABC");  // "abc" at 0, 7 and 14
        viewer_.show();
    }

    kelo::app::FindDialog* OpenBox(const QString& needle, bool down) {
        kelo::app::FindDialog* box = viewer_.OnFind();
        Child<QLineEdit>(*box, "findWhat")->setText(needle);
        Child<QRadioButton>(*box, down ? "down" : "up")->setChecked(true);
        return box;
    }

    // Presses Find Next and returns the selection, or nullopt after "Failed to find".
    std::optional<TextRange> Next(kelo::app::FindDialog* box) {
        messages_.Clear();
        Child<QPushButton>(*box, "findNext")->click();
        if (!messages_.Messages().empty()) {
            EXPECT_THAT(messages_.Texts(), ElementsAre("Failed to find"));
            return std::nullopt;
        }
        return viewer_.Selection();
    }

    kelo::platform::MessageRecorder messages_;
    ReportDialog viewer_;
};

TEST_F(FindBoxTest, ABoxStartsEmptyWithDownChosen) {
    kelo::app::FindDialog* box = viewer_.OnFind();
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->parentWidget(), &viewer_);
    EXPECT_TRUE(Child<QLineEdit>(*box, "findWhat")->text().isEmpty());
    EXPECT_TRUE(Child<QRadioButton>(*box, "down")->isChecked());
    EXPECT_FALSE(Child<QPushButton>(*box, "findNext")->isEnabled());
    Child<QLineEdit>(*box, "findWhat")->setText("a");
    EXPECT_TRUE(Child<QPushButton>(*box, "findNext")->isEnabled());
}

TEST_F(FindBoxTest, DownWalksTheMatchesAfterTheCaretAndStopsAtTheEnd) {
    kelo::app::FindDialog* box = OpenBox("abc", true);
    // The match at the very start is passed over: the search begins after the caret.
    EXPECT_EQ(Next(box), (TextRange{7, 10}));
    EXPECT_EQ(Next(box), (TextRange{14, 17}));
    EXPECT_EQ(SelectedText(viewer_), "ABC");
    EXPECT_EQ(Next(box), std::nullopt);
    EXPECT_EQ(viewer_.Selection(), (TextRange{14, 17}));  // the last match stays selected
    EXPECT_EQ(Next(box), std::nullopt);                   // and nothing wraps around
}

TEST_F(FindBoxTest, UpWalksBackToTheBeginning) {
    kelo::app::FindDialog* box = OpenBox("ABC", false);
    viewer_.SetSelection(17, 17);
    EXPECT_EQ(Next(box), (TextRange{14, 17}));
    EXPECT_EQ(Next(box), (TextRange{7, 10}));
    EXPECT_EQ(Next(box), (TextRange{0, 3}));
    EXPECT_EQ(Next(box), std::nullopt);
    EXPECT_EQ(viewer_.Selection(), (TextRange{0, 3}));
}

TEST_F(FindBoxTest, TwoBoxesSearchEachWithItsOwnTextAndDirection) {
    kelo::app::FindDialog* first = OpenBox("ABC", true);
    kelo::app::FindDialog* second = OpenBox("xx", false);
    EXPECT_EQ(Next(first), (TextRange{7, 10}));
    EXPECT_EQ(Next(second), (TextRange{4, 6}));
    EXPECT_EQ(Next(first), (TextRange{7, 10}));
    EXPECT_EQ(Next(first), (TextRange{14, 17}));
    EXPECT_EQ(Next(second), (TextRange{4, 6}));

    QPointer<kelo::app::FindDialog> closed(first);
    Child<QPushButton>(*first, "cancel")->click();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(Next(second), std::nullopt);  // nothing ends before "xx" at 4
    viewer_.SetSelection(17, 17);
    EXPECT_EQ(Next(second), (TextRange{4, 6}));
}

TEST_F(FindBoxTest, FindBoxesCloseWithTheViewer) {
    QPointer<kelo::app::FindDialog> box(viewer_.OnFind());
    QPointer<kelo::app::FindDialog> own;
    {
        ReportDialog other;
        own = other.OnFind();
        ASSERT_FALSE(own.isNull());
    }
    EXPECT_TRUE(own.isNull());
    EXPECT_FALSE(box.isNull());
}

TEST(ReportViewerSave, SavesTheStoredBytesAsReportOrTextFile) {
    TempDir folder;
    kelo::platform::MessageRecorder messages;
    const std::string text("REPORT \xE3\x81\x82\r\n\x83\x41", 14);
    ReportDialog viewer;
    viewer.SetReportText(text);
    ScriptedFileDialogs dialogs;
    dialogs.answers = {folder / "saved.kel", folder / "saved.txt", std::nullopt};
    for (int i = 0; i < 3; ++i)
        Child<QPushButton>(viewer, "save")->click();

    std::string reread;
    ASSERT_TRUE(kelo::OpenReportFile(folder / "saved.kel", reread));
    EXPECT_EQ(reread, text);
    EXPECT_EQ(ReadFileText(folder / "saved.txt"), text);
    EXPECT_TRUE(messages.Messages().empty());
    ASSERT_EQ(dialogs.asked.size(), 3u);
    const kelo::app::FileDialogRequest& request = dialogs.asked[0];
    EXPECT_EQ(request.kind, kelo::app::FileDialogRequest::Kind::kSave);
    EXPECT_EQ(request.filter, kelo::kSaveFilter);
    EXPECT_EQ(request.defaultExtension, ".kel|.txt");
    EXPECT_FALSE(request.askBeforeReplace);
    EXPECT_EQ(dialogs.owners[0], &viewer);
}

TEST(ReportViewerCodePage, ShowsAndSearchesTheTextAndSavesTheMachinesBytes) {
    TempDir folder;
    kelo::platform::MessageRecorder messages;
    // 25 degrees C, then katakana whose second bytes are 0x5C ("\\"), 't', 'g' and 'a'.
    const std::string text("25\x81\x8B\x43\r\n\x83\x5C\x83\x74\x83\x67\x83\x61 ok");
    ReportDialog viewer;
    viewer.SetCodePage(kelo::platform::CodePage::Named("CP932"));
    viewer.SetReportText(text);
    viewer.show();
    EXPECT_EQ(Child<QPlainTextEdit>(viewer, "text")->toPlainText(),
              QString::fromUtf8("25\u00B0C\n\u30BD\u30D5\u30C8\u30C2 ok"));
    struct Case {
        const char* typed;
        std::optional<TextRange> found;
        const char* selected = "";
    };
    const Case cases[] = {
        {"\u30C8\u30C2 OK", TextRange{11, 18}, "\u30C8\u30C2 ok"},
        {"\u00B0c", TextRange{2, 5}, "\u00B0C"},
        {"\\", std::nullopt},      // only ever the second byte of a katakana
        {"\u30A2", std::nullopt},  // 0x83 0x41: its second byte is no letter to fold
        {"\u00E9", std::nullopt},  // no form in CP932
    };
    for (const Case& c : cases) {
        kelo::app::FindDialog* box = viewer.OnFind();
        Child<QLineEdit>(*box, "findWhat")->setText(QString::fromUtf8(c.typed));
        messages.Clear();
        Child<QPushButton>(*box, "findNext")->click();
        const bool found = messages.Messages().empty();
        EXPECT_EQ(found ? std::optional(viewer.Selection()) : std::nullopt, c.found) << c.typed;
        EXPECT_EQ(found ? SelectedText(viewer) : "", c.selected) << c.typed;
    }
    ScriptedFileDialogs dialogs;
    dialogs.answers = {folder / "saved.kel", folder / "saved.txt"};
    Child<QPushButton>(viewer, "save")->click();
    Child<QPushButton>(viewer, "save")->click();
    std::string reread;
    EXPECT_TRUE(kelo::OpenReportFile(folder / "saved.kel", reread) && reread == text);
    EXPECT_EQ(ReadFileText(folder / "saved.txt"), text);
}

// Open Browser against a stand-in launcher: an xdg-open first on PATH that writes down its
// arguments and the page it was given. The temporary folder lives in a scratch folder.
class OpenBrowserTest : public ::testing::Test {
  protected:
    OpenBrowserTest() {
        std::filesystem::create_directories(temp_);
        std::filesystem::create_directories(bin_);
        setenv("TMPDIR", temp_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");  // the page goes to the temporary folder
        setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
        WriteLauncher("printf '%s\\n' \"$@\" > '" + seen_ + ".args'\ncat \"$1\" > '" + seen_ +
                      ".page'\n");
        // Each pause records the moment and waits until the launcher has ended.
        clock_.onSleep = [this](int) {
            pageDuringWait_ = std::filesystem::exists(page_);
            buttonsDuringWait_ = AnyButtonEnabled();
            siginfo_t info{};
            waitid(P_ALL, 0, &info, WEXITED | WNOWAIT);
        };
        viewer_.SetReportText(" \t\r\n<b>Total</b> & more\r\n \n");
        viewer_.show();
    }
    ~OpenBrowserTest() override {
        setenv("PATH", path_.c_str(), 1);
        unsetenv("TMPDIR");
        ReportDialog::RemovePagesLeftForExit();
    }

    void WriteLauncher(const std::string& body) { WriteScript(bin_ + "/xdg-open", body); }

    bool AnyButtonEnabled() const {
        return Child<QPushButton>(viewer_, "save")->isEnabled() ||
               Child<QPushButton>(viewer_, "openBrowser")->isEnabled() ||
               Child<QPushButton>(viewer_, "find")->isEnabled() ||
               Child<QPushButton>(viewer_, "close")->isEnabled();
    }
    bool AllButtonsEnabled() const {
        return Child<QPushButton>(viewer_, "save")->isEnabled() &&
               Child<QPushButton>(viewer_, "openBrowser")->isEnabled() &&
               Child<QPushButton>(viewer_, "find")->isEnabled() &&
               Child<QPushButton>(viewer_, "close")->isEnabled();
    }

    const std::string kPage =
        "<HTML><BODY><PRE>&lt;b&gt;Total&lt;/b&gt; &amp; more</PRE></BODY></HTML>";
    const std::string path_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin";
    TempDir folder_;
    const std::string temp_ = folder_ / "tmp";
    const std::string page_ = temp_ + "/Kelo.html";
    const std::string bin_ = folder_ / "bin";
    const std::string seen_ = folder_ / "seen";
    kelo::platform::MessageRecorder messages_;
    kelo::platform::FakeClock clock_;
    ReportDialog viewer_;
    bool pageDuringWait_ = false;
    bool buttonsDuringWait_ = true;
};

TEST_F(OpenBrowserTest, TheLauncherGetsTheEscapedPageWhichStaysUntilTheProgramEnds) {
    Child<QPushButton>(viewer_, "openBrowser")->click();
    EXPECT_EQ(ReadFileText(seen_ + ".args"), page_ + "\n");
    EXPECT_EQ(ReadFileText(seen_ + ".page"), kPage);
    EXPECT_EQ(clock_.Waits(), std::vector<int>{500});
    EXPECT_TRUE(pageDuringWait_);
    EXPECT_FALSE(buttonsDuringWait_);
    EXPECT_TRUE(AllButtonsEnabled());
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_TRUE(std::filesystem::exists(page_));  // the browser may still be reading it
    EXPECT_TRUE(ReportDialog::RemovePagesLeftForExit());
    EXPECT_FALSE(std::filesystem::exists(page_));
}

// A launcher missing from PATH, or one that ends in failure because it found no browser: the
// message, the page left where it is, the buttons usable again.
TEST_F(OpenBrowserTest, ALauncherThatStartsNoBrowserLeavesThePageAndTheButtons) {
    struct Case {
        const char* label;
        bool installed;
        std::vector<int> waits;
    };
    const Case cases[] = {{"not installed", false, {}}, {"no browser found", true, {500}}};
    for (const Case& c : cases) {
        clock_.Clear();
        messages_.Clear();
        std::filesystem::remove(bin_ + "/xdg-open");
        if (c.installed)
            WriteLauncher("exit 3\n");
        else
            setenv("PATH", bin_.c_str(), 1);  // and no other xdg-open
        Child<QPushButton>(viewer_, "openBrowser")->click();
        setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
        EXPECT_THAT(messages_.Texts(), ElementsAre("Failed to Create Process")) << c.label;
        EXPECT_EQ(ReadFileText(page_), kPage) << c.label;
        EXPECT_EQ(clock_.Waits(), c.waits) << c.label;
        EXPECT_TRUE(AllButtonsEnabled()) << c.label;
    }
}

TEST_F(OpenBrowserTest, APageThatCannotBeRemovedAtTheEndIsReported) {
    // This launcher leaves a folder in the page's place, which a file removal cannot take away.
    WriteLauncher("rm \"$1\"; mkdir \"$1\"; touch \"$1/x\"\n");
    Child<QPushButton>(viewer_, "openBrowser")->click();
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_FALSE(ReportDialog::RemovePagesLeftForExit());
}

// The user's runtime folder, when there is one, holds the page rather than the temporary folder.
TEST_F(OpenBrowserTest, APageThatCannotBeWrittenStartsNoBrowser) {
    setenv("XDG_RUNTIME_DIR", (folder_ / "missing").c_str(), 1);
    Child<QPushButton>(viewer_, "openBrowser")->click();
    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_THAT(messages_.Texts()[0], ::testing::HasSubstr(folder_ / "missing/Kelo.html"));
    EXPECT_FALSE(std::filesystem::exists(seen_ + ".args"));
    EXPECT_TRUE(clock_.Waits().empty());
    EXPECT_TRUE(AllButtonsEnabled());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
