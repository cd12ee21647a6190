// Firmware upgrade: the update command, the restart wait, then the image in chunks.
#include <algorithm>

#include "link/device_link.h"
#include "link/wire_format.h"
#include "platform/messages.h"

namespace kelo {
namespace {

constexpr int kChunkSize = 102400;

}  // namespace

void CDeviceLink::UpgradeFirmware(const uint8_t* data, int size) {
    BeginWrite();
    bool succeeded = false;
    firmwareAwaited_ = false;

    [&] {
        if (!OpenPort(false) || !SendCommand(wire::kUpdateCommand))
            return;
        // The machine now waits for an image until one has gone whole.
        firmwareAwaited_ = true;
        const bool rawDataPort = UsesPacketLink();
        if (rawDataPort)
            ClosePort();
        dialog_.SetPos(10);
        WaitForRestart();  // its result is not looked at
        // After a Cancel the image does not go, and no "Data Port is Busy" stands for it.
        if (dialog_.IsCancelled())
            return;
        if (rawDataPort) {
            // Machine types 3 and 4 take the image on TCP 9100, whatever the port kind.
            mega9100Put_ = std::make_unique<CMega9100Put>();
            mega9100Put_->SetCancelDialog(&dialog_);
            if (!HasSelectedHost() || mega9100Put_->Open(SelectedHost(), wire::kQueue) != 0) {
                platform::ShowMessage(platform::IDS_DATA_PORT_BUSY);
                return;
            }
        }
        for (int position = 0; position < size;) {
            const int chunk = std::min(kChunkSize, size - position);
            dialog_.SetPos(static_cast<int>(static_cast<long long>(position) * 90 / size + 10));
            // The raw stream has no write step that checks the flag, so check it here.
            if (rawDataPort && dialog_.IsCancelled())
                return;
            const bool sent = rawDataPort ? mega9100Put_->Send(data + position, chunk) == chunk
                                          : WritePort(data + position, chunk);
            if (!sent)
                return;
            position += chunk;
        }
        firmwareAwaited_ = false;
        machineHasAll_ = true;
        ShowWriteComplete();
        succeeded = true;
    }();
    EndWrite(succeeded);
}

}  // namespace kelo
