// Get Report: the machine's service report as text.
#include <memory>
#include <vector>

#include "link/device_link.h"
#include "link/wire_format.h"

namespace kelo {

bool CDeviceLink::GetReport(std::string& report) {
    dialog_.SetPos(0);
    dialog_.Show();
    bool result = false;

    if (UsesPacketLink()) {
        // 1. One request, one reply frame that holds the whole report.
        if (OpenPort(false)) {
            const uint8_t request[2] = {0x00, wire::kRequestReport};
            // ReadReply ends the data with a zero, so the buffer needs no filling first.
            const auto reply = std::make_unique_for_overwrite<uint8_t[]>(kReplyBufferSize);
            if (WritePort(request, 2) && ReadReply(reply.get(), true, -1) >= 0) {
                report = reinterpret_cast<const char*>(reply.get());
                result = true;
            }
        }
        ClosePort();
        dialog_.Hide();
        return result;
    }

    // Machine types 1 and 2: access line and command, then the report line by line.
    const bool opened = OpenPort(false);
    if (opened && WriteAccessLine() && WriteText(wire::kGetReportCommand)) {
        WaitUnlessCancelled(300);
        result = ReadReportCount() && ReadReportLines(report);
    }
    dialog_.Hide();
    if (opened) {
        // After a Cancel the flag is still set, so this write is refused without a message.
        const uint8_t end = wire::kEndOfExchange;
        if (!WritePort(&end, 1))
            result = false;
    }
    ClosePort();
    return result;
}

}  // namespace kelo
