// CCompareDlg: two reports side by side, the earlier on the left, with the lines that differ
// between them marked on both sides.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/code_page.h"

class QPlainTextEdit;

namespace app {

// The lines (counted from 0, split at line feeds) that the shortest edit from before to after
// removes from before and adds to after.
struct ChangedLines {
    std::vector<int> before;
    std::vector<int> after;
};
ChangedLines FindChangedLines(const std::string& before, const std::string& after);

class CCompareDlg : public QDialog {
    Q_OBJECT

  public:
    // The texts are report bytes, shown in the code page when one is given, else as UTF-8.
    CCompareDlg(const std::string& before, const std::string& after, const std::string& beforeLabel,
                const std::string& afterLabel, const platform::CodePage* codePage,
                QWidget* owner = nullptr);

    QPlainTextEdit* BeforeView() const { return before_; }
    QPlainTextEdit* AfterView() const { return after_; }
    const ChangedLines& Changes() const { return changes_; }

  private:
    QPlainTextEdit* before_ = nullptr;
    QPlainTextEdit* after_ = nullptr;
    ChangedLines changes_;
};

}  // namespace app
