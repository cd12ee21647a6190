#include "app/compare_dlg.h"

#include <QColor>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cstdlib>
#include <sstream>

#include "records/compare.h"

namespace app {
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
QString DisplayLines(const std::string& text, const platform::CodePage* codePage) {
    QStringList lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string utf8 = codePage != nullptr ? codePage->ToUtf8(line) : line;
        lines << QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    return lines.join('\n');
}

void MarkLines(QPlainTextEdit* view, const std::vector<int>& lines, const QColor& colour) {
    QList<QTextEdit::ExtraSelection> marks;
    for (int line : lines) {
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(colour);
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        mark.cursor = QTextCursor(view->document()->findBlockByNumber(line));
        marks << mark;
    }
    view->setExtraSelections(marks);
}

QPlainTextEdit* MakeView(const QString& text, QWidget* owner) {
    auto* view = new QPlainTextEdit(text, owner);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFont("Monospace"));
    return view;
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

CCompareDlg::CCompareDlg(const std::string& before, const std::string& after,
                         const std::string& beforeLabel, const std::string& afterLabel,
                         const platform::CodePage* codePage, QWidget* owner)
    : QDialog(owner), changes_(FindChangedLines(before, after)) {
    setWindowTitle("Compare Reports");
    before_ = MakeView(DisplayLines(before, codePage), this);
    after_ = MakeView(DisplayLines(after, codePage), this);
    MarkLines(before_, changes_.before, QColor(255, 215, 215));
    MarkLines(after_, changes_.after, QColor(210, 245, 210));
    // The two sides scroll together, so that a changed line stays beside its context.
    connect(before_->verticalScrollBar(), &QScrollBar::valueChanged, after_->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(after_->verticalScrollBar(), &QScrollBar::valueChanged, before_->verticalScrollBar(),
            &QScrollBar::setValue);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QString::fromStdString(beforeLabel), this), 0, 0);
    grid->addWidget(new QLabel(QString::fromStdString(afterLabel), this), 0, 1);
    grid->addWidget(before_, 1, 0);
    grid->addWidget(after_, 1, 1);
    const int changed = static_cast<int>(changes_.before.size() + changes_.after.size());
    grid->addWidget(new QLabel(changed == 0 ? "The reports are the same."
                                            : QString("Changed lines: %1 removed, %2 added.")
                                                  .arg(changes_.before.size())
                                                  .arg(changes_.after.size()),
                               this),
                    2, 0);
    grid->addWidget(buttons, 2, 1);
    resize(1000, 640);
}

}  // namespace app
