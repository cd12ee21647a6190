// The Cancel button pressed by a script, for the tests of what a Cancel ends.
#pragma once

#include "platform/headless_cancel_dialog.h"

namespace testing_support {

// Presses Cancel at the dialog's pump-th pump of its events.
inline void CancelAtPump(platform::HeadlessCancelDialog& dialog, int pump) {
    dialog.onPump = [pump](platform::HeadlessCancelDialog& d) {
        if (d.PumpCount() == pump)
            d.Cancel();
    };
}

}  // namespace testing_support
