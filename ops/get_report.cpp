// Get Report: the machine's service report as text.
#include <memory>

#include "link/wire_format.h"
#include "ops/steps.h"

namespace kelo::ops {

Report GetReport(Transport& transport) {
    platform::MessageWatch watch;
    platform::CancelDialog& dialog = transport.Dialog();
    dialog.SetPos(0);
    dialog.Show();
    Report report;
    bool result = false;

    if (transport.SpeaksPackets()) {
        // 1. One request, one reply frame that holds the whole report.
        if (transport.Open(false)) {
            const uint8_t request[2] = {0x00, wire::kRequestReport};
            // ReadReply ends the data with a zero, so the buffer needs no filling first.
            const auto reply =
                std::make_unique_for_overwrite<uint8_t[]>(Transport::kReplyBufferSize);
            if (transport.Write(request, 2) && transport.ReadReply(reply.get(), true, -1) >= 0) {
                report.text = reinterpret_cast<const char*>(reply.get());
                result = true;
            }
        }
        transport.Close();
        dialog.Hide();
        report.outcome = detail::Ended(result, transport, watch);
        return report;
    }

    // Machine types 1 and 2: access line and command, then the report line by line.
    const bool opened = transport.Open(false);
    if (opened && transport.WriteAccessLine() && transport.WriteText(wire::kGetReportCommand)) {
        transport.WaitUnlessCancelled(300);
        result = detail::ReadReportLines(transport, report.text);
    }
    dialog.Hide();
    if (opened) {
        // After a Cancel the flag is still set, so this write is refused without a message.
        const uint8_t end = wire::kEndOfExchange;
        if (!transport.Write(&end, 1))
            result = false;
    }
    transport.Close();
    report.outcome = detail::Ended(result, transport, watch);
    return report;
}

}  // namespace kelo::ops
