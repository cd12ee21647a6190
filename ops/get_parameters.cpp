// Get Parameters: the machine's parameter set, a block of any bytes.
#include <vector>

#include "link/device_link.h"
#include "link/wire_format.h"

namespace kelo {
namespace {

constexpr int kSecondHalfBase = 32768;

}  // namespace

int CDeviceLink::GetParameters(uint8_t* buffer, int capacity) {
    int result = -1;
    dialog_.SetPos(0);
    dialog_.Show();

    if (UsesPacketLink()) {
        // Two requests, one reply frame per half, the halves back to back in the buffer.
        // Each reply read may fill a whole reply buffer from where it starts, so the caller's
        // buffer must hold two reply buffers (131,070 bytes).
        dialog_.SetRange(65536);
        const uint8_t firstHalf[2] = {0x00, wire::kRequestParamsFirstHalf};
        const uint8_t secondHalf[2] = {0x00, wire::kRequestParamsSecondHalf};
        int n1 = -1;
        if (OpenPort(false) && WritePort(firstHalf, 2)) {
            n1 = ReadReply(buffer, true, 0);
            ClosePort();
            if (n1 >= 1 && OpenPort(false) && WritePort(secondHalf, 2)) {
                const int n2 = ReadReply(buffer + n1, true, kSecondHalfBase);
                if (n2 >= 1)
                    result = n1 + n2;
            }
        }
        dialog_.Hide();
        ClosePort();
        return result;
    }

    const bool opened = OpenPort(false);
    if (opened && WriteAccessLine() && WriteText(wire::kGetParamsCommand)) {
        WaitUnlessCancelled(300);
        if (ReadParamCount())
            result = ReadParamLines(buffer, capacity);
    }
    dialog_.Hide();
    if (opened) {
        const uint8_t end = wire::kEndOfExchange;
        if (!WritePort(&end, 1))
            result = -1;
    }
    ClosePort();
    return result;
}

}  // namespace kelo
