// CompareDialog: two reports (or two parameter sets as hex lines) side by side, the earlier on the
// left, lined up row by row: a line one side lacks faces an empty, marked filler row, so a row
// on the left always faces its row on the right. Both sides scroll together, and F7 and
// Shift+F7 step through the changes.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kelo::app {

// The lines (counted from 0, split at line feeds) that the shortest edit from before to after
// removes from before and adds to after.
struct ChangedLines {
    std::vector<int> before;
    std::vector<int> after;
};
ChangedLines FindChangedLines(const std::string& before, const std::string& after);

// The two sides as rows: row r shows line before[r] on the left and after[r] on the right, or
// a filler where that side has no line. A removed line faces an added one where the edit
// replaces lines, else a filler. Both vectors have one entry per row.
struct AlignedRows {
    std::vector<std::optional<int>> before;
    std::vector<std::optional<int>> after;
    // The first row of each run of rows that differ.
    std::vector<int> changeStarts;
};
AlignedRows AlignLines(int beforeLines, int afterLines, const ChangedLines& changes);

// A parameter set as text to compare: 16 bytes a line, each line led by its offset.
std::string HexLines(const std::vector<uint8_t>& bytes);

class CompareDialog : public QDialog {
    Q_OBJECT

  public:
    // The texts are report bytes, shown in the code page when one is given, else as UTF-8.
    CompareDialog(const std::string& before, const std::string& after,
                  const std::string& beforeLabel, const std::string& afterLabel,
                  const platform::CodePage* codePage, QWidget* owner = nullptr);

    const ChangedLines& Changes() const { return changes_; }
    const AlignedRows& Rows() const { return rows_; }

  public slots:
    void OnNextChange();
    void OnPreviousChange();

  private:
    void ShowChange(int index);
    void UpdateChangeControls();

    QPlainTextEdit* before_ = nullptr;
    QPlainTextEdit* after_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* count_ = nullptr;
    ChangedLines changes_;
    AlignedRows rows_;
    int current_ = -1;  // the change last stepped to
};

}  // namespace kelo::app
