#include "link/device_link.h"

#include <utility>

namespace kelo {

DeviceLink::DeviceLink(platform::CancelDialog& dialog, ConnectionSettings settings)
    : dialog_(dialog), settings_(std::move(settings)) {}

DeviceLink::Choice DeviceLink::Chosen() const {
    return Choice{settings_.portKind, settings_.machineTypeIndex, SelectedHost(settings_)};
}

Transport& DeviceLink::Port() {
    const Choice chosen = Chosen();
    if (!transport_ || !(chosen == made_)) {
        transport_.reset();
        transport_ = MakeTransport(settings_, dialog_, makers_);
        made_ = chosen;
    }
    return *transport_;
}

void DeviceLink::SetParallelPortFactory(ParallelPortFactory factory) {
    makers_.parallel = factory;
    transport_.reset();
}

void DeviceLink::SetUsbDeviceFactory(UsbDeviceFactory factory) {
    makers_.usb = factory;
    transport_.reset();
}

}  // namespace kelo
