#include "sim/line_offer.h"

#include <algorithm>

namespace kelo::sim {
namespace {

// What an out-of-range line carries: the bytes of "OUT OF RANGE".
const char kBogusHex[] = "4F5554204F462052414E4745";

}  // namespace

std::vector<LineOffer::Step> LineOffer::WithoutSemicolonFirst(const std::vector<Step>& steps) {
    std::vector<Step> out;
    for (const Step& step : steps) {
        out.push_back({step.number, step.bogus, true});
        out.push_back(step);
    }
    return out;
}

std::string LineHex(const std::vector<uint8_t>& data, int lineNumber) {
    static const char kDigits[] = "0123456789ABCDEF";
    const size_t start = static_cast<size_t>(lineNumber - 1) * kBytesPerLine;
    if (lineNumber < 1 || start >= data.size())
        return "";
    const size_t end = std::min(data.size(), start + kBytesPerLine);
    std::string hex;
    hex.reserve((end - start) * 2);
    for (size_t i = start; i < end; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0F];
    }
    return hex;
}

LineOffer::LineOffer(std::string key, std::vector<uint8_t> data, const Faults& faults,
                     int countReads)
    : key_(std::move(key)),
      data_(std::move(data)),
      oddDigits_(faults.linesOddDigits),
      lineCount_(static_cast<int>((data_.size() + kBytesPerLine - 1) / kBytesPerLine)) {
    if (faults.linesEmpty) {
        data_.clear();
        lineCount_ = 1;
    }
    BuildSchedule(faults, countReads);
}

void LineOffer::BuildSchedule(const Faults& faults, int countReads) {
    const int n = lineCount_;
    if (faults.linesBeforeCount) {
        for (int line = 1; line <= std::min(n, 2); ++line)
            opening_.push_back({line, false, false});
    }
    for (int i = 0; i < std::max(countReads, 1); ++i)
        opening_.push_back({0, false, false});

    for (int line = 1; line <= n; ++line) {
        if (faults.linesOutOfRange && line == 1)
            cycle_.push_back({n + 1, true, false});
        cycle_.push_back({line, false, false});
        if (faults.linesRepeated)
            cycle_.push_back({line, false, false});
        if (faults.linesOutOfRange && line == (n + 1) / 2)
            cycle_.push_back({n + 1000, true, false});
    }
    // With nothing to offer the count stays up.
    if (cycle_.empty())
        cycle_.push_back({0, false, false});

    if (faults.linesWithoutSemicolon) {
        opening_ = WithoutSemicolonFirst(opening_);
        cycle_ = WithoutSemicolonFirst(cycle_);
    }
}

std::string LineOffer::Format(const Step& step) const {
    std::string field = key_ + std::to_string(step.number) + ",";
    if (step.number == 0) {
        field += std::to_string(lineCount_);
    } else {
        field += step.bogus ? kBogusHex : LineHex(data_, step.number);
        if (oddDigits_)
            field += 'F';  // a single digit left over, which a reader drops
    }
    if (!step.withoutSemicolon)
        field += ';';
    return field;
}

std::string LineOffer::NextField() {
    const Step& step = position_ < opening_.size()
                           ? opening_[position_]
                           : cycle_[(position_ - opening_.size()) % cycle_.size()];
    ++position_;
    lastNumber_ = step.number;
    return Format(step);
}

std::string StatusText(int machineType, const std::string& field) {
    return "MFG:Generic;CMD:PJL,PCL,PS;MDL:Service Machine Type " + std::to_string(machineType) +
           ";CLS:PRINTER;DES:Simulated service machine;" + field;
}

}  // namespace kelo::sim
