#include "sim/snmp_ber.h"

#include <gtest/gtest.h>

#include "testsupport/test_bytes.h"

namespace kelo::sim {
namespace {

using sim_testing::Bytes;
using testing_support::HexText;

// The status read as a client sends it, request-id 00 00 1A 2B.
const char kStatusGet[] =
    "30 2E 02 01 00 04 06 70 75 62 6C 69 63 A0 21 02 04 00 00 1A 2B 02 01 00 02 01 00 "
    "30 13 30 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00";
// The restart request: the restart object set to INTEGER 10.
const char kRestartSet[] =
    "30 2D 02 01 00 04 06 70 75 62 6C 69 63 A3 20 02 04 00 00 1A 2B 02 01 00 02 01 00 "
    "30 12 30 10 06 0B 2B 06 01 04 01 89 4D 02 08 01 00 02 01 0A";
// kStatusGet with every constructed length in long form (81 nn, 82 00 nn).
const char kStatusGetLongForm[] =
    "30 81 32 02 01 00 04 06 70 75 62 6C 69 63 A0 82 00 23 02 04 00 00 1A 2B 02 01 00 "
    "02 01 00 30 81 14 30 81 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00";

struct RequestCase {
    const char* name;
    const char* hex;
    uint8_t pduType;
    const char* oid;
    uint8_t valueTag;
    const char* value;
};

class SnmpRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(SnmpRequestTest, IsTakenApart) {
    const RequestCase& c = GetParam();
    const std::vector<uint8_t> datagram = Bytes(c.hex);
    const SnmpParse parse = ParseSnmpRequest(datagram.data(), datagram.size());
    ASSERT_TRUE(parse.ok) << parse.reason;
    const SnmpRequest& request = parse.request;
    EXPECT_EQ(request.version, 0);
    EXPECT_EQ(request.community, "public");
    EXPECT_EQ(request.pduType, c.pduType);
    EXPECT_EQ(request.requestIdValue, 0x1A2B);
    EXPECT_EQ(HexText(request.requestId), "00 00 1A 2B");
    ASSERT_EQ(request.varbinds.size(), 1u);
    EXPECT_EQ(OidText(request.varbinds[0].name), c.oid);
    EXPECT_EQ(request.varbinds[0].valueTag, c.valueTag);
    EXPECT_EQ(HexText(request.varbinds[0].value), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SnmpRequestTest,
    ::testing::Values(RequestCase{"StatusGet", kStatusGet, kPduGetRequest,
                                  ".1.3.6.1.4.1.1229.2.2.2.1.24.1", kBerNull, ""},
                      RequestCase{"StatusGetLongForm", kStatusGetLongForm, kPduGetRequest,
                                  ".1.3.6.1.4.1.1229.2.2.2.1.24.1", kBerNull, ""},
                      RequestCase{"RestartSet", kRestartSet, kPduSetRequest,
                                  ".1.3.6.1.4.1.1229.2.8.1.0", kBerInteger, "0A"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SnmpRequestTest, NoCutOfARequestIsTakenForOne) {
    for (const char* hex : {kStatusGet, kRestartSet, kStatusGetLongForm}) {
        const std::vector<uint8_t> datagram = Bytes(hex);
        for (size_t size = 0; size < datagram.size(); ++size) {
            // A copy of exactly the cut length, so a read past it would be caught.
            const std::vector<uint8_t> cut(datagram.begin(), datagram.begin() + size);
            EXPECT_FALSE(ParseSnmpRequest(cut.data(), cut.size()).ok) << hex << " cut at " << size;
        }
    }
}

struct MalformedCase {
    const char* name;
    const char* hex;
    const char* reason;
};

class MalformedRequestTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedRequestTest, IsRefusedWithItsReason) {
    const std::vector<uint8_t> datagram = Bytes(GetParam().hex);
    const SnmpParse parse = ParseSnmpRequest(datagram.data(), datagram.size());
    EXPECT_FALSE(parse.ok);
    EXPECT_EQ(parse.reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, MalformedRequestTest,
    ::testing::Values(
        MalformedCase{"IndefiniteLength", "30 80 02 01 00 00 00", "message"},
        MalformedCase{"LengthBeyondDatagram", "30 7F 02 01 00", "message"},
        MalformedCase{"LongFormBeyondDatagram", "30 84 FF FF FF FF 02 01 00", "message"},
        MalformedCase{"LongFormOfFiveOctets", "30 85 00 00 00 00 03 02 01 00", "message"},
        MalformedCase{"NotASequence", "31 03 02 01 00", "message"},
        MalformedCase{"MultiOctetTag", "3F 01 00", "message"},
        MalformedCase{"VersionMissing", "30 02 04 00", "version"},
        MalformedCase{"CommunityNotAString", "30 06 02 01 00 02 01 00", "community"},
        MalformedCase{"PduOfWrongClass", "30 0A 02 01 00 04 01 70 30 02 02 00", "pdu"},
        MalformedCase{"RequestIdOfFiveOctets",
                      "30 17 02 01 00 04 01 70 A0 0F 02 05 01 02 03 04 05 02 01 00 02 01 00 30 00",
                      "request-id"},
        MalformedCase{"VarBindWithoutValue",
                      "30 1B 02 01 00 04 01 70 A0 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 "
                      "04 2B 06 01 02",
                      "varbind"},
        MalformedCase{"VarBindNameNotAnOid",
                      "30 1B 02 01 00 04 01 70 A0 13 02 01 01 02 01 00 02 01 00 30 08 30 06 04 "
                      "02 2B 06 05 00",
                      "varbind"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SnmpResponseTest, EchoesTheRequestWithTheAnswer) {
    const std::vector<uint8_t> datagram = Bytes(kStatusGet);
    const SnmpRequest request = ParseSnmpRequest(datagram.data(), datagram.size()).request;
    const std::vector<SnmpVarBind> answer = {
        {request.varbinds[0].name, kBerOctetString, Bytes("41 3A 31 3B")}};
    EXPECT_EQ(HexText(EncodeGetResponse(request, kSnmpNoError, 0, answer)),
              "30 32 02 01 00 04 06 70 75 62 6C 69 63 A2 25 02 04 00 00 1A 2B 02 01 00 02 01 00 "
              "30 17 30 15 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 04 04 41 3A 31 3B");
    EXPECT_EQ(HexText(EncodeGetResponse(request, kSnmpNoSuchName, 1, request.varbinds)),
              "30 2E 02 01 00 04 06 70 75 62 6C 69 63 A2 21 02 04 00 00 1A 2B 02 01 02 02 01 01 "
              "30 13 30 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00");
}

TEST(SnmpResponseTest, LongValuesGetLongFormLengths) {
    const std::vector<uint8_t> datagram = Bytes(kStatusGet);
    const SnmpRequest request = ParseSnmpRequest(datagram.data(), datagram.size()).request;
    const std::vector<uint8_t> text(300, 'A');
    const std::vector<uint8_t> response = EncodeGetResponse(
        request, kSnmpNoError, 0, {{request.varbinds[0].name, kBerOctetString, text}});
    EXPECT_EQ(HexText({response[0], response[1], response[2], response[3]}), "30 82 01 62");
    // Taken apart again (a response has the same shape as a request), the text is whole.
    const SnmpParse parse = ParseSnmpRequest(response.data(), response.size());
    ASSERT_TRUE(parse.ok) << parse.reason;
    EXPECT_EQ(parse.request.pduType, kPduGetResponse);
    EXPECT_EQ(parse.request.varbinds[0].value, text);
}

struct LengthCase {
    size_t length;
    const char* hex;
};

TEST(BerLengthTest, UsesTheShortestForm) {
    for (const LengthCase& c : {LengthCase{0, "00"}, LengthCase{127, "7F"},
                                LengthCase{128, "81 80"}, LengthCase{255, "81 FF"},
                                LengthCase{256, "82 01 00"}, LengthCase{65536, "83 01 00 00"}}) {
        std::vector<uint8_t> out;
        AppendBerLength(out, c.length);
        EXPECT_EQ(HexText(out), c.hex) << c.length;
    }
}

struct IntegerCase {
    long long value;
    const char* hex;
};

TEST(BerIntegerTest, FewestTwosComplementOctetsBothWays) {
    for (const IntegerCase& c :
         {IntegerCase{0, "00"}, IntegerCase{10, "0A"}, IntegerCase{127, "7F"},
          IntegerCase{128, "00 80"}, IntegerCase{255, "00 FF"}, IntegerCase{-1, "FF"},
          IntegerCase{-128, "80"}, IntegerCase{-129, "FF 7F"},
          IntegerCase{0x7FFFFFFF, "7F FF FF FF"}}) {
        EXPECT_EQ(HexText(IntegerContent(c.value)), c.hex) << c.value;
        EXPECT_EQ(IntegerValue(Bytes(c.hex)), c.value) << c.hex;
    }
}

struct OidCase {
    const char* text;
    const char* hex;
};

TEST(OidTest, TextAndContentBothWays) {
    for (const OidCase& c :
         {OidCase{".1.3.6.1.4.1.1229.2.2.2.1.24.1", "2B 06 01 04 01 89 4D 02 02 02 01 18 01"},
          OidCase{".1.3.6.1.4.1.1229.2.8.1.0", "2B 06 01 04 01 89 4D 02 08 01 00"},
          OidCase{".1.3.4294967295", "2B 8F FF FF FF 7F"}, OidCase{".2.5.128", "55 81 00"},
          OidCase{".2.45.1", "7D 01"}, OidCase{".2.47", "7F"}}) {
        EXPECT_EQ(HexText(OidContent(c.text)), c.hex) << c.text;
        EXPECT_EQ(OidText(Bytes(c.hex)), c.text) << c.hex;
    }
}

TEST(OidTest, MalformedContentHasNoText) {
    EXPECT_EQ(OidText({}), "");
    EXPECT_EQ(OidText(Bytes("2B 89")), "");                 // last octet continues
    EXPECT_EQ(OidText(Bytes("2B 90 80 80 80 80 00")), "");  // beyond 32 bits
    EXPECT_TRUE(OidContent("1.3.").empty());
    EXPECT_TRUE(OidContent("1.x").empty());
    EXPECT_TRUE(OidContent("1.40").empty());  // would read back as 2.0
    EXPECT_TRUE(OidContent("2.48").empty());  // a first octet of 128 would continue
}

}  // namespace
}  // namespace kelo::sim
