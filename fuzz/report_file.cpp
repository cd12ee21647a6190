// libFuzzer target for opening report files: the bytes are taken as the content of a .kel file,
// unscrambled and checked in memory as opening the file does. Besides the sanitizers, it stops
// on any result that breaks the format's promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "files/report_file.h"
#include "fuzz/require.h"

namespace {

// A report that opened holds no zero byte, fits the read buffer, and when short enough to be
// saved again comes back unchanged.
void CheckReport(const std::vector<uint8_t>& file) {
    std::string text;
    const std::optional<kelo::ReportRefusal> failure = kelo::DecodeReportBlock(file, text);
    if (failure) {
        FUZZ_REQUIRE(*failure == kelo::ReportRefusal::BadContent && text.empty());
        return;
    }
    FUZZ_REQUIRE(text.size() < static_cast<size_t>(kelo::kReportReadCapacity));
    FUZZ_REQUIRE(text.find('\0') == std::string::npos);
    std::vector<uint8_t> saved;
    if (!kelo::EncodeReportBlock(text, saved))
        return;  // too large to save: the scramble target holds when that may happen
    std::string again;
    FUZZ_REQUIRE(!kelo::DecodeReportBlock(saved, again).has_value() && again == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    CheckReport(file);
    return 0;
}
