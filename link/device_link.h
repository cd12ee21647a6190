// DeviceLink: the connection to the machine a program holds. It keeps the settings the program
// gave it (loading and saving them is the program's: see link/settings.h) and the makers of
// the local ports, and hands out the transport those settings pick, made when first asked for
// and made anew once the port, machine type or host changed.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "link/ports.h"
#include "link/settings.h"
#include "link/transport.h"
#include "platform/cancel_dialog.h"

namespace kelo {

class DeviceLink {
  public:
    // The progress dialog is the caller's and must outlive the connection.
    explicit DeviceLink(platform::CancelDialog& dialog, ConnectionSettings settings = {});
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    const ConnectionSettings& Settings() const { return settings_; }
    ConnectionSettings& MutableSettings() { return settings_; }
    // Machine type 1 to 4 (the stored index plus one).
    int GetMachineType() const { return settings_.machineTypeIndex + 1; }

    // The transport of the present settings.
    Transport& Port();
    platform::CancelDialog& Dialog() { return dialog_; }

    // Seams for the local ports; the system's own are used unless replaced.
    void SetParallelPortFactory(ParallelPortFactory factory);
    void SetUsbDeviceFactory(UsbDeviceFactory factory);

  private:
    // What picks a transport and where it goes.
    struct Choice {
        int portKind = 0;
        int machineTypeIndex = 0;
        std::optional<std::string> host;
        bool operator==(const Choice&) const = default;
    };
    Choice Chosen() const;

    platform::CancelDialog& dialog_;
    ConnectionSettings settings_;
    LocalPortMakers makers_;
    Choice made_;
    std::unique_ptr<Transport> transport_;
};

}  // namespace kelo
