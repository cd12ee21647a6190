// The Cancel button pressed by a script, for the tests of what a Cancel ends.
#pragma once

#include "platform/headless_cancel_dialog.h"

namespace testing_support {

// Presses Cancel at the dialog's pump-th pump of its events.
inline void CancelAtPump(kelo::platform::HeadlessCancelDialog& dialog, int pump) {
    dialog.onPump = [pump](kelo::platform::HeadlessCancelDialog& d) {
        if (d.PumpCount() == pump)
            d.Cancel();
    };
}

// Opens put on the loopback machine's queue "lp1" with dialog shown as its Cancel button, to be
// pressed at the second pump: a send long enough to block is the one it ends. False where the
// open fails.
template <class Put>
bool OpenWithCancelAtSecondPump(Put& put, kelo::platform::HeadlessCancelDialog& dialog) {
    put.SetCancelDialog(&dialog);
    if (put.Open("127.0.0.1", "lp1") != 0)
        return false;
    dialog.Show();
    CancelAtPump(dialog, 2);
    return true;
}

}  // namespace testing_support
