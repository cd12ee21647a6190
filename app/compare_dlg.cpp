#include "app/compare_dlg.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "app/dialog_parts.h"
#include "records/compare.h"

namespace kelo::app {
namespace {

// The first line numbers of a hunk header "@@ -a[,b] +c[,d] @@", counted from 1. An empty
// range names the line before it, so its first line is one further on.
void ReadHunkHeader(const std::string& header, int& before, int& after) {
    const char* text = header.c_str() + 3;  // past "@@ "
    char* end = nullptr;
    before = static_cast<int>(std::strtol(text + 1, &end, 10));
    if (*end == ',' && std::strtol(end + 1, &end, 10) == 0)
        ++before;
    const char* plus = std::strchr(end, '+');
    after = plus == nullptr ? 0 : static_cast<int>(std::strtol(plus + 1, &end, 10));
    if (plus != nullptr && *end == ',' && std::strtol(end + 1, &end, 10) == 0)
        ++after;
}

// The report's lines for display: split at line feeds, a carriage return before one dropped,
// each line decoded on its own so that line numbers stay those of the diff.
QStringList DisplayLines(const std::string& text, const platform::CodePage* codePage) {
    QStringList lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string utf8 = codePage != nullptr ? codePage->ToUtf8(line) : line;
        lines << QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    return lines;
}

// One side's rows: its lines where it has them, an empty row for each filler.
QStringList SideRows(const QStringList& lines, const std::vector<std::optional<int>>& rows) {
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(rows.size()));
    for (const std::optional<int>& line : rows)
        shown << (line ? lines.value(*line) : QString());
    return shown;
}

// Gives both sides' first rows trailing spaces up to the widest row of either side. A plain
// text view measures only the rows it has laid out, so without them a side would scroll
// sideways less far than the other (or not at all) and leave its columns behind.
void MatchWidths(QStringList& one, QStringList& other, const QFontMetrics& metrics) {
    int widest = 0;
    for (const QStringList* rows : {&one, &other}) {
        for (const QString& row : *rows)
            widest = std::max(widest, metrics.horizontalAdvance(row));
    }
    const int space = std::max(1, metrics.horizontalAdvance(' '));
    for (QStringList* rows : {&one, &other}) {
        if (rows->isEmpty())
            continue;
        const int missing = widest - metrics.horizontalAdvance(rows->front());
        if (missing > 0)
            rows->front() += QString((missing + space - 1) / space, ' ');
    }
}

// Marks the changed lines in colour and the fillers with grey hatching.
void MarkRows(QPlainTextEdit* view, const std::vector<std::optional<int>>& rows,
              const std::vector<int>& changed, const QColor& colour) {
    QList<QTextEdit::ExtraSelection> marks;
    size_t next = 0;  // changed is in line order, as the rows are
    for (size_t row = 0; row < rows.size(); ++row) {
        QTextEdit::ExtraSelection mark;
        if (!rows[row]) {
            mark.format.setBackground(QBrush(QColor(170, 170, 170), Qt::BDiagPattern));
        } else if (next < changed.size() && changed[next] == *rows[row]) {
            ++next;
            mark.format.setBackground(colour);
        } else {
            continue;
        }
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        mark.cursor = QTextCursor(view->document()->findBlockByNumber(static_cast<int>(row)));
        marks << mark;
    }
    view->setExtraSelections(marks);
}

QPlainTextEdit* MakeView(const QString& text, const QFont& font, QWidget* owner) {
    auto* view = new QPlainTextEdit(text, owner);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(font);
    return view;
}

// A label that never widens its window: a text too long for it is cut in the middle (the time
// at its end stays) and shown whole as its tooltip.
class ElidedLabel : public QLabel {
  public:
    ElidedLabel(const QString& text, QWidget* owner) : QLabel(owner), full_(text) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setText(text);
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, width());
        setText(shown);
        setToolTip(shown == full_ ? QString() : full_);
    }

  private:
    QString full_;
};

// Keeps two scroll bars at one value.
void Tie(QScrollBar* one, QScrollBar* other) {
    QObject::connect(one, &QScrollBar::valueChanged, other, &QScrollBar::setValue);
    QObject::connect(other, &QScrollBar::valueChanged, one, &QScrollBar::setValue);
}

}  // namespace

ChangedLines FindChangedLines(const std::string& before, const std::string& after) {
    ChangedLines changes;
    std::istringstream diff(kelo::records::UnifiedDiff(before, after, "a", "b"));
    std::string line;
    bool inHunk = false;
    int beforeLine = 0;
    int afterLine = 0;
    while (std::getline(diff, line)) {
        if (line.rfind("@@ ", 0) == 0) {
            ReadHunkHeader(line, beforeLine, afterLine);
            inHunk = true;
        } else if (!inHunk || line.empty()) {
            continue;  // the label lines
        } else if (line[0] == ' ') {
            ++beforeLine;
            ++afterLine;
        } else if (line[0] == '-') {
            changes.before.push_back(beforeLine++ - 1);
        } else if (line[0] == '+') {
            changes.after.push_back(afterLine++ - 1);
        }
    }
    return changes;
}

// The lines the edit keeps pair up in order; between two kept lines, the removed lines face
// the added ones and the longer side's rest faces fillers.
AlignedRows AlignLines(int beforeLines, int afterLines, const ChangedLines& changes) {
    AlignedRows rows;
    const std::set<int> removed(changes.before.begin(), changes.before.end());
    const std::set<int> added(changes.after.begin(), changes.after.end());
    int left = 0;
    int right = 0;
    bool inChange = false;
    while (left < beforeLines || right < afterLines) {
        const bool leftGoes = left < beforeLines && (removed.count(left) || right >= afterLines);
        const bool rightComes = right < afterLines && (added.count(right) || left >= beforeLines);
        std::optional<int> shownLeft;
        std::optional<int> shownRight;
        if (leftGoes || rightComes) {
            if (leftGoes)
                shownLeft = left++;
            if (rightComes)
                shownRight = right++;
            if (!inChange)
                rows.changeStarts.push_back(static_cast<int>(rows.before.size()));
            inChange = true;
        } else {
            shownLeft = left++;
            shownRight = right++;
            inChange = false;
        }
        rows.before.push_back(shownLeft);
        rows.after.push_back(shownRight);
    }
    return rows;
}

std::string HexLines(const std::vector<uint8_t>& bytes) {
    std::string text;
    char part[24];
    for (size_t at = 0; at < bytes.size(); ++at) {
        if (at % 16 == 0) {
            std::snprintf(part, sizeof part, "%s%06zx ", at == 0 ? "" : "\n", at);
            text += part;
        }
        std::snprintf(part, sizeof part, " %02x", bytes[at]);
        text += part;
    }
    return bytes.empty() ? text : text + "\n";
}

CompareDialog::CompareDialog(const std::string& before, const std::string& after,
                             const std::string& beforeLabel, const std::string& afterLabel,
                             const platform::CodePage* codePage, QWidget* owner)
    : QDialog(owner), changes_(FindChangedLines(before, after)) {
    setWindowTitle(tr("Compare Reports"));
    const QStringList beforeLines = DisplayLines(before, codePage);
    const QStringList afterLines = DisplayLines(after, codePage);
    rows_ = AlignLines(static_cast<int>(beforeLines.size()), static_cast<int>(afterLines.size()),
                       changes_);
    QStringList beforeRows = SideRows(beforeLines, rows_.before);
    QStringList afterRows = SideRows(afterLines, rows_.after);
    const QFont font("Monospace");
    MatchWidths(beforeRows, afterRows, QFontMetrics(font));
    before_ = Named(MakeView(beforeRows.join('\n'), font, this), "before");
    after_ = Named(MakeView(afterRows.join('\n'), font, this), "after");
    MarkRows(before_, rows_.before, changes_.before, QColor(255, 215, 215));
    MarkRows(after_, rows_.after, changes_.after, QColor(210, 245, 210));
    // The two sides scroll together whichever way they are moved (wheel, keys, scroll bars), so
    // that a changed line stays beside its context.
    Tie(before_->verticalScrollBar(), after_->verticalScrollBar());
    Tie(before_->horizontalScrollBar(), after_->horizontalScrollBar());

    auto* beforeTitle =
        Named(new ElidedLabel(QString::fromStdString(beforeLabel), this), "beforeLabel");
    auto* afterTitle =
        Named(new ElidedLabel(QString::fromStdString(afterLabel), this), "afterLabel");
    previous_ = Named(new QPushButton(tr("&Previous change"), this), "previous");
    next_ = Named(new QPushButton(tr("&Next change"), this), "next");
    previous_->setToolTip(tr("Previous change (Shift+F7)"));
    next_->setToolTip(tr("Next change (F7)"));
    count_ = Named(new QLabel(this), "changeCount");
    connect(previous_, &QPushButton::clicked, this, &CompareDialog::OnPreviousChange);
    connect(next_, &QPushButton::clicked, this, &CompareDialog::OnNextChange);
    connect(new QShortcut(QKeySequence(Qt::Key_F7), this), &QShortcut::activated, this,
            &CompareDialog::OnNextChange);
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F7), this), &QShortcut::activated, this,
            &CompareDialog::OnPreviousChange);
    const int changed = static_cast<int>(changes_.before.size() + changes_.after.size());
    auto* summary = new QLabel(changed == 0 ? tr("The two sides are the same.")
                                            : tr("Changed lines: %1 removed, %2 added.")
                                                  .arg(changes_.before.size())
                                                  .arg(changes_.after.size()),
                               this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(beforeTitle, 0, 0);
    grid->addWidget(afterTitle, 0, 1);
    grid->addWidget(before_, 1, 0);
    grid->addWidget(after_, 1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(previous_);
    bottom->addWidget(next_);
    bottom->addWidget(count_);
    bottom->addSpacing(12);
    bottom->addWidget(summary, 1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(bottom);
    // Whatever the labels hold, the window fits the screen it opens on.
    QSize size(1000, 640);
    if (const QScreen* shown = screen())
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size);
    UpdateChangeControls();
}

void CompareDialog::OnNextChange() {
    if (current_ + 1 < static_cast<int>(rows_.changeStarts.size()))
        ShowChange(current_ + 1);
}

void CompareDialog::OnPreviousChange() {
    if (current_ > 0)
        ShowChange(current_ - 1);
}

// Scrolls the change into view with a few rows of context above it.
void CompareDialog::ShowChange(int index) {
    constexpr int kContextRows = 3;
    current_ = index;
    const int row = rows_.changeStarts[static_cast<size_t>(index)];
    before_->verticalScrollBar()->setValue(std::max(0, row - kContextRows));
    for (QPlainTextEdit* view : {before_, after_})
        view->setTextCursor(QTextCursor(view->document()->findBlockByNumber(row)));
    UpdateChangeControls();
}

void CompareDialog::UpdateChangeControls() {
    const int count = static_cast<int>(rows_.changeStarts.size());
    previous_->setEnabled(current_ > 0);
    next_->setEnabled(current_ + 1 < count);
    if (current_ < 0)
        count_->setText(count == 1 ? tr("1 change") : tr("%1 changes").arg(count));
    else
        count_->setText(tr("Change %1 of %2").arg(current_ + 1).arg(count));
}

}  // namespace kelo::app
