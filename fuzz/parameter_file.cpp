// libFuzzer target for loading parameter files: the bytes are taken as the content of a
// parameter file, unscrambled and checked in memory as loading the file does. Besides the
// sanitizers, it stops on any result that breaks the format's promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "files/parameter_file.h"
#include "fuzz/require.h"

namespace {

// A set that loaded ends in its check byte, fits the file capacity, and when it can be saved
// again loads back unchanged.
void CheckParameters(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> plain;
    if (!kelo::DecodeParameterBlock(file, plain)) {
        FUZZ_REQUIRE(plain.empty());
        return;
    }
    FUZZ_REQUIRE(!plain.empty() &&
                 plain.size() <= static_cast<size_t>(kelo::kParameterFileCapacity));
    const int count = static_cast<int>(plain.size()) - 1;
    FUZZ_REQUIRE(plain.back() == kelo::ParameterCheckByte(plain.data(), count));

    std::vector<uint8_t> saved;
    if (!kelo::EncodeParameterBlock(plain.data(), count, saved))
        return;  // empty or too large to save: the scramble target holds when that may happen
    std::vector<uint8_t> again;
    FUZZ_REQUIRE(kelo::DecodeParameterBlock(saved, again) && again == plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    CheckParameters(file);
    return 0;
}
