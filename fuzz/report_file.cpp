// libFuzzer target for opening files: the bytes are taken as the content of a report file and
// of a parameter file, unscrambled and checked in memory. Besides the sanitizers, it stops on
// any result that breaks the formats' promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "files/scramble.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// A report that opened holds no zero byte, fits the read buffer, and when short enough to be
// saved again comes back unchanged.
void CheckReport(const std::vector<uint8_t>& file) {
    std::string text;
    const std::optional<kelo::ExHandle> failure = kelo::DecodeReportBlock(file, text);
    if (failure) {
        Require(*failure == kelo::ExHandle::BadContent && text.empty());
        return;
    }
    Require(text.size() < static_cast<size_t>(kelo::kReportReadCapacity));
    Require(text.find('\0') == std::string::npos);
    std::vector<uint8_t> saved;
    if (!kelo::EncodeReportBlock(text, saved))
        return;
    std::string again;
    Require(!kelo::DecodeReportBlock(saved, again).has_value() && again == text);
}

// A parameter block that loaded ends in the right check byte.
void CheckParameters(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> plain;
    if (!kelo::DecodeParameterBlock(file, plain)) {
        Require(plain.empty());
        return;
    }
    Require(!plain.empty() && plain.size() <= static_cast<size_t>(kelo::kParameterFileCapacity));
    const int count = static_cast<int>(plain.size()) - 1;
    Require(plain.back() == kelo::ParameterCheckByte(plain.data(), count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    CheckReport(file);
    CheckParameters(file);
    return 0;
}
