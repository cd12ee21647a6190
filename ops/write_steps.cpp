// The steps that frame both writing operations, Put Parameters and Upgrade Firmware.
#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace kelo {

void CDeviceLink::BeginWrite() {
    dialog_.SetPos(0);
    dialog_.SetRange(100);
    dialog_.Show();
    machineHasAll_ = false;
}

// The bar stands full for a moment before the progress goes away.
void CDeviceLink::ShowWriteComplete() {
    dialog_.SetPos(100);
    platform::Sleep(300);
}

void CDeviceLink::EndWrite(bool succeeded) {
    dialog_.Hide();
    ClosePort();
    if (succeeded)
        platform::ShowMessage(platform::IDS_DONE);
}

}  // namespace kelo
