// Get Parameters: the machine's parameter set, a block of any bytes.
#include <algorithm>
#include <vector>

#include "link/wire_format.h"
#include "ops/steps.h"

namespace kelo::ops {
namespace {

constexpr int kSecondHalfBase = 32768;

// The set's byte count, or -1.
int ReadParameters(Transport& transport, uint8_t* buffer, int capacity) {
    int result = -1;
    platform::CancelDialog& dialog = transport.Dialog();
    dialog.SetPos(0);
    dialog.Show();

    if (transport.SpeaksPackets()) {
        // Two requests, one reply frame per half, the halves back to back in the buffer.
        // Each reply read may fill a whole reply buffer from where it starts, so the buffer
        // holds two reply buffers.
        dialog.SetRange(65536);
        const uint8_t firstHalf[2] = {0x00, wire::kRequestParamsFirstHalf};
        const uint8_t secondHalf[2] = {0x00, wire::kRequestParamsSecondHalf};
        int n1 = -1;
        if (transport.Open(false) && transport.Write(firstHalf, 2)) {
            n1 = transport.ReadReply(buffer, true, 0);
            transport.Close();
            if (n1 >= 1 && transport.Open(false) && transport.Write(secondHalf, 2)) {
                const int n2 = transport.ReadReply(buffer + n1, true, kSecondHalfBase);
                if (n2 >= 1)
                    result = n1 + n2;
            }
        }
        dialog.Hide();
        transport.Close();
        return result;
    }

    const bool opened = transport.Open(false);
    if (opened && transport.WriteAccessLine() && transport.WriteText(wire::kGetParamsCommand)) {
        transport.WaitUnlessCancelled(300);
        result = detail::ReadParamLines(transport, buffer, capacity);
    }
    dialog.Hide();
    if (opened) {
        const uint8_t end = wire::kEndOfExchange;
        if (!transport.Write(&end, 1))
            result = -1;
    }
    transport.Close();
    return result;
}

}  // namespace

Parameters GetParameters(Transport& transport, int capacity) {
    platform::MessageWatch watch;
    std::vector<uint8_t> buffer(
        static_cast<size_t>(std::max(capacity, 2 * Transport::kReplyBufferSize)));
    const int count = ReadParameters(transport, buffer.data(), capacity);
    Parameters parameters;
    if (count >= 0) {
        buffer.resize(static_cast<size_t>(count));
        parameters.bytes = std::move(buffer);
    }
    parameters.outcome = detail::Ended(count >= 0, transport, watch);
    return parameters;
}

}  // namespace kelo::ops
