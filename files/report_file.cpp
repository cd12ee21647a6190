#include "files/report_file.h"

#include <algorithm>
#include <memory>

#include "files/path_names.h"
#include "files/scramble.h"
#include "platform/ascii_case.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace kelo {
namespace {

constexpr uint8_t kReportBlockSum = 0x7F;

bool Refuse(ReportRefusal failure) {
    platform::ShowMessage(ReportRefusalMessage(failure));
    return false;
}

bool WriteWhole(const std::string& path, const void* data, size_t length) {
    return platform::WriteFileAtomically(path, data, length).OkElseShow(path);
}

}  // namespace

int ReportRefusalMessage(ReportRefusal failure) {
    return failure == ReportRefusal::WrongKind ? platform::MessageId::kIllegalFile
                                               : platform::MessageId::kIllegalReportFile;
}

uint8_t ReportCheckByte(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return static_cast<uint8_t>(kReportBlockSum - SumBytes(bytes, static_cast<int>(text.size())));
}

bool EncodeReportBlock(const std::string& text, std::vector<uint8_t>& file) {
    file.clear();
    if (text.size() > static_cast<size_t>(kReportSaveCapacity - 1))
        return false;
    std::vector<uint8_t> plain(text.begin(), text.end());
    plain.push_back(ReportCheckByte(text));
    // The scrambling writes only as far as it goes; the rest of the block is never touched.
    const int room = ScrambleRoom(plain.size(), kReportSaveCapacity);
    const auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(room));
    const int length = ScrambleFileData(plain.data(), static_cast<int>(plain.size()), block.get(),
                                        room, ModeEncodeTagged);
    if (length < 0)
        return false;
    file.assign(block.get(), block.get() + length);
    return true;
}

std::optional<ReportRefusal> DecodeReportBlock(std::vector<uint8_t> file, std::string& text) {
    text.clear();
    if (file.empty() || file.size() > kMaxReportFileBytes)
        return ReportRefusal::BadContent;
    std::vector<uint8_t> plain;
    if (!UnscrambleFileBlock(file.data(), static_cast<int>(file.size()), kReportReadCapacity,
                             ModeDecodeTagged, plain) ||
        plain.empty()) {
        return ReportRefusal::BadContent;  // a one-byte file holds no check byte
    }
    // The check byte makes the whole block, itself included, sum to 0x7F.
    const int length = static_cast<int>(plain.size());
    if (SumBytes(plain.data(), length) != kReportBlockSum)
        return ReportRefusal::BadContent;
    const char* textBegin = reinterpret_cast<const char*>(plain.data());
    text.assign(textBegin, std::find(textBegin, textBegin + (length - 1), '\0'));
    return std::nullopt;
}

bool HasReportExtension(const std::string& path) {
    return platform::SameAsciiName(DottedExtension(path), kReportExtension);
}

bool OpenReportFile(const std::string& path, std::string& text) {
    text.clear();
    if (!HasReportExtension(path))
        return Refuse(ReportRefusal::WrongKind);

    std::vector<uint8_t> file;
    bool tooLarge = false;
    if (!platform::ReadFileBytes(path, kMaxReportFileBytes, file, &tooLarge).OkElseShow(path))
        return false;
    if (tooLarge)
        return Refuse(ReportRefusal::BadContent);

    const std::optional<ReportRefusal> failure = DecodeReportBlock(std::move(file), text);
    if (failure)
        return Refuse(*failure);
    return true;
}

bool IsReportSaveName(const std::string& path) {
    return EndsWithLetters(path, "txt") || EndsWithLetters(path, kReportExtension + 1);
}

bool SaveReportText(const std::string& path, const std::string& text) {
    if (EndsWithLetters(path, "txt"))
        return WriteWhole(path, text.data(), text.size());
    if (!IsReportSaveName(path)) {
        platform::ShowMessage(platform::MessageId::kIllegalFile);
        return false;
    }
    std::vector<uint8_t> file;
    if (!EncodeReportBlock(text, file)) {
        platform::ShowMessage(platform::MessageId::kTooLargeFile);
        return false;
    }
    return WriteWhole(path, file.data(), file.size());
}

}  // namespace kelo
