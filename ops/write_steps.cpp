// The steps that frame both writing operations, Put Parameters and Upgrade Firmware, and the
// outcome every operation ends with.
#include "ops/steps.h"
#include "platform/clock.h"

namespace kelo::ops::detail {

Outcome Ended(bool succeeded, const Transport& transport, const platform::MessageWatch& watch) {
    Outcome outcome;
    outcome.message = watch.LastText();
    outcome.messageId = watch.LastId();
    if (succeeded)
        outcome.status = Status::kOk;
    else if (transport.Dialog().IsCancelled())
        outcome.status = Status::kCancelled;
    else if (transport.Dialog().IsTimedOut())
        outcome.status = Status::kTimedOut;
    else
        outcome.status = Status::kFailed;
    return outcome;
}

void BeginWrite(Transport& transport) {
    platform::CancelDialog& dialog = transport.Dialog();
    dialog.SetPos(0);
    dialog.SetRange(100);
    dialog.Show();
}

// The bar stands full for a moment before the progress goes away.
void ShowWriteComplete(Transport& transport) {
    transport.Dialog().SetPos(100);
    platform::Sleep(300);
}

void EndWrite(Transport& transport, bool succeeded) {
    transport.Dialog().Hide();
    transport.Close();
    if (succeeded)
        platform::ShowMessage(platform::MessageId::kDone);
}

}  // namespace kelo::ops::detail
