// The operations as the tests call them: the data into the caller's variables only when the
// read succeeded; back comes whether it did (or the count of bytes, -1 on failure).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "ops/operations.h"

namespace testing_support {

inline bool ReportInto(kelo::Transport& transport, std::string& report) {
    kelo::ops::Report got = kelo::ops::GetReport(transport);
    if (got.outcome.ok())
        report = std::move(got.text);
    return got.outcome.ok();
}

inline int ParametersInto(kelo::Transport& transport, uint8_t* buffer, int capacity) {
    const kelo::ops::Parameters got = kelo::ops::GetParameters(transport, capacity);
    if (!got.outcome.ok())
        return -1;
    std::copy(got.bytes.begin(), got.bytes.end(), buffer);
    return static_cast<int>(got.bytes.size());
}

}  // namespace testing_support
