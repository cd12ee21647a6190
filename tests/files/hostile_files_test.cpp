// Damaged and made-up files must end in the program's own message, never in a crash or a read
// outside a buffer (this suite also runs under AddressSanitizer and UBSan).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "files/scramble.h"
#include "platform/message_recorder.h"
#include "tests/files/file_test_support.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace kelo {
namespace {

using filetest::Bytes;

std::vector<Bytes> ValidReportFiles() {
    std::mt19937 generator(17);
    std::string runs;
    while (runs.size() < 900)
        runs.append(1 + generator() % 40, static_cast<char>('A' + generator() % 3));
    std::string varied(300, ' ');
    for (char& c : varied)
        c = static_cast<char>(1 + generator() % 255);
    std::vector<Bytes> files;
    for (const std::string& text :
         {std::string(), std::string("A"), std::string("STATUS OK\r\n"), runs, varied}) {
        Bytes file;
        EXPECT_TRUE(EncodeReportBlock(text, file));
        files.push_back(file);
    }
    return files;
}

// Every prefix, every single-bit change (sampled for the larger files), and the file with
// garbage after it.
std::vector<Bytes> DamagedCopies(const Bytes& file, std::mt19937& generator) {
    std::vector<Bytes> copies;
    for (size_t length = 0; length < file.size(); ++length) {
        copies.emplace_back(file.begin(), file.begin() + static_cast<ptrdiff_t>(length));
    }
    const size_t bits = file.size() * 8;
    const size_t flips = std::min<size_t>(bits, 800);
    for (size_t i = 0; i < flips; ++i) {
        const size_t bit = bits <= 800 ? i : generator() % bits;
        Bytes copy = file;
        copy[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
        copies.push_back(copy);
    }
    for (const size_t extra : {1u, 7u, 501u}) {
        Bytes copy = file;
        for (size_t i = 0; i < extra; ++i)
            copy.push_back(static_cast<uint8_t>(generator()));
        copies.push_back(copy);
    }
    return copies;
}

std::vector<Bytes> RandomFiles(std::mt19937& generator) {
    std::vector<Bytes> files;
    for (size_t length = 0; length <= 64; ++length) {
        for (int copy = 0; copy < 8; ++copy) {
            Bytes file(length);
            for (uint8_t& b : file)
                b = static_cast<uint8_t>(generator());
            files.push_back(file);
        }
    }
    for (const size_t length : {501u, 4096u, 70000u, 300000u}) {
        Bytes file(length);
        for (uint8_t& b : file)
            b = static_cast<uint8_t>(generator());
        files.push_back(file);
        files.push_back(Bytes(length, 0x80));  // headers that stand for nothing
    }
    return files;
}

std::vector<Bytes> HostileCorpus() {
    std::mt19937 generator(4242);
    std::vector<Bytes> corpus = RandomFiles(generator);
    for (const Bytes& file : ValidReportFiles()) {
        const std::vector<Bytes> damaged = DamagedCopies(file, generator);
        corpus.insert(corpus.end(), damaged.begin(), damaged.end());
    }
    return corpus;
}

TEST(HostileFiles, ReportDecodeRefusesOrGivesAPlainText) {
    for (const Bytes& file : HostileCorpus()) {
        std::string text = "stale";
        const std::optional<ReportRefusal> failure = DecodeReportBlock(file, text);
        if (failure) {
            ASSERT_EQ(*failure, ReportRefusal::BadContent);
            ASSERT_EQ(text, "");
        } else {
            ASSERT_LE(text.size(), 262143u);
            ASSERT_EQ(text.find('\0'), std::string::npos);
        }
    }
}

TEST(HostileFiles, ReportFileOpensToTheRightMessage) {
    testing_support::TempDir folder;
    platform::MessageRecorder messages;
    const std::vector<Bytes> corpus = HostileCorpus();
    const std::string path = folder / "hostile.kel";
    for (size_t i = 0; i < corpus.size(); i += 23) {
        testing_support::WriteFile(path, corpus[i]);
        messages.Clear();
        std::string decoded;
        const bool valid = !DecodeReportBlock(corpus[i], decoded).has_value();
        std::string text;
        ASSERT_EQ(OpenReportFile(path, text), valid) << i;
        ASSERT_EQ(messages.Texts(), valid ? std::vector<std::string>{}
                                          : std::vector<std::string>{"Illegal Report File."})
            << i;
        ASSERT_EQ(text, decoded);
    }
}

TEST(HostileFiles, ParameterDecodeRefusesOrGivesACheckedBlock) {
    for (const Bytes& file : HostileCorpus()) {
        Bytes plain = {0xAA};
        if (!DecodeParameterBlock(file, plain)) {
            ASSERT_TRUE(plain.empty());
            continue;
        }
        ASSERT_FALSE(plain.empty());
        ASSERT_LE(plain.size(), 131072u);
        const int count = static_cast<int>(plain.size()) - 1;
        ASSERT_EQ(plain.back(), static_cast<uint8_t>(SumBytes(plain.data(), count) + 1));
    }
}

}  // namespace
}  // namespace kelo
