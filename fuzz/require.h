// How a fuzz target stops on a broken promise of a format: it aborts, so libFuzzer keeps the
// input as a finding, and names the line of the check that failed.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void Fail(const char* file, int line) {
    std::fprintf(stderr, "broken promise checked at %s:%d\n", file, line);
    std::abort();
}

}  // namespace fuzz

#define FUZZ_REQUIRE(condition) \
    ((condition) ? static_cast<void>(0) : fuzz::Fail(__FILE__, __LINE__))
