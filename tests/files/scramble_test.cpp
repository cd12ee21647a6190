#include "files/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "files/scramble_detail.h"
#include "platform/access_codes.h"
#include "tests/files/file_test_support.h"

namespace kelo {
namespace {

using filetest::Bytes;
using filetest::Concat;
using filetest::HexBytes;
using filetest::RandomBytes;
using filetest::Repeat;

// Runs of 1 to 300 equal bytes, the shape of report text with its padding.
Bytes RunHeavyBytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes;
    while (bytes.size() < count) {
        const size_t run = std::min<size_t>(1 + generator() % 300, count - bytes.size());
        bytes.insert(bytes.end(), run, static_cast<uint8_t>(generator() % 4));
    }
    return bytes;
}

// Bytes that never repeat their neighbour: one long literal stretch.
Bytes VariedBytes(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

Bytes Pack(const Bytes& input, int capacity = 1 << 20) {
    Bytes output(static_cast<size_t>(capacity));
    const int n =
        detail::PackRuns(input.data(), static_cast<int>(input.size()), output.data(), capacity);
    if (n < 0)
        return HexBytes("DEAD");  // never a valid packing of these inputs
    output.resize(static_cast<size_t>(n));
    return output;
}

// Runs ScrambleFileData on a copy of source; the result is the return value and target bytes.
struct Outcome {
    int result;
    Bytes target;
};

Outcome Apply(Bytes source, uint8_t mode, int capacity) {
    Bytes target(static_cast<size_t>(capacity) + 1, 0xEE);
    const int result = ScrambleFileData(source.data(), static_cast<int>(source.size()),
                                        target.data(), capacity, mode);
    target.resize(result > 0 ? static_cast<size_t>(result) : 0);
    return {result, target};
}

TEST(ScrambleFileData, EmptyBlocks) {
    struct Case {
        uint8_t mode;
        Bytes source;
        int expected;
        Bytes target;
    };
    const Case cases[] = {
        {ModeEncodeTagged, {}, 1, HexBytes("07")}, {ModeEncodeUntagged, {}, 0, {}},
        {ModeDecodeTagged, HexBytes("07"), 0, {}}, {ModeDecodeTagged, HexBytes("5A"), 0, {}},
        {ModeDecodeUntagged, {}, 0, {}},           {ModeDecodeTagged, {}, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int{c.mode});
        const Outcome out = Apply(c.source, c.mode, 16);
        EXPECT_EQ(out.result, c.expected);
        EXPECT_EQ(out.target, c.target);
    }
}

// A fixed block through all three steps with the frozen file key: packed 02 41 42 43, keyed
// with "1&XW" to 33 67 9A 9A, bits spread with offsets 0 0 1 1 2 2 3 3.
TEST(ScrambleFileData, KnownBlock) {
    EXPECT_EQ(Apply(HexBytes("41 42 43"), ModeEncodeTagged, 16).target, HexBytes("97 1B 7A A2 07"));
    EXPECT_EQ(Apply(HexBytes("41 42 43"), ModeEncodeUntagged, 16).target, HexBytes("97 1B 7A A2"));
    EXPECT_EQ(Apply(HexBytes("97 1B 7A A2 07"), ModeDecodeTagged, 16).target, HexBytes("41 42 43"));
}

TEST(ScrambleFileData, RoundTripsAtEveryLength) {
    const size_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 500, 501, 502, 1001, 131071};
    for (const size_t length : lengths) {
        for (const bool runHeavy : {false, true}) {
            const Bytes plain = runHeavy ? RunHeavyBytes(length, 7) : RandomBytes(length, 11);
            const int capacity = static_cast<int>(length * 2 + 16);
            for (const uint8_t mode : {ModeEncodeTagged, ModeEncodeUntagged}) {
                SCOPED_TRACE(::testing::Message() << "length " << length << " run-heavy "
                                                  << runHeavy << " mode " << int{mode});
                const Outcome scrambled = Apply(plain, mode, capacity);
                ASSERT_GE(scrambled.result, 0);
                if (mode == ModeEncodeTagged) {
                    EXPECT_EQ(scrambled.target.back(), 0x07);
                }
                const Outcome back = Apply(scrambled.target, mode & 0x10, static_cast<int>(length));
                EXPECT_EQ(back.result, static_cast<int>(length));
                EXPECT_EQ(back.target, plain);
            }
        }
    }
}

TEST(ScrambleFileData, TargetOneByteShortFails) {
    const Bytes plain = RunHeavyBytes(1001, 3);
    const Outcome scrambled = Apply(plain, ModeEncodeTagged, 4096);
    EXPECT_EQ(Apply(scrambled.target, ModeDecodeTagged, 1001).result, 1001);
    EXPECT_EQ(Apply(scrambled.target, ModeDecodeTagged, 1000).result, -1);
    // Scrambling needs room for every chunk and then for the stage byte.
    const int packed = Apply(plain, ModeEncodeUntagged, 4096).result;
    EXPECT_EQ(Apply(plain, ModeEncodeUntagged, packed - 1).result, -1);
    EXPECT_EQ(Apply(plain, ModeEncodeTagged, packed).result, -1);
    EXPECT_EQ(Apply(plain, ModeEncodeTagged, packed + 1).result, packed + 1);
}

TEST(ScrambleFileData, AnyStageByteUnscramblesAlike) {
    const Bytes plain = RandomBytes(777, 5);
    Bytes file = Apply(plain, ModeEncodeTagged, 4096).target;
    for (const int stage : {0x00, 0x01, 0x06, 0x07, 0x80, 0xFF}) {
        file.back() = static_cast<uint8_t>(stage);
        EXPECT_EQ(Apply(file, ModeDecodeTagged, 777).target, plain) << "stage " << stage;
    }
}

TEST(ScrambleFileData, UnknownModeTouchesNothing) {
    for (const int mode : {0x02, 0x03, 0x08, 0x12, 0x20, 0x21, 0x80, 0x81, 0x91, 0xFF}) {
        Bytes source = Repeat(32, 0x5A);
        Bytes target = Repeat(64, 0xEE);
        EXPECT_EQ(
            ScrambleFileData(source.data(), 32, target.data(), 64, static_cast<uint8_t>(mode)), -1)
            << "mode " << mode;
        EXPECT_EQ(source, Repeat(32, 0x5A));
        EXPECT_EQ(target, Repeat(64, 0xEE));
    }
}

TEST(ScrambleFileData, NegativeCountsFail) {
    uint8_t source[4] = {1, 2, 3, 4};
    uint8_t target[16] = {};
    for (const uint8_t mode :
         {ModeDecodeTagged, ModeEncodeTagged, ModeDecodeUntagged, ModeEncodeUntagged}) {
        EXPECT_EQ(ScrambleFileData(source, -1, target, 16, mode), -1);
        EXPECT_EQ(ScrambleFileData(source, 4, target, -1, mode), -1);
    }
}

TEST(SumBytes, AddsModulo256) {
    const Bytes bytes = HexBytes("FF 02 80 80");
    EXPECT_EQ(SumBytes(bytes.data(), 4), 0x01);
    EXPECT_EQ(SumBytes(bytes.data(), 0), 0x00);
    EXPECT_EQ(SumBytes(bytes.data(), -3), 0x00);
}

TEST(PackRuns, Chunks) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes packed;
    };
    const Bytes varied129 = VariedBytes(129);
    const Case cases[] = {
        {"nothing", {}, {}},
        {"one byte", HexBytes("41"), HexBytes("00 41")},
        {"a pair", HexBytes("41 41"), HexBytes("FF 41")},
        {"two varied", HexBytes("41 42"), HexBytes("01 41 42")},
        {"1 2 2 3", HexBytes("01 02 02 03"), HexBytes("00 01 FF 02 00 03")},
        {"literal stops before a pair", HexBytes("01 02 03 03"), HexBytes("01 01 02 FF 03")},
        {"128 equal", Repeat(128, 0x41), HexBytes("81 41")},
        {"129 equal", Repeat(129, 0x41), HexBytes("81 41 00 41")},
        {"130 equal", Repeat(130, 0x41), HexBytes("81 41 FF 41")},
        {"256 equal", Repeat(256, 0x41), HexBytes("81 41 81 41")},
        {"129 varied", varied129,
         Concat({HexBytes("7F"), Bytes(varied129.begin(), varied129.begin() + 128), HexBytes("00"),
                 Bytes(1, varied129.back())})},
        {"128 varied", VariedBytes(128), Concat({HexBytes("7F"), VariedBytes(128)})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Pack(c.input), c.packed) << c.name;
    }
}

// Walks a packed stream chunk by chunk and returns its headers.
std::vector<uint8_t> Headers(const Bytes& packed) {
    std::vector<uint8_t> headers;
    for (size_t at = 0; at < packed.size();) {
        const uint8_t header = packed[at];
        headers.push_back(header);
        at += header < 0x80 ? 1 + header + 1u : 2;
    }
    return headers;
}

TEST(PackRuns, NeverWritesHeader80) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        for (const Bytes& input : {RandomBytes(5000, seed), RunHeavyBytes(5000, seed)}) {
            for (const uint8_t header : Headers(Pack(input)))
                ASSERT_NE(header, 0x80);
        }
    }
}

TEST(PackRuns, EachChunkMustFitWhole) {
    EXPECT_EQ(Pack(Repeat(128, 0x41), 2), HexBytes("81 41"));
    EXPECT_EQ(Pack(Repeat(128, 0x41), 1), HexBytes("DEAD"));
    EXPECT_EQ(Pack(HexBytes("01 02 03"), 4), HexBytes("02 01 02 03"));
    EXPECT_EQ(Pack(HexBytes("01 02 03"), 3), HexBytes("DEAD"));
    EXPECT_EQ(Pack(Repeat(129, 0x41), 3), HexBytes("DEAD"));
}

TEST(UnpackRuns, Streams) {
    struct Case {
        const char* name;
        Bytes packed;
        int capacity;
        int expected;  // -1 for failure
        Bytes output;
    };
    const Case cases[] = {
        {"nothing", {}, 8, 0, {}},
        {"0x80 is skipped", HexBytes("80 00 41"), 8, 1, HexBytes("41")},
        {"ends in 0x80", HexBytes("00 41 80"), 8, -1, {}},
        {"only 0x80 0x80", HexBytes("80 80"), 8, -1, {}},
        {"a single byte", HexBytes("41"), 8, -1, {}},
        {"literal cut short", HexBytes("02 41 42"), 8, -1, {}},
        {"literal exact", HexBytes("02 41 42 43"), 8, 3, HexBytes("41 42 43")},
        {"repeat of two", HexBytes("FF 41"), 8, 2, HexBytes("41 41")},
        {"repeat past capacity", HexBytes("FF 41"), 1, -1, {}},
        {"literal past capacity", HexBytes("01 41 42"), 1, -1, {}},
        {"repeat of 128", HexBytes("81 7A"), 128, 128, Repeat(128, 0x7A)},
    };
    for (const Case& c : cases) {
        Bytes output(static_cast<size_t>(c.capacity));
        const int n = detail::UnpackRuns(c.packed.data(), static_cast<int>(c.packed.size()),
                                         output.data(), c.capacity);
        EXPECT_EQ(n, c.expected) << c.name;
        if (n >= 0) {
            output.resize(static_cast<size_t>(n));
            EXPECT_EQ(output, c.output) << c.name;
        }
    }
}

// The file decoders unscramble into a block of exactly the plain size: the densest stream
// (repeats of 128 bytes all through) gives 64 bytes for each, and a block one byte past the
// capacity is refused as ScrambleFileData refuses it.
TEST(UnscrambleFileBlock, SizesThePlainBlockExactlyAndKeepsTheCapacity) {
    Bytes plain(200 * 128, 0);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(i / 128);
    for (const uint8_t mode : {ModeDecodeTagged, ModeDecodeUntagged}) {
        const Bytes file = Apply(plain, static_cast<uint8_t>(mode | 0x01), 1 << 20).target;
        EXPECT_EQ(file.size(), 400u + (mode == ModeDecodeTagged ? 1 : 0));
        Bytes copy = file;
        Bytes out;
        ASSERT_TRUE(UnscrambleFileBlock(copy.data(), static_cast<int>(copy.size()),
                                        static_cast<int>(plain.size()), mode, out));
        EXPECT_EQ(out, plain);
        copy = file;
        EXPECT_FALSE(UnscrambleFileBlock(copy.data(), static_cast<int>(copy.size()),
                                         static_cast<int>(plain.size()) - 1, mode, out));
        EXPECT_TRUE(out.empty());
    }
    Bytes stream = HexBytes("02 41 42");  // a literal cut short: no amount of room helps
    Bytes out;
    EXPECT_FALSE(UnscrambleFileBlock(stream.data(), 3, 1000, ModeDecodeUntagged, out));
    EXPECT_FALSE(UnscrambleFileBlock(stream.data(), 3, 1000, ModeEncodeUntagged, out));
}

// The encoders size their target by ScrambleRoom. Its worst case, one single byte and then a
// pair over and over, fills that room exactly: one byte less and scrambling fails.
TEST(ScrambleRoom, HoldsTheLongestPackingExactly) {
    for (const size_t groups : {0u, 1u, 7u, 1000u}) {
        Bytes plain;
        for (size_t g = 0; g < groups; ++g)
            plain.insert(plain.end(), {static_cast<uint8_t>(2 * g), static_cast<uint8_t>(2 * g + 1),
                                       static_cast<uint8_t>(2 * g + 1)});
        plain.push_back(0xEE);  // a literal ends the block
        const int room = ScrambleRoom(plain.size(), 1 << 20);
        Bytes target(static_cast<size_t>(room));
        Bytes source = plain;
        EXPECT_EQ(ScrambleFileData(source.data(), static_cast<int>(source.size()), target.data(),
                                   room, ModeEncodeTagged),
                  room)
            << groups;
        source = plain;
        EXPECT_EQ(ScrambleFileData(source.data(), static_cast<int>(source.size()), target.data(),
                                   room - 1, ModeEncodeTagged),
                  -1)
            << groups;
    }
    EXPECT_EQ(ScrambleRoom(size_t{1} << 40, 131072), 131072);
    EXPECT_EQ(ScrambleRoom(131071, 131072), 131072);
    EXPECT_EQ(ScrambleRoom(10, 0), 0);
}

TEST(ApplyKeyStream, RepeatsEvery501Bytes) {
    Bytes block(3 * 501, 0);
    detail::ApplyKeyStream(block.data(), static_cast<int>(block.size()), true);
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(block[i], static_cast<uint8_t>(platform::kAccessCodeA[i])) << i;
    }
    // The key's zero byte leaves positions 500, 1001 and 1502 unchanged.
    EXPECT_EQ(block[500], 0);
    EXPECT_EQ(block[1001], 0);
    EXPECT_EQ(block[1502], 0);
    for (size_t i = 501; i < block.size(); ++i)
        ASSERT_EQ(block[i], block[i - 501]) << i;

    detail::ApplyKeyStream(block.data(), static_cast<int>(block.size()), false);
    EXPECT_EQ(block, Bytes(3 * 501, 0));
}

TEST(SpreadBits, MovesEachBitByItsOffset) {
    struct Case {
        const char* name;
        Bytes block;
        Bytes spread;
    };
    const Case cases[] = {
        // n = 9: bit k-1 comes from k places further on.
        {"nine bytes", HexBytes("FF 00 00 00 00 00 00 00 00"),
         HexBytes("00 80 40 20 10 08 04 02 01")},
        // n = 2: bits 0-3 stay (offset 0), bits 4-7 come from the other byte.
        {"two bytes", HexBytes("FF 00"), HexBytes("0F F0")},
        {"one byte", HexBytes("A5"), HexBytes("A5")},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        Bytes block = c.block;
        ASSERT_TRUE(detail::SpreadBits(block.data(), static_cast<int>(block.size()), true));
        EXPECT_EQ(block, c.spread) << c.name;
        ASSERT_TRUE(detail::SpreadBits(block.data(), static_cast<int>(block.size()), false));
        EXPECT_EQ(block, c.block) << c.name;
    }
}

// The same rule written with a modulo per bit, against the stretch-by-stretch version.
TEST(SpreadBits, AgreesWithModuloRuleAtManyLengths) {
    for (const int n : {3, 8, 10, 17, 18, 19, 100, 501, 1000, 4099}) {
        const Bytes original = RandomBytes(static_cast<size_t>(n), static_cast<uint32_t>(n));
        Bytes expected(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            for (int k = 1; k <= 8; ++k) {
                const int64_t offset = int64_t{n} * k / 9;
                const uint8_t bit = static_cast<uint8_t>(1 << (k - 1));
                expected[i] |= original[static_cast<size_t>((i + offset) % n)] & bit;
            }
        }
        Bytes block = original;
        ASSERT_TRUE(detail::SpreadBits(block.data(), n, true));
        EXPECT_EQ(block, expected) << "length " << n;
        ASSERT_TRUE(detail::SpreadBits(block.data(), n, false));
        EXPECT_EQ(block, original) << "length " << n;
    }
}

}  // namespace
}  // namespace kelo
