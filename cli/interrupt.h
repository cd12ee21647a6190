// Ctrl-C as the progress dialog's Cancel. The first SIGINT asks the dialog to cancel (its
// next pump turns the request into a Cancel, which ends the operation exactly as the Cancel
// button would); a second one ends the program at once with status 130.
#pragma once

#include "platform/headless_cancel_dialog.h"

namespace kelo::cli {

// The terminal's progress dialog. A Ctrl-C that came before an operation showed the dialog
// (Show clears a pending request) still cancels that operation.
class TerminalCancelDialog : public platform::HeadlessCancelDialog {
  public:
    void Show() override;
};

// Installs the SIGINT handler for the dialog while it lives, without SA_RESTART so that a
// blocked call returns and the pump runs.
class InterruptGuard {
  public:
    explicit InterruptGuard(platform::HeadlessCancelDialog& dialog);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once Ctrl-C was pressed during this run.
bool Interrupted();

}  // namespace kelo::cli
