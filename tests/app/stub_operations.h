// What stand-in operations of the main window give back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/operations.h"

namespace testing_support {

inline kelo::ops::Outcome OutcomeOf(bool ok) {
    return {ok ? kelo::ops::Status::kOk : kelo::ops::Status::kFailed, "", 0};
}

inline kelo::ops::Report ReportOf(bool ok, std::string text) {
    return {OutcomeOf(ok), std::move(text)};
}

// A failed read has no bytes.
inline kelo::ops::Parameters ParametersOf(bool ok, std::vector<uint8_t> bytes) {
    return {OutcomeOf(ok), ok ? std::move(bytes) : std::vector<uint8_t>{}};
}

inline kelo::ops::Write WriteOf(bool ok) {
    return {OutcomeOf(ok), false, ok};
}

}  // namespace testing_support
