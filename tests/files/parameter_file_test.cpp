#include "files/parameter_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "files/firmware_file.h"
#include "files/scramble.h"
#include "platform/message_recorder.h"
#include "tests/files/file_test_support.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace kelo {
namespace {

using filetest::Bytes;
using filetest::HexBytes;
using filetest::RandomBytes;
using Messages = std::vector<std::string>;

constexpr char kIllegalParameters[] = "Illegal Parameter File.";

Bytes ScrambleUntagged(Bytes plain) {
    return filetest::ScrambleWithoutLimit(std::move(plain), ModeEncodeUntagged);
}

// A chooser that answers with one path and counts how often it was asked.
struct Chooser {
    std::string path;
    bool confirm = true;
    int asked = 0;
    PathChooser Function() {
        return [this](std::string& chosen) {
            ++asked;
            if (confirm)
                chosen = path;
            return confirm;
        };
    }
};

class ParameterFileTest : public ::testing::Test {
  protected:
    testing_support::TempDir folder_;
    platform::MessageRecorder messages_;
};

TEST_F(ParameterFileTest, SavedSetLoadsBackWithItsCheckByte) {
    const Bytes sets[] = {
        HexBytes("00"),      HexBytes("01 02 03"), Bytes(65536, 0x20),
        Bytes(131071, 0xFF), RandomBytes(4000, 2),
    };
    for (const Bytes& data : sets) {
        SCOPED_TRACE(data.size());
        Chooser chooser{folder_ / "params"};
        ASSERT_TRUE(
            SaveParameterFile(data.data(), static_cast<int>(data.size()), chooser.Function()));
        EXPECT_LE(testing_support::ReadFileBytes(chooser.path).size(), 131072u);
        Bytes plain;
        ASSERT_TRUE(LoadParameterFile(chooser.Function(), plain));
        Bytes expected = data;
        expected.push_back(
            static_cast<uint8_t>(SumBytes(data.data(), static_cast<int>(data.size())) + 1));
        EXPECT_EQ(plain, expected);
    }
    EXPECT_EQ(messages_.Texts(), Messages{});
}

TEST_F(ParameterFileTest, NothingToSaveAsksNothingAndShowsNothing) {
    const Bytes buffer = RandomBytes(131072, 3);
    for (const int count : {0, -1, 131072, 131073, 131071 /* random: too large once packed */}) {
        SCOPED_TRACE(count);
        Chooser chooser{folder_ / "params"};
        EXPECT_FALSE(SaveParameterFile(buffer.data(), count, chooser.Function()));
        EXPECT_EQ(chooser.asked, 0);
        EXPECT_FALSE(filetest::Exists(chooser.path));
    }
    EXPECT_EQ(messages_.Texts(), Messages{});
}

TEST_F(ParameterFileTest, CancelledChooserDoesNothing) {
    const Bytes data = HexBytes("10 20 30");
    Chooser chooser{folder_ / "params", false};
    EXPECT_FALSE(SaveParameterFile(data.data(), 3, chooser.Function()));
    EXPECT_EQ(chooser.asked, 1);
    Bytes plain = HexBytes("AA");
    EXPECT_FALSE(LoadParameterFile(chooser.Function(), plain));
    EXPECT_EQ(plain, Bytes{});
    EXPECT_TRUE(folder_.Entries().empty());
    EXPECT_EQ(messages_.Texts(), Messages{});
}

TEST_F(ParameterFileTest, BadFilesAreIllegalParameterFiles) {
    const Bytes data = HexBytes("01 02 03 04");
    Bytes good;
    ASSERT_TRUE(EncodeParameterBlock(data.data(), 4, good));
    Bytes longer = good;
    longer.resize(131073, 0x00);
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"empty file", {}},
        {"empty content", ScrambleUntagged({})},
        {"check byte one too high", ScrambleUntagged(HexBytes("01 02 03 04 0C"))},
        {"check byte zero", ScrambleUntagged(HexBytes("01 02 03 04 00"))},
        {"a single byte", HexBytes("41")},
        {"cut short", Bytes(good.begin(), good.end() - 1)},
        {"longer than 131,072 bytes", longer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.Clear();
        testing_support::WriteFile(folder_ / "bad", c.file);
        Chooser chooser{folder_ / "bad"};
        Bytes plain;
        EXPECT_FALSE(LoadParameterFile(chooser.Function(), plain));
        EXPECT_EQ(plain, Bytes{});
        EXPECT_EQ(messages_.Texts(), Messages{kIllegalParameters});
    }
}

TEST_F(ParameterFileTest, FileErrorsNameThePath) {
    const std::string missing = folder_ / "missing";
    Chooser chooser{missing};
    Bytes plain;
    EXPECT_FALSE(LoadParameterFile(chooser.Function(), plain));

    const Bytes data = HexBytes("01");
    const std::string unwritable = folder_ / "no/folder/params";
    Chooser saver{unwritable};
    EXPECT_FALSE(SaveParameterFile(data.data(), 1, saver.Function()));
    EXPECT_EQ(messages_.Texts(), (Messages{missing + ": No such file or directory",
                                           unwritable + ": No such file or directory"}));
}

class FirmwareFileTest : public ParameterFileTest {};

TEST_F(FirmwareFileTest, NameMustEndInLowerCaseRfw) {
    const Bytes image = RandomBytes(70000, 8);
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"fw.rfw", true},  {"fwrfw", true},       {"fw.RFW", false},
        {"fw.Rfw", false}, {"fw.rfw.bin", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.Clear();
        testing_support::WriteFile(folder_ / c.name, image);
        Chooser chooser{folder_ / c.name};
        Bytes loaded;
        EXPECT_EQ(LoadFirmwareFile(chooser.Function(), loaded), c.accepted);
        EXPECT_EQ(loaded, c.accepted ? image : Bytes{});
        EXPECT_EQ(messages_.Texts(), c.accepted ? Messages{} : Messages{"Illegal File"});
    }
}

TEST_F(FirmwareFileTest, EmptyImageIsAccepted) {
    testing_support::WriteFile(folder_ / "empty.rfw", Bytes{});
    Chooser chooser{folder_ / "empty.rfw"};
    Bytes loaded = HexBytes("FF");
    EXPECT_TRUE(LoadFirmwareFile(chooser.Function(), loaded));
    EXPECT_EQ(loaded, Bytes{});
}

TEST_F(FirmwareFileTest, FileThatCannotBeOpenedShowsWhyBeforeItsName) {
    for (const char* name : {"none.rfw", "none.RFW"}) {
        messages_.Clear();
        const std::string path = folder_ / name;
        Chooser chooser{path};
        Bytes loaded;
        EXPECT_FALSE(LoadFirmwareFile(chooser.Function(), loaded));
        EXPECT_EQ(messages_.Texts(), Messages{path + ": No such file or directory"});
    }
    messages_.Clear();
    Chooser cancelled{folder_ / "none.rfw", false};
    Bytes loaded;
    EXPECT_FALSE(LoadFirmwareFile(cancelled.Function(), loaded));
    EXPECT_EQ(messages_.Texts(), Messages{});
}

}  // namespace
}  // namespace kelo
