// Put Parameters: writes a parameter set into the machine, which then restarts.
#include <algorithm>
#include <vector>

#include "link/device_link.h"
#include "link/wire_format.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace kelo {
namespace {

constexpr int kHalfSize = 32768;

// Request code then one half of the set: 32,770 bytes.
std::vector<uint8_t> HalfRequest(uint8_t code, const uint8_t* half) {
    std::vector<uint8_t> request{0x00, code};
    request.insert(request.end(), half, half + kHalfSize);
    return request;
}

}  // namespace

bool CDeviceLink::SendRsCommand() {
    const bool sent = SendCommand(wire::kRestartCommand);
    if (sent) {
        machineHasAll_ = true;
        platform::Sleep(3000);
    }
    return sent;
}

void CDeviceLink::PutParameters(const uint8_t* data, int length, bool all) {
    // Machine types 3 and 4 send the first 65,536 bytes: a shorter set would send bytes that
    // are not in the file, so it is refused before anything goes out.
    if (UsesPacketLink() && length < 2 * kHalfSize) {
        platform::ShowMessage(platform::IDS_ILLEGAL_PARAM_FILE);
        return;
    }
    BeginWrite();
    bool succeeded = false;

    if (UsesPacketLink()) {
        std::vector<uint8_t> reply(kReplyBufferSize);
        auto putHalf = [&](uint8_t code, const uint8_t* half, int progressBase) {
            const std::vector<uint8_t> request = HalfRequest(code, half);
            if (!OpenPort(false) || !WritePort(request.data(), static_cast<int>(request.size()))) {
                return false;
            }
            ReadReply(reply.data(), true, progressBase);  // the reply is not looked at
            ClosePort();
            return true;
        };
        // The second half always goes; the first only with "all".
        if (putHalf(wire::kRequestPutSecondHalf, data + kHalfSize, 0)) {
            dialog_.SetPos(25);
            if (!all || putHalf(wire::kRequestPutFirstHalf, data, 25)) {
                dialog_.SetPos(50);
                if (OpenPort(false) && SendRsCommand()) {
                    ClosePort();
                    ShowWriteComplete();
                    succeeded = true;
                }
            }
        }
    } else {
        const char* command = all ? wire::kPutAllParamsCommand : wire::kPutParamsCommand;
        if (OpenPort(false) && WriteAccessLine() && WriteText(command) && WritePort(data, length)) {
            dialog_.SetPos(50);
            WaitForRestart();  // its result is not looked at
            if (SendRsCommand()) {
                ShowWriteComplete();
                succeeded = true;
            }
        }
    }
    EndWrite(succeeded);
}

}  // namespace kelo
