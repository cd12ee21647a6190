// Put Parameters: writes a parameter set into the machine, which then restarts.
#include <vector>

#include "link/wire_format.h"
#include "ops/steps.h"
#include "platform/clock.h"

namespace kelo::ops {
namespace {

constexpr int kHalfSize = 32768;

// Request code then one half of the set: 32,770 bytes.
std::vector<uint8_t> HalfRequest(uint8_t code, const uint8_t* half) {
    std::vector<uint8_t> request{0x00, code};
    request.insert(request.end(), half, half + kHalfSize);
    return request;
}

// The closing command, after which the machine has everything and restarts.
bool SendRestartCommand(Transport& transport, Write& write) {
    const bool sent = transport.SendCommand(wire::kRestartCommand);
    if (sent) {
        write.machineHasAll = true;
        platform::Sleep(3000);
    }
    return sent;
}

}  // namespace

Write PutParameters(Transport& transport, const uint8_t* data, int length) {
    platform::MessageWatch watch;
    Write write;
    // Machine types 3 and 4 send the first 65,536 bytes: a shorter set would send bytes that
    // are not in the file, so it is refused before anything goes out.
    if (transport.SpeaksPackets() && length < 2 * kHalfSize) {
        platform::ShowMessage(platform::MessageId::kIllegalParamFile);
        write.outcome = detail::Ended(false, transport, watch);
        return write;
    }
    detail::BeginWrite(transport);
    bool succeeded = false;

    if (transport.SpeaksPackets()) {
        // The second half of the set; the machine keeps its own first half.
        std::vector<uint8_t> reply(Transport::kReplyBufferSize);
        const std::vector<uint8_t> request =
            HalfRequest(wire::kRequestPutSecondHalf, data + kHalfSize);
        if (transport.Open(false) &&
            transport.Write(request.data(), static_cast<int>(request.size()))) {
            transport.ReadReply(reply.data(), true, 0);  // the reply is not looked at
            transport.Close();
            // The bar passes the quarter the first half once took, straight to the half.
            transport.Dialog().SetPos(25);
            transport.Dialog().SetPos(50);
            if (transport.Open(false) && SendRestartCommand(transport, write)) {
                transport.Close();
                detail::ShowWriteComplete(transport);
                succeeded = true;
            }
        }
    } else if (transport.Open(false) && transport.WriteAccessLine() &&
               transport.WriteText(wire::kPutParamsCommand) && transport.Write(data, length)) {
        transport.Dialog().SetPos(50);
        transport.WaitForRestart();  // its result is not looked at
        if (SendRestartCommand(transport, write)) {
            detail::ShowWriteComplete(transport);
            succeeded = true;
        }
    }
    detail::EndWrite(transport, succeeded);
    write.outcome = detail::Ended(succeeded, transport, watch);
    return write;
}

}  // namespace kelo::ops
