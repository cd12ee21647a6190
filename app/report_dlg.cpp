#include "app/report_dlg.h"

#include <sys/wait.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/dialog_parts.h"
#include "app/file_dialogs.h"
#include "app/find_dlg.h"
#include "files/report_file.h"
#include "files/report_page.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/system.h"

namespace kelo::app {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

std::vector<std::string>& PagesLeftForExit() {
    static std::vector<std::string> pages;
    return pages;
}

// Keeps the buttons usable again whichever way Open Browser ends.
class ButtonsBack {
  public:
    explicit ButtonsBack(ReportDialog& viewer) : viewer_(viewer) {}
    ~ButtonsBack() { viewer_.EnableButtons(true); }
    ButtonsBack(const ButtonsBack&) = delete;
    ButtonsBack& operator=(const ButtonsBack&) = delete;

  private:
    ReportDialog& viewer_;
};

}  // namespace

ReportDisplay::ReportDisplay(const std::string& text, const platform::CodePage* codePage)
    : positionOfByte_(text.size() + 1, 0) {
    display_.reserve(static_cast<qsizetype>(text.size()));
    byteOfPosition_.reserve(text.size() + 1);
    const std::vector<platform::DecodedCharacter> characters = ReportCharacters(text, codePage);
    for (size_t i = 0; i < characters.size(); ++i) {
        const size_t offset = characters[i].offset;
        size_t length = characters[i].length;
        const std::u32string& codePoints = characters[i].codePoints;
        QString shown;
        if (codePoints == U"\r" || codePoints == U"\n") {
            // The control turns every line break into one block separator; CR LF is one break.
            if (codePoints == U"\r" && i + 1 < characters.size() &&
                characters[i + 1].codePoints == U"\n") {
                length += characters[++i].length;
            }
            shown = QChar(u'\n');
        } else if (codePoints == std::u32string(1, U'\0')) {
            shown = QChar(kReplacement);
        } else {
            shown = QString::fromUcs4(codePoints.data(), static_cast<qsizetype>(codePoints.size()));
        }
        const int position = static_cast<int>(display_.size());
        for (size_t b = 0; b < length; ++b)
            positionOfByte_[offset + b] = position;
        for (qsizetype p = 0; p < shown.size(); ++p)
            byteOfPosition_.push_back(offset);
        display_ += shown;
    }
    positionOfByte_[text.size()] = static_cast<int>(display_.size());
    byteOfPosition_.push_back(text.size());
}

int ReportDisplay::PositionOf(size_t offset) const {
    return positionOfByte_[std::min(offset, positionOfByte_.size() - 1)];
}

size_t ReportDisplay::OffsetOf(int position) const {
    if (position < 0)
        return 0;
    return byteOfPosition_[std::min(static_cast<size_t>(position), byteOfPosition_.size() - 1)];
}

// The four buttons in a row at the top left, the report below them. Not resizable.
ReportDialog::ReportDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(tr("Report Dialog"));
    CreateControls();
}

ReportDialog::~ReportDialog() = default;

void ReportDialog::CreateControls() {
    auto* buttons = new QHBoxLayout;
    auto button = [&](const QString& caption, const char* name) {
        auto* b = Named(new QPushButton(caption, this), name);
        b->setAutoDefault(true);  // a focused button takes Enter; elsewhere Close does
        buttons->addWidget(b);
        return b;
    };
    save_ = button(tr("Save"), "save");
    openBrowser_ = button(tr("Open Browser"), "openBrowser");
    find_ = button(tr("Find"), "find");
    close_ = button(tr("Close"), "close");
    close_->setDefault(true);
    buttons->addStretch();

    // A report lines its figures up in columns, so it is shown in a fixed-pitch face; room for
    // a hundred columns and forty lines.
    textControl_ = Named(new QPlainTextEdit(this), "text");
    textControl_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(textControl_->font());
    textControl_->setFixedSize(metrics.horizontalAdvance(QString(100, 'M')),
                               metrics.lineSpacing() * 40);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(textControl_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    textControl_->setReadOnly(true);
    textControl_->setLineWrapMode(QPlainTextEdit::NoWrap);
    textControl_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // A match stays highlighted while a find box has the focus.
    QPalette palette = textControl_->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    textControl_->setPalette(palette);

    connect(save_, &QPushButton::clicked, this, &ReportDialog::OnSave);
    connect(openBrowser_, &QPushButton::clicked, this, &ReportDialog::OnOpenBrowser);
    connect(find_, &QPushButton::clicked, this, &ReportDialog::OnFind);
    connect(close_, &QPushButton::clicked, this, &ReportDialog::accept);
}

void ReportDialog::SetReportText(const std::string& text) {
    text_ = text;
    display_ = ReportDisplay(text_, codePage_ ? &*codePage_ : nullptr);
    textControl_->setPlainText(display_.Text());
    SetSelection(0, 0);
}

void ReportDialog::SetCodePage(std::optional<platform::CodePage> codePage) {
    codePage_ = std::move(codePage);
    SetReportText(text_);
}

void ReportDialog::EnableButtons(bool on) {
    for (QPushButton* b : {save_, openBrowser_, find_, close_})
        b->setEnabled(on);
}

TextRange ReportDialog::Selection() const {
    const QTextCursor cursor = textControl_->textCursor();
    return {display_.OffsetOf(cursor.selectionStart()), display_.OffsetOf(cursor.selectionEnd())};
}

void ReportDialog::SetSelection(size_t start, size_t end) {
    QTextCursor cursor = textControl_->textCursor();
    cursor.setPosition(display_.PositionOf(start));
    cursor.setPosition(display_.PositionOf(end), QTextCursor::KeepAnchor);
    textControl_->setTextCursor(cursor);
    textControl_->ensureCursorVisible();
}

void ReportDialog::OnSave() {
    std::string path;
    if (!ChooseFile(this, SaveReportDialog(), path))
        return;
    kelo::SaveReportText(path, text_);
}

void ReportDialog::OnOpenBrowser() {
    ButtonsBack buttonsBack(*this);

    // 1. The page in the user's own temporary folder, the report trimmed and escaped.
    const std::string folder = platform::UserTempFolder();
    if (folder.empty()) {
        platform::ShowMessage(platform::MessageId::kFailedTempPath);
        return;
    }
    const std::string page = folder + kPageName;
    if (!kelo::WriteReportPage(page, text_))
        return;

    // 2. The desktop's launcher, found on PATH, opens the page in the user's browser.
    platform::ChildProcess launcher;
    if (!launcher.Start({kLauncher, page})) {
        platform::ShowMessage(platform::MessageId::kFailedCreateProcess);
        return;
    }

    // 3. Wait for the launcher to end, pausing between checks without handling events.
    EnableButtons(false);
    launcher.WaitPolling(kBrowserPollMilliseconds);

    // 4. A launcher that ends in failure found no browser it could start, and the page stays
    // as it does when the launcher itself cannot start.
    const int status = launcher.RawStatus();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        platform::ShowMessage(platform::MessageId::kFailedCreateProcess);
        return;
    }

    // 5. The launcher may have handed the page to a browser that reads it later, so the page
    // stays until the program ends.
    std::vector<std::string>& pages = PagesLeftForExit();
    if (std::find(pages.begin(), pages.end(), page) == pages.end())
        pages.push_back(page);
}

bool ReportDialog::RemovePagesLeftForExit() {
    bool removed = true;
    for (const std::string& page : PagesLeftForExit()) {
        // A page the browser or the system removed already is no failure.
        if (std::remove(page.c_str()) != 0 && errno != ENOENT)
            removed = false;
    }
    PagesLeftForExit().clear();
    return removed;
}

FindDialog* ReportDialog::OnFind() {
    // A new find box searches from the top of the report.
    SetSelection(0, 0);
    auto* box = new FindDialog(this);
    connect(box, &FindDialog::FindNextRequested, this, &ReportDialog::OnFindNext);
    box->show();
    return box;
}

void ReportDialog::OnFindNext(FindDialog* box) {
    const SearchDirection direction =
        box->SearchesDown() ? SearchDirection::kDown : SearchDirection::kUp;
    const std::optional<TextRange> match = FindInReport(
        text_, Selection().start, box->Needle(), direction, codePage_ ? &*codePage_ : nullptr);
    if (!match) {
        platform::ShowMessage(platform::MessageId::kFailedFind);
        return;
    }
    SetSelection(match->start, match->end);
}

}  // namespace kelo::app
