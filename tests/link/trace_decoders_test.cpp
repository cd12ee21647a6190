// How the protocol trace reads each format of the link: one conversation per table, each
// block with the decoding it must get, in the order the blocks went over the channel.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/access_code_mask.h"
#include "link/command_trace.h"
#include "link/frame_trace.h"
#include "link/lpr_trace.h"
#include "link/status_text.h"
#include "testsupport/test_bytes.h"
#include "testsupport/text_case.h"

namespace {

using kelo::platform::TraceDirection;
constexpr TraceDirection kOut = TraceDirection::kToMachine;
constexpr TraceDirection kIn = TraceDirection::kFromMachine;

using testing_support::HexBytes;

struct Block {
    TraceDirection direction;
    std::string bytes;
    const char* decoding;
};

void ExpectDecodings(kelo::platform::TraceDecoder& decoder, const std::vector<Block>& blocks) {
    for (const Block& block : blocks) {
        EXPECT_EQ(
            decoder.Decode(block.direction, reinterpret_cast<const uint8_t*>(block.bytes.data()),
                           block.bytes.size()),
            block.decoding);
    }
}

using Ranges = std::vector<kelo::platform::TraceHiddenRange>;

std::string Repeat(char c, size_t count) {
    return std::string(count, c);
}

const uint8_t* Data(const std::string& bytes) {
    return reinterpret_cast<const uint8_t*>(bytes.data());
}

TEST(AccessCodeMask, HidesTheCodeAfterEachMarkerWhereverTheBlocksSplitIt) {
    const std::string code = Repeat('c', 500);
    const struct {
        std::vector<std::string> blocks;
        std::vector<Ranges> hidden;
    } cases[] = {
        {{"OPEN CODE=" + code + "GET"}, {{{10, 500}}}},
        {{"xxOPEN CO", "DE=" + code.substr(0, 300), code.substr(300) + "tail"},
         {{}, {{3, 300}}, {{0, 200}}}},
        {{"O", "PEN", " CODE", "=", code}, {{}, {}, {}, {}, {{0, 500}}}},
        {{"OPEN COPEN CODE=" + code.substr(0, 2)}, {{{16, 2}}}},
        {{"no marker, then OPEN CODE", "!" + code}, {{}, {}}},
        // A stray marker shortly before a real access line: the real code stays hidden whole.
        {{"OPEN CODE=ab", "OPEN CODE=" + code}, {{{10, 2}}, {{0, 510}}}},
        {{"OPEN CODE=x OPEN CODE=" + code + "GET"}, {{{10, 512}}}},
        {{"OPEN CODE=" + Repeat('y', 490) + "OPEN CO", "DE=" + code + "!"},
         {{{10, 497}}, {{0, 503}}}},
    };
    for (const auto& c : cases) {
        kelo::AccessCodeMask mask;
        for (size_t i = 0; i < c.blocks.size(); ++i) {
            std::vector<uint8_t> masked;
            const Ranges ranges = mask.Apply(Data(c.blocks[i]), c.blocks[i].size(), masked);
            EXPECT_EQ(ranges, c.hidden[i]) << c.blocks[0] << " block " << i;
            for (const kelo::platform::TraceHiddenRange& range : ranges) {
                EXPECT_EQ(
                    std::string(masked.begin(), masked.end()).substr(range.offset, range.length),
                    Repeat('*', range.length));
            }
        }
    }
}

TEST(PacketLinkTrace, FramesWholeOrSplitOverReceives) {
    ExpectDecodings(
        *kelo::MakePacketLinkDecoder(),
        {
            {kOut, HexBytes<std::string>("80 00 02 00 01 7C"),
             "packet frame: command 00 01 (get report), L 2, check byte good"},
            {kOut, HexBytes<std::string>("80 00 05 00 06 41 42 84 6D"),
             "packet frame: command 00 06 (text command) \"AB\", data-sum good, L 5, "
             "check byte good"},
            {kOut, HexBytes<std::string>("80 00 05 00 05 41 42 99 59"),
             "packet frame: command 00 05 (put the second half of the parameter "
             "set), 2 bytes of data, data-sum bad, L 5, check byte good"},
            {kIn, HexBytes<std::string>("80"), "reply frame begins: 1 of 3 header bytes"},
            {kIn, HexBytes<std::string>("00 03"), "reply frame header: L 3, 4 bytes to follow"},
            {kIn, HexBytes<std::string>("41 42"),
             "reply frame continues: 2 of 4 bytes after the header"},
            {kIn, HexBytes<std::string>("43 B6 80 00 00 7F 80 00 03 41"),
             "end of reply frame: L 3, body \"ABC\", check byte good; reply frame: "
             "L 0, body \"\", check byte good; reply frame begins: L 3, 1 of 4 "
             "bytes after the header"},
            {kIn, HexBytes<std::string>("42 43 B7"),
             "end of reply frame: L 3, body \"ABC\", check byte bad"},
            {kIn, HexBytes<std::string>("7F 00 00 80"),
             "not a reply frame: lead byte 0x7F; 1 byte after a frame that went wrong"},
        });
}

TEST(LpdTrace, JobCommandsDataFilesAndAcknowledgements) {
    ExpectDecodings(*kelo::MakeLpdDecoder(),
                    {
                        {kOut, "\x02lp1\n", "LPD receive a printer job, queue \"lp1\""},
                        {kIn, HexBytes<std::string>("00"), "LPD acknowledgement: positive (0x00)"},
                        {kOut,
                         "\x03"
                         "12 x\n",
                         "LPD receive data file, 12 bytes, name \"x\""},
                        {kOut, "PIPE MONITOR", "LPD data file: monitor line \"PIPE MONITOR\""},
                        {kOut, HexBytes<std::string>("00"), "LPD end of data file"},
                        {kOut,
                         "\x03"
                         "6 x\n",
                         "LPD receive data file, 6 bytes, name \"x\""},
                        {kOut, HexBytes<std::string>("00 03 72 73 0A F3"),
                         "LPD data file: command frame \"rs\\n\", length 3, check byte good"},
                        {kOut, HexBytes<std::string>("00"), "LPD end of data file"},
                        {kOut,
                         "\x03"
                         "1 x\n",
                         "LPD receive data file, 1 byte, name \"x\""},
                        {kOut, HexBytes<std::string>("00"), "LPD data file: end-of-exchange byte"},
                        {kOut, HexBytes<std::string>("00"), "LPD end of data file"},
                        {kIn, HexBytes<std::string>("01"), "LPD acknowledgement: negative (0x01)"},
                    });
}

TEST(LocalPortTrace, CommandsToTheMachineAndDeviceIdsFromIt) {
    const std::string accessLine = "OPEN CODE=" + std::string(500, '*');
    ExpectDecodings(
        *kelo::MakeLocalPortDecoder(),
        {
            {kOut, accessLine,
             "access line \"OPEN CODE=\" <access code, 500 characters, not shown>"},
            {kOut, "PUT PARAM", "command \"PUT PARAM\", the parameter set follows"},
            {kOut, HexBytes<std::string>("00 01 02"), "parameter set, 3 bytes"},
            {kOut, "PIPE MONITOR", "monitor line \"PIPE MONITOR\""},
            {kOut,
             HexBytes<std::string>("00 12") + "BOOT_UpdateMain 0\n" + HexBytes<std::string>("E8"),
             "command frame \"BOOT_UpdateMain 0\\n\", length 18, check byte good"},
            {kOut, HexBytes<std::string>("80 00 01 02"), "firmware image, 4 bytes"},
            {kOut, accessLine,
             "access line \"OPEN CODE=\" <access code, 500 characters, not shown>"},
            {kOut, "GET REPORT", "command \"GET REPORT\""},
            {kOut, HexBytes<std::string>("00 06") + "rs\n",
             "request payload: text command \"rs\\n\""},
            {kIn, HexBytes<std::string>("00 16") + "MFG:X;REPORT:2,4142;",
             "device ID \"MFG:X;REPORT:2,4142;\"; REPORT: line 2, 2 bytes"},
        });
}

TEST(StatusTextTrace, SaysWhatTheLineFieldsCarry) {
    const testing_support::TextCase cases[] = {
        {"MFG:X;REPORT:0,12;", "REPORT: count 12"},
        {"READ_PARAM:3,0102;", "READ_PARAM: line 3, 2 bytes"},
        {"REPORT:1,414;", "REPORT: line 1, 1 byte"},
        {"REPORT:0,3", "REPORT: without a payload"},
        {"MFG:X;CMD:Y;", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelo::DescribeStatusText(c.given), c.expected) << c.given;
}

}  // namespace
