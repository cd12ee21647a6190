// How machine types 1 and 2 hand out a report or a parameter set through their status text:
// one field, "REPORT:" or "READ_PARAM:", changes from one status read to the next. It first
// carries the count payload "0,N" for a few reads, then the line payloads "n,HEX" one per
// read, 128 bytes a line as uppercase hexadecimal pairs, the last line shorter; then the
// lines come round again until the exchange ends. The lines-* faults change that sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace kelo::sim {

constexpr size_t kBytesPerLine = 128;
constexpr int kCountReads = 3;

// One line as uppercase hexadecimal pairs; line numbers start at 1.
std::string LineHex(const std::vector<uint8_t>& data, int lineNumber);

class LineOffer {
  public:
    // key is "REPORT:" or "READ_PARAM:".
    LineOffer(std::string key, std::vector<uint8_t> data, const Faults& faults,
              int countReads = kCountReads);

    const std::string& Key() const { return key_; }
    int LineCount() const { return lineCount_; }

    // The field for the next status read, e.g. "REPORT:0,12;" or "REPORT:3,4142;", and
    // moves on to the one after it.
    std::string NextField();

    // The payload number of the field NextField returned last: 0 for the count, else the
    // line number offered.
    int LastNumber() const { return lastNumber_; }

  private:
    struct Step {
        int number;             // 0: the count; else a line number
        bool bogus;             // a line number outside 1..N carrying made-up bytes
        bool withoutSemicolon;  // the field ends without its ';'
    };

    void BuildSchedule(const Faults& faults, int countReads);
    // Every step twice: first without its ';', then as it should be.
    static std::vector<Step> WithoutSemicolonFirst(const std::vector<Step>& steps);
    std::string Format(const Step& step) const;

    std::string key_;
    std::vector<uint8_t> data_;
    bool oddDigits_ = false;
    int lineCount_ = 0;
    std::vector<Step> opening_;  // offered once: early lines, the count
    std::vector<Step> cycle_;    // offered round and round after the opening
    size_t position_ = 0;
    int lastNumber_ = 0;
};

// The whole status text of one read: the machine's fixed IEEE 1284 style fields, then the
// offered field when there is one (last, so a field without ';' has none after it).
std::string StatusText(int machineType, const std::string& field);

}  // namespace kelo::sim
