// Report files (.kel) and text files holding a report.
//
// A report file is the plain report block scrambled with ModeEncodeTagged: the text, then a
// check byte that makes the byte sum of the whole plain block 0x7F. A text file is the text
// exactly as it stands. Failures are shown through the platform's message sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/block_capacity.h"

namespace kelo {

// The extension of report files; its three letters also select the report format on saving.
inline constexpr char kReportExtension[] = ".kel";

// A saved report: plain block (text and check byte) and scrambled file at most this long.
constexpr int kReportSaveCapacity = kBlockCapacity;
// A report read from a file unscrambles into at most this many bytes, check byte included.
constexpr int kReportReadCapacity = 262144;
// The largest report file that is read at all. A file of 262,144 plain bytes packs to about
// 264,200 bytes, so no file the routine can write comes near this; anything longer could only
// unscramble by padding and is refused before it fills memory.
constexpr size_t kMaxReportFileBytes = size_t{16} << 20;

// Why a report file was refused: 0 a file of the wrong kind, 1 content that fails unscrambling
// or the check.
enum class ReportRefusal : int { WrongKind = 0, BadContent = 1 };

// The message shown for a refused report file: "Illegal File" or "Illegal Report File.".
int ReportRefusalMessage(ReportRefusal failure);

// The check byte of a report text: (0x7F - byte sum of the text) mod 256.
uint8_t ReportCheckByte(const std::string& text);

// Builds the report file content of a text. False when the text is longer than 131,071 bytes
// or its scrambled form would not fit in 131,072 bytes.
bool EncodeReportBlock(const std::string& text, std::vector<uint8_t>& file);

// Unscrambles the content of a report file and checks it. Returns why it was refused, or
// nothing when text holds the report (the bytes before the check byte, up to the first zero).
std::optional<ReportRefusal> DecodeReportBlock(std::vector<uint8_t> file, std::string& text);

// True when the dotted extension of the path's last component is ".kel", in any case.
bool HasReportExtension(const std::string& path);

// Reads a report file into text. On failure shows "Illegal File", "Illegal Report File." or
// the OS reason naming the file, and returns false.
bool OpenReportFile(const std::string& path, std::string& text);

// True when SaveReportText takes the name: the path ends in "txt" or "kel", case counting.
bool IsReportSaveName(const std::string& path);

// Saves text as a text file (path ending in "txt") or a report file (path ending in "kel"),
// by the path's last three characters, case counting. Any other name shows "Illegal File"
// and touches nothing. A text too large for a report file shows "Too Large File". The file is
// replaced only once the new content was written whole; a failure shows the OS reason naming
// the file and leaves any earlier file as it was.
bool SaveReportText(const std::string& path, const std::string& text);

}  // namespace kelo
