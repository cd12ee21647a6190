#include "link/wire_format.h"

namespace kelo::wire {

const char* RequestName(uint8_t code) {
    switch (code) {
        case kRequestReport:
            return "get report";
        case kRequestParamsFirstHalf:
            return "get the first half of the parameter set";
        case kRequestParamsSecondHalf:
            return "get the second half of the parameter set";
        case kRequestPutFirstHalf:
            return "put the first half of the parameter set";
        case kRequestPutSecondHalf:
            return "put the second half of the parameter set";
        case kRequestTextCommand:
            return "text command";
        default:
            return "";
    }
}

bool CarriesDataSum(uint8_t first, uint8_t second) {
    const int value = static_cast<int8_t>(first) * 256 + static_cast<int8_t>(second);
    return !(value == 1 || value == 2 || value == 3 || value == 7);
}

}  // namespace kelo::wire
