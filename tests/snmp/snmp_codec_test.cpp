#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <random>
#include <string>

#include "snmp/snmp_msg.h"
#include "snmp/snmp_trace.h"
#include "tests/snmp/ber_bytes.h"
#include "testsupport/text_case.h"

namespace kelo {
namespace {

using test::Answer;
using test::AnswerWithValue;
using test::Bytes;
using test::Cat;
using test::HexBytes;
using test::HexText;
using test::OctetString;

Bytes RequestOf(const SnmpExchange& message) {
    return Bytes(message.Request(), message.Request() + message.RequestLength());
}

// ---- Requests -------------------------------------------------------------------------------

TEST(SnmpRequest, GetRequestOfTheStatusObject) {
    SnmpExchange message;
    message.SetRequestId(0x1A2B);
    EXPECT_EQ(message.MakeGetRequest(".1.3.6.1.4.1.1229.2.2.2.1.24.1", snmp::kPduGetRequest), 48);
    EXPECT_EQ(HexText(RequestOf(message)),
              "30 2E 02 01 00 04 06 70 75 62 6C 69 63 A0 21 02 04 00 00 1A 2B 02 01 00 02 01 "
              "00 30 13 30 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00");
}

TEST(SnmpRequest, SetRequestOfTheRestartObject) {
    SnmpExchange message;
    message.SetRequestId(0x1A2B);
    EXPECT_EQ(message.MakeSetRequest(".1.3.6.1.4.1.1229.2.8.1.0", snmp::kPduSetRequest, 10), 47);
    EXPECT_EQ(HexText(RequestOf(message)),
              "30 2D 02 01 00 04 06 70 75 62 6C 69 63 A3 20 02 04 00 00 1A 2B 02 01 00 02 01 "
              "00 30 12 30 10 06 0B 2B 06 01 04 01 89 4D 02 08 01 00 02 01 0A");
}

TEST(SnmpRequest, RequestIdIsTheProcessIdBigEndian) {
    SnmpExchange message;
    message.MakeGetRequest("1.3.6", snmp::kPduGetRequest);
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    const Bytes expected{static_cast<uint8_t>(pid >> 24), static_cast<uint8_t>(pid >> 16),
                         static_cast<uint8_t>(pid >> 8), static_cast<uint8_t>(pid)};
    const Bytes request = RequestOf(message);
    EXPECT_EQ(Bytes(request.begin() + 17, request.begin() + 21), expected);
}

TEST(SnmpRequest, IntegerValueInFewestTwosComplementOctets) {
    const struct {
        int value;
        const char* element;
    } cases[] = {
        {0, "02 01 00"},
        {1, "02 01 01"},
        {127, "02 01 7F"},
        {128, "02 02 00 80"},
        {255, "02 02 00 FF"},
        {256, "02 02 01 00"},
        {32767, "02 02 7F FF"},
        {32768, "02 03 00 80 00"},
        {-1, "02 01 FF"},
        {-128, "02 01 80"},
        {-129, "02 02 FF 7F"},
        {-32769, "02 03 FF 7F FF"},
        {INT_MAX, "02 04 7F FF FF FF"},
        {INT_MIN, "02 04 80 00 00 00"},
    };
    for (const auto& c : cases) {
        SnmpExchange message;
        const int length = message.MakeSetRequest("1.3.6.1", snmp::kPduSetRequest, c.value);
        const Bytes request = RequestOf(message);
        const Bytes element = HexBytes(c.element);
        ASSERT_GE(length, static_cast<int>(element.size())) << c.value;
        EXPECT_EQ(HexText(Bytes(request.end() - static_cast<long>(element.size()), request.end())),
                  c.element)
            << c.value;
        // The outer length still covers everything after the message header.
        EXPECT_EQ(request[1], length - 2) << c.value;
    }
}

TEST(SnmpRequest, ObjectIdentifierContent) {
    const testing_support::TextCase cases[] = {
        {"1.3", "2B"},
        {".1.3.6.1.4.1.1229", "2B 06 01 04 01 89 4D"},
        {"1.3.127", "2B 7F"},
        {"1.3.128", "2B 81 00"},
        {"1.3.16383", "2B FF 7F"},
        {"1.3.16384", "2B 81 80 00"},
        {"1.3.4294967295", "2B 8F FF FF FF 7F"},
        {"2.5", "55"},
        {"1-3/6", "2B 06"},       // any non-digit separates arcs
        {"1.3.6 .1.4", "2B 06"},  // white space after an arc ends the text
        {"1.3.6\t7", "2B 06"},
        {"  .1.3.6", "2B 06"},  // leading non-digits are skipped
        {"", ""},
    };
    for (const auto& c : cases) {
        uint8_t out[snmp::kMaxOidContent];
        const int n = snmp::EncodeOid(c.given, out, snmp::kMaxOidContent);
        ASSERT_GE(n, 0) << c.given;
        EXPECT_EQ(HexText(Bytes(out, out + n)), c.expected) << c.given;
    }
}

// Text that would otherwise be encoded as another object (an arc wrapped round, the first
// octet overflowing, a missing second arc) is refused, and a refused request is not sent in
// place of the one before it.
TEST(SnmpRequest, ObjectIdentifierItCannotEncodeIsRefused) {
    for (const char* text : {"1.3.4294967296", "1.3.99999999999999999999", "3.1", "1.40", "0.40.1",
                             "2.48", "1", ".1.3.6.1.2.1.1.1.0.4294967296"}) {
        uint8_t out[snmp::kMaxOidContent];
        EXPECT_EQ(snmp::EncodeOid(text, out, snmp::kMaxOidContent), -1) << text;
    }
    uint8_t out[snmp::kMaxOidContent];
    ASSERT_EQ(snmp::EncodeOid("2.47", out, snmp::kMaxOidContent), 1);
    EXPECT_EQ(out[0], 0x7F);

    SnmpExchange message;
    ASSERT_GT(message.MakeGetRequest("1.3.6", snmp::kPduGetRequest), 0);
    EXPECT_EQ(message.MakeGetRequest("1.3.4294967296", snmp::kPduGetRequest), -1);
    EXPECT_EQ(message.MakeGetRequest("", snmp::kPduGetRequest), -1);
    EXPECT_EQ(message.SendRequest(), -1);
}

TEST(SnmpRequest, ObjectIdentifierTooLongForAShortFormRequestIsRefused) {
    std::string oid = "1.3";
    for (int i = 0; i < 30; ++i)
        oid += ".1229";  // 60 octets: still fits
    SnmpExchange fits;
    const int length = fits.MakeGetRequest(oid.c_str(), snmp::kPduGetRequest);
    ASSERT_GT(length, 0);
    EXPECT_LT(length, 130);
    EXPECT_EQ(fits.Request()[1], length - 2);

    for (int i = 0; i < 20; ++i)
        oid += ".1229";  // 100 octets: the lengths would overflow
    SnmpExchange tooLong;
    EXPECT_EQ(tooLong.MakeGetRequest(oid.c_str(), snmp::kPduGetRequest), -1);
    EXPECT_EQ(tooLong.SendRequest(), -1);

    uint8_t small[3];
    EXPECT_EQ(snmp::EncodeOid("1.3.6.1.4", small, 3), -1);
    EXPECT_EQ(snmp::EncodeOid("1.3.6.1", small, 3), 3);
}

// An agent echoes the community, so an answer to a request of another community carries it;
// the request itself has the answer's layout and must parse to its own fields.
TEST(SnmpRequest, CommunityOfAnyLengthThatLeavesShortFormLengths) {
    SnmpExchange message;
    message.SetRequestId(0x1A2B);
    message.SetCommunity("kelo-lab");
    EXPECT_EQ(message.MakeGetRequest("1.3.6.1.2.1.1.5.0", snmp::kPduGetRequest), 45);
    EXPECT_EQ(HexText(RequestOf(message)),
              "30 2B 02 01 00 04 08 6B 65 6C 6F 2D 6C 61 62 A0 1C 02 04 00 00 1A 2B 02 01 00 02 01 "
              "00 30 0E 30 0C 06 08 2B 06 01 02 01 01 05 00 05 00");
    snmp::SnmpVarBind fields;
    ASSERT_TRUE(snmp::ParseMessage(message.Request(), message.RequestLength(), fields));
    EXPECT_EQ(fields.request_id, 0x1A2B);
    EXPECT_EQ(fields.oidname_length, 8);
    EXPECT_EQ(fields.oidvalue_type, 0x05);

    message.SetCommunity(std::string(93, 'c'));  // 128 octets of content: too long
    EXPECT_EQ(message.MakeGetRequest("1.3.6.1.2.1.1.5.0", snmp::kPduGetRequest), -1);
    message.SetCommunity(std::string(92, 'c'));
    EXPECT_EQ(message.MakeGetRequest("1.3.6.1.2.1.1.5.0", snmp::kPduGetRequest), 129);
}

// ---- Answers --------------------------------------------------------------------------------

TEST(SnmpAnswer, FieldsOfAGetResponse) {
    const Bytes answer = Answer(HexBytes("02 04 00 00 1A 2B"), 2, HexBytes("04 03 41 42 43"), 1);
    snmp::SnmpVarBind fields;
    ASSERT_TRUE(snmp::ParseMessage(answer.data(), static_cast<int>(answer.size()), fields));
    EXPECT_EQ(fields.request_id, 0x1A2B);
    EXPECT_EQ(fields.error_status, 2);
    EXPECT_EQ(fields.error_index, 1);
    EXPECT_EQ(fields.oidname_type, 0x06);
    ASSERT_EQ(fields.oidname_length, 13);
    EXPECT_EQ(Bytes(fields.oidname_data, fields.oidname_data + 13), test::StatusOidContent());
    EXPECT_EQ(fields.oidvalue_type, 0x04);
    ASSERT_EQ(fields.oidvalue_length, 3);
    EXPECT_EQ(fields.oidvalue_data, answer.data() + answer.size() - 3);
}

TEST(SnmpAnswer, RequestId) {
    const struct {
        const char* element;
        int32_t id;
    } cases[] = {
        {"02 01 FF", -1},
        {"02 02 00 FF", 255},
        {"02 01 7F", 127},
        {"02 02 FF 7F", -129},
        {"02 03 80 00 00", -8388608},
        {"02 04 00 00 1A 2B", 0x1A2B},
        {"02 04 FF FF FF FE", -2},
        {"02 05 01 00 00 00 07", 7},  // more than four octets: the last four count
        {"02 00", 0},
    };
    for (const auto& c : cases) {
        const Bytes answer = Answer(HexBytes(c.element), 0, HexBytes("05 00"));
        snmp::SnmpVarBind fields;
        ASSERT_TRUE(snmp::ParseMessage(answer.data(), static_cast<int>(answer.size()), fields))
            << c.element;
        EXPECT_EQ(fields.request_id, c.id) << c.element;
    }
}

TEST(SnmpAnswer, ValueText) {
    const testing_support::TextCase cases[] = {
        {"02 01 01", "0x1(1)"},
        {"02 01 0A", "0xa(10)"},
        {"02 01 FF", "0xff(255)"},  // taken unsigned
        {"02 02 00 C8", "0xc8(200)"},
        {"02 04 FF FF FF FF", "0xffffffff(-1)"},
        {"02 06 12 34 00 00 00 2A", "0x2a(42)"},
        {"04 03 41 00 42", "\"AB\""},
        {"04 00", "\"\""},
        {"05 00", ""},
        {"40 04 0A 00 00 01", "Unknown ASN.1 object type"},
        {"41 01 07", "Unknown ASN.1 object type"},
    };
    for (const auto& c : cases) {
        const Bytes answer = AnswerWithValue(HexBytes(c.given));
        SnmpExchange message;
        ASSERT_TRUE(message.TakeResponse(answer.data(), static_cast<int>(answer.size())))
            << c.given;
        message.MakeValueText();
        EXPECT_EQ(message.ValueText(), c.expected) << c.given;
    }
}

TEST(SnmpAnswer, LongFormLengthsThroughout) {
    // 144 value octets make every enclosing length long-form as well.
    const Bytes answer = AnswerWithValue(Cat({HexBytes("04 81 90"), Bytes(144, 'x')}));
    ASSERT_EQ(answer[1], 0x81);
    SnmpExchange message;
    ASSERT_TRUE(message.TakeResponse(answer.data(), static_cast<int>(answer.size())));
    EXPECT_EQ(message.Fields().oidvalue_length, 144);
    EXPECT_EQ(message.Fields().request_id, 0x1A2B);
    message.MakeValueText();
    EXPECT_EQ(message.ValueText(), "\"" + std::string(144, 'x') + "\"");
}

TEST(SnmpAnswer, ValueTextPast513CharactersIsDropped) {
    const Bytes answer = AnswerWithValue(OctetString(std::string(600, 'r')));
    SnmpExchange message;
    ASSERT_TRUE(message.TakeResponse(answer.data(), static_cast<int>(answer.size())));
    message.MakeValueText();
    EXPECT_EQ(message.ValueText(), "\"" + std::string(512, 'r'));
    message.MakeValueText();
    EXPECT_EQ(message.ValueText().size(), 513u);
}

TEST(SnmpAnswer, ShorterThanItsLengthsClaimIsRefused) {
    const Bytes good = AnswerWithValue(HexBytes("02 01 01"));
    const struct {
        const char* what;
        Bytes datagram;
    } cases[] = {
        {"empty", {}},
        {"value claims more than arrived", AnswerWithValue(HexBytes("04 0A 41 42"))},
        {"value length's octets missing", AnswerWithValue(HexBytes("04 82 01"))},
        {"value long form beyond any size", AnswerWithValue(HexBytes("04 84 FF FF FF FF 41"))},
        {"request-id claims more than arrived",
         HexBytes("30 10 02 01 00 04 06 70 75 62 6C 69 63 A2 "
                  "04 02 09 00 00")},
        {"message claims more than arrived",
         Cat({HexBytes("30 7F"), Bytes(good.begin() + 2, good.end())})},
        {"no value", Bytes(good.begin(), good.end() - 3)},
    };
    for (const auto& c : cases) {
        snmp::SnmpVarBind fields;
        EXPECT_FALSE(
            snmp::ParseMessage(c.datagram.data(), static_cast<int>(c.datagram.size()), fields))
            << c.what;
    }
}

// ---- Robustness: every answer is untrusted --------------------------------------------------

// Parses a datagram held in a buffer of exactly its size, so that any read past it is caught
// by the address sanitizer, and checks that the record stays inside what arrived.
bool ParseExactly(const Bytes& datagram) {
    const auto size = static_cast<int>(datagram.size());
    Bytes exact(datagram);
    exact.shrink_to_fit();
    snmp::SnmpVarBind fields;
    const bool ok = snmp::ParseMessage(exact.data(), size, fields);
    if (ok) {
        const uint8_t* end = exact.data() + size;
        EXPECT_GE(fields.oidname_length, 0);
        EXPECT_GE(fields.oidvalue_length, 0);
        EXPECT_LE(fields.oidname_data + fields.oidname_length, end);
        EXPECT_LE(fields.oidvalue_data + fields.oidvalue_length, end);
        SnmpExchange message;
        if (size <= snmp::kMessageSize) {
            EXPECT_TRUE(message.TakeResponse(exact.data(), size));
            message.MakeValueText();
            EXPECT_LE(message.ValueText().size(), 513u);
        }
    }
    return ok;
}

TEST(SnmpAnswerRobustness, EveryTruncationIsRefused) {
    const Bytes answers[] = {
        AnswerWithValue(OctetString("REPORT:0,3;")),
        AnswerWithValue(Cat({HexBytes("04 81 90"), Bytes(144, 'x')})),
        Answer(HexBytes("02 01 FF"), 0, HexBytes("02 01 01")),
    };
    for (const Bytes& answer : answers) {
        ASSERT_TRUE(ParseExactly(answer));
        for (size_t n = 0; n < answer.size(); ++n) {
            EXPECT_FALSE(ParseExactly(Bytes(answer.begin(), answer.begin() + n))) << n;
        }
    }
}

TEST(SnmpAnswerRobustness, RandomDatagrams) {
    std::mt19937 random(1157);
    for (int i = 0; i < 4000; ++i) {
        Bytes datagram(random() % 80);
        for (uint8_t& b : datagram)
            b = static_cast<uint8_t>(random());
        // Half of them start like an answer whose outer lengths fit, so that the walk gets
        // past its first steps.
        if (i % 2 == 0 && datagram.size() > 16) {
            const Bytes head = HexBytes("30 00 02 01 00 04 06 70 75 62 6C 69 63 A2 00");
            std::copy(head.begin(), head.end(), datagram.begin());
            datagram[1] = static_cast<uint8_t>(datagram.size() - 2);
            datagram[14] = static_cast<uint8_t>(datagram.size() - 15);
            // Cut by its last byte, its message announces more than arrived.
            EXPECT_FALSE(ParseExactly(Bytes(datagram.begin(), datagram.end() - 1))) << i;
        }
        const bool accepted = ParseExactly(datagram);
        if (datagram.empty() || datagram[0] != 0x30) {
            EXPECT_FALSE(accepted) << i;  // an answer is a SEQUENCE
        }
    }
}

TEST(SnmpAnswerRobustness, RandomByteFlips) {
    const std::string text = "REPORT:0,3;STATUS:IDLE;";
    const Bytes answer = AnswerWithValue(OctetString(text));
    const size_t textStart = answer.size() - text.size();  // the value's text ends the answer
    std::mt19937 random(1901);
    for (int i = 0; i < 3000; ++i) {
        Bytes datagram(answer);
        bool onlyText = true;
        for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips) {
            const size_t at = random() % datagram.size();
            datagram[at] = static_cast<uint8_t>(random());
            onlyText = onlyText && at >= textStart;
        }
        const bool accepted = ParseExactly(datagram);
        // Bytes inside the value's text change what it says, never its form.
        if (onlyText) {
            EXPECT_TRUE(accepted) << i;
        }
    }
}

// ---- The protocol trace's reading ----------------------------------------------------------

std::string StatusMeaning(const std::string& value) {
    return value.find("REPORT:") != std::string::npos ? "a report field" : "";
}

TEST(SnmpTrace, DescribesRequestsAndAnswersThroughTheCodec) {
    const struct {
        Bytes message;
        const char* decoding;
    } cases[] = {
        {HexBytes(
             "30 2E 02 01 00 04 06 70 75 62 6C 69 63 A0 21 02 04 00 00 1A 2B 02 01 00 02 01 00 "
             "30 13 30 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00"),
         "SNMP GetRequest request-id 6699, .1.3.6.1.4.1.1229.2.2.2.1.24.1 = NULL"},
        {AnswerWithValue(OctetString("MFG:X;REPORT:0,3;")),
         "SNMP GetResponse request-id 6699, error-status 0 (noError), error-index 0, "
         ".1.3.6.1.4.1.1229.2.2.2.1.24.1 = OCTET STRING \"MFG:X;REPORT:0,3;\" (17 octets); "
         "a report field"},
        {Answer(HexBytes("02 01 FF"), 2, HexBytes("05 00"), 1),
         "SNMP GetResponse request-id -1, error-status 2 (noSuchName), error-index 1, "
         ".1.3.6.1.4.1.1229.2.2.2.1.24.1 = NULL"},
        {AnswerWithValue(HexBytes("02 01 0A")),
         "SNMP GetResponse request-id 6699, error-status 0 (noError), error-index 0, "
         ".1.3.6.1.4.1.1229.2.2.2.1.24.1 = INTEGER 0xa(10)"},
        {HexBytes("30 2E 02 01 00 04 06 70 75 62"),
         "SNMP message cut short or malformed, 10 bytes"},
    };
    const auto decoder = MakeSnmpDecoder(StatusMeaning);
    for (const auto& c : cases) {
        EXPECT_EQ(decoder->Decode(platform::TraceDirection::kFromMachine, c.message.data(),
                                  c.message.size()),
                  c.decoding);
    }
}

}  // namespace
}  // namespace kelo
