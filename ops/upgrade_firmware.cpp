// Firmware upgrade: the update command, the restart wait, then the image in chunks.
#include <algorithm>
#include <memory>

#include "link/packet_link.h"
#include "link/wire_format.h"
#include "ops/steps.h"

namespace kelo::ops {
namespace {

constexpr int kChunkSize = 102400;

}  // namespace

Write UpgradeFirmware(Transport& transport, const uint8_t* data, int size) {
    platform::MessageWatch watch;
    platform::CancelDialog& dialog = transport.Dialog();
    Write write;
    detail::BeginWrite(transport);
    bool succeeded = false;
    // Machine types 3 and 4 take the image on TCP 9100, whatever the port kind.
    std::unique_ptr<FirmwareStream> stream;

    [&] {
        if (!transport.Open(false) || !transport.SendCommand(wire::kUpdateCommand))
            return;
        // The machine now waits for an image until one has gone whole.
        write.firmwareAwaited = true;
        const bool rawDataPort = transport.SpeaksPackets();
        if (rawDataPort)
            transport.Close();
        dialog.SetPos(10);
        transport.WaitForRestart();  // its result is not looked at
        // After a Cancel the image does not go, and no "Data Port is Busy" stands for it.
        if (dialog.IsCancelled())
            return;
        if (rawDataPort) {
            stream = std::make_unique<FirmwareStream>();
            stream->SetCancelDialog(&dialog);
            if (!transport.Host() || stream->Open(*transport.Host(), wire::kQueue) != 0) {
                platform::ShowMessage(platform::MessageId::kDataPortBusy);
                return;
            }
        }
        for (int position = 0; position < size;) {
            const int chunk = std::min(kChunkSize, size - position);
            dialog.SetPos(static_cast<int>(static_cast<long long>(position) * 90 / size + 10));
            // The raw stream has no write step that checks the flag, so check it here.
            if (rawDataPort && dialog.IsCancelled())
                return;
            const bool sent = rawDataPort ? stream->Send(data + position, chunk) == chunk
                                          : transport.Write(data + position, chunk);
            if (!sent)
                return;
            position += chunk;
        }
        write.firmwareAwaited = false;
        write.machineHasAll = true;
        detail::ShowWriteComplete(transport);
        succeeded = true;
    }();
    dialog.Hide();
    transport.Close();
    stream.reset();  // the raw stream closes with the port
    if (succeeded)
        platform::ShowMessage(platform::MessageId::kDone);
    write.outcome = detail::Ended(succeeded, transport, watch);
    return write;
}

}  // namespace kelo::ops
