// ReportDialog: the modal "Report Dialog" that shows one service report as
// read-only text, and from which it is saved, shown in the web browser and searched.
//
// The report stays the byte string it arrived as: the text control only displays it, decoded
// as UTF-8 (the locale's encoding) or from the code page chosen for reports, and selections
// and searches are byte offsets of the stored text. Nothing is ever read back from the control.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "app/report_search.h"
#include "platform/code_page.h"

class QPlainTextEdit;
class QPushButton;

namespace kelo::app {

class FindDialog;

// The displayed form of a report and the way between its byte offsets and the positions of
// the text control. Each character of the report is one character of the display (two
// positions for one beyond the 16-bit range); a byte that starts no character shows as U+FFFD,
// a NUL too; CR LF, CR and LF each end a line and show as one line break.
class ReportDisplay {
  public:
    // The text as UTF-8, or in the code page when one is given.
    explicit ReportDisplay(const std::string& text = "",
                           const platform::CodePage* codePage = nullptr);

    const QString& Text() const { return display_; }
    // The control position of a byte offset; an offset inside a character counts as its start.
    int PositionOf(size_t offset) const;
    // The byte offset of a control position; a position inside a character counts as its start.
    size_t OffsetOf(int position) const;

  private:
    QString display_;
    std::vector<int> positionOfByte_;
    std::vector<size_t> byteOfPosition_;
};

class ReportDialog : public QDialog {
    Q_OBJECT

  public:
    // Both callers pass no owner, so the viewer is a window of its own.
    explicit ReportDialog(QWidget* owner = nullptr);
    ~ReportDialog() override;

    // Replaces the stored text and shows it; the caret goes to the start.
    void SetReportText(const std::string& text);
    // The code page the report is shown and searched in; nullopt: the locale's (UTF-8).
    // The stored text keeps its bytes either way.
    void SetCodePage(std::optional<platform::CodePage> codePage);
    const std::string& ReportText() const { return text_; }

    // Enables or disables Save, Open Browser, Find and Close together.
    void EnableButtons(bool on);

    // The selection as byte offsets of the stored text.
    TextRange Selection() const;
    void SetSelection(size_t start, size_t end);

    // The pages of Open Browser: the desktop's launcher hands a page on and may return before
    // the browser has read it, so the pages are removed when the program ends. Removes the pages
    // left so far; false when one of them is still there.
    static bool RemovePagesLeftForExit();

    // The desktop's launcher of the user's preferred browser, from xdg-utils.
    static constexpr const char* kLauncher = "xdg-open";
    static constexpr const char* kPageName = "Kelo.html";
    static constexpr int kBrowserPollMilliseconds = 500;

  public slots:
    void OnSave();
    void OnOpenBrowser();
    // Opens another find box and returns it.
    FindDialog* OnFind();
    // A find box asked for the next match.
    void OnFindNext(FindDialog* box);

  private:
    void CreateControls();

    std::string text_;
    std::optional<platform::CodePage> codePage_;
    ReportDisplay display_;
    QPlainTextEdit* textControl_ = nullptr;  // 1003
    QPushButton* save_ = nullptr;            // 1001
    QPushButton* openBrowser_ = nullptr;     // 1028
    QPushButton* find_ = nullptr;            // 1036
    QPushButton* close_ = nullptr;           // 1
};

}  // namespace kelo::app
