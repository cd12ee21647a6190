// Scrambling and unscrambling one 131,072-byte block, the largest a saved file holds.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "files/scramble.h"

namespace {

constexpr int kBlock = 131072;

// Text shaped like a service report: numbered lines, values, runs of padding spaces.
std::vector<uint8_t> ReportLikeBlock() {
    std::vector<uint8_t> block;
    std::mt19937 generator(1);
    char line[96];
    for (int n = 0; block.size() < kBlock; ++n) {
        const int written = std::snprintf(line, sizeof line, "PARAM %04d = %08X%*s\r\n", n,
                                          static_cast<unsigned>(generator()),
                                          static_cast<int>(generator() % 40), "");
        block.insert(block.end(), line, line + written);
    }
    block.resize(kBlock);
    return block;
}

// Random bytes: almost no runs, so packing writes the most and unpacking copies the most.
std::vector<uint8_t> RandomBlock() {
    std::vector<uint8_t> block(kBlock);
    std::mt19937 generator(2);
    for (uint8_t& b : block)
        b = static_cast<uint8_t>(generator());
    return block;
}

void Scramble(benchmark::State& state, std::vector<uint8_t> plain) {
    std::vector<uint8_t> target(2 * kBlock);
    for (auto _ : state) {
        const int n =
            kelo::ScrambleFileData(plain.data(), kBlock, target.data(),
                                   static_cast<int>(target.size()), kelo::ModeEncodeTagged);
        if (n < 0)
            state.SkipWithError("scrambling failed");
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}

// Unscrambling rewrites its source, so every round starts from a fresh copy of the file; the
// copy is part of what is timed.
void Unscramble(benchmark::State& state, std::vector<uint8_t> plain) {
    std::vector<uint8_t> file(2 * kBlock);
    const int length = kelo::ScrambleFileData(
        plain.data(), kBlock, file.data(), static_cast<int>(file.size()), kelo::ModeEncodeTagged);
    file.resize(static_cast<size_t>(length));
    std::vector<uint8_t> source(file.size());
    std::vector<uint8_t> target(kBlock);
    for (auto _ : state) {
        std::memcpy(source.data(), file.data(), file.size());
        const int n = kelo::ScrambleFileData(source.data(), length, target.data(), kBlock,
                                             kelo::ModeDecodeTagged);
        if (n != kBlock)
            state.SkipWithError("unscrambling failed");
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}

BENCHMARK_CAPTURE(Scramble, report_text, ReportLikeBlock());
BENCHMARK_CAPTURE(Scramble, random_bytes, RandomBlock());
BENCHMARK_CAPTURE(Unscramble, report_text, ReportLikeBlock());
BENCHMARK_CAPTURE(Unscramble, random_bytes, RandomBlock());

}  // namespace

BENCHMARK_MAIN();
