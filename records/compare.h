// Comparing two reports or two parameter sets, whether they come from the records or from
// files. Pure functions over the texts and bytes; the caller reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelo::records {

// The difference of two report texts in the unified form of `diff -u`: the two label lines,
// then hunks of changed lines with three lines of context. Lines end at line feeds; a last line
// without one is marked "\ No newline at end of file". Empty when the texts are equal.
std::string UnifiedDiff(const std::string& before, const std::string& after,
                        const std::string& beforeLabel, const std::string& afterLabel);

// A run of bytes that differs between two parameter sets. Where one set is shorter, the run
// reaches past its end and its side holds only the bytes it has (possibly none).
struct ChangedBytes {
    size_t offset = 0;
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
};

// The changed runs in offset order; empty when the sets are equal.
std::vector<ChangedBytes> ChangedByteRanges(const std::vector<uint8_t>& before,
                                            const std::vector<uint8_t>& after);

// One line a run: "0x0000a0: 01 02 -> 03 04", "-" for a side without bytes.
std::string FormatChangedBytes(const std::vector<ChangedBytes>& changes);

// How many bytes the runs cover: a byte past the end of the shorter set counts.
size_t ChangedByteCount(const std::vector<ChangedBytes>& changes);

// The line that ends a comparison of parameter sets: "12 bytes differ in 3 ranges" (a byte
// past the end of the shorter set counts), with a line end.
std::string ChangedBytesTotal(const std::vector<ChangedBytes>& changes);

}  // namespace kelo::records
