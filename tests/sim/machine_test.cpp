#include "sim/machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/access_codes.h"
#include "sim/options.h"
#include "sim/snmp_ber.h"
#include "testsupport/file_bytes.h"
#include "testsupport/sim_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_bytes.h"

namespace kelo::sim {
namespace {

using sim_testing::Bytes;
using sim_testing::EventField;
using sim_testing::RequestFrame;
using testing_support::HexText;
using testing_support::ReadFileBytes;

std::string AccessLine(const char* code) {
    return std::string("OPEN CODE=") + code;
}
std::string DataFile(const std::string& content) {
    return "\x03" + std::to_string(content.size()) + " x\n" + content + std::string(1, '\0');
}
std::string CommandFrame(const std::string& text) {
    std::string frame{static_cast<char>(text.size() >> 8), static_cast<char>(text.size() & 0xFF)};
    frame += text;
    unsigned sum = 1;
    for (unsigned char c : frame)
        sum += c;
    return frame + static_cast<char>(sum & 0xFF);
}

// A machine with its events kept in memory and its files in a fresh folder.
class MachineTest : public ::testing::Test {
  protected:
    void Make(int type, Faults faults = {}) {
        recorder_ = std::make_unique<Recorder>(folder_.Path());
        MachineConfig config;
        config.type = type;
        config.report = std::make_shared<const std::vector<uint8_t>>(Bytes("52 45 50 0D 0A"));
        std::vector<uint8_t> parameters;
        for (int i = 0; i < 65536; ++i)
            parameters.push_back(static_cast<uint8_t>(i * 7));
        config.parameters = std::make_shared<const std::vector<uint8_t>>(std::move(parameters));
        config.faults = faults;
        machine_ = std::make_unique<Machine>(config, log_, *recorder_);
        machine_->SetRestartHook([this](const std::string& cause) { restarts_.push_back(cause); });
    }

    std::vector<std::string> Named(const std::string& name) const {
        std::vector<std::string> lines;
        for (const std::string& line : events_) {
            if (EventField(line, "event") == name)
                lines.push_back(line);
        }
        return lines;
    }

    static void Feed(Session& session, const std::vector<uint8_t>& bytes, Outbox& out) {
        session.Receive(bytes.data(), bytes.size(), out);
    }

    // Feeds one LPD job and returns the acknowledgements.
    std::string RunJob(Session& session, const std::string& stream) {
        Outbox out;
        session.Receive(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), out);
        return out.bytes;
    }

    std::vector<std::string> events_;
    EventLog log_{[this](const std::string& line) { events_.push_back(line); }};
    testing_support::TempDir folder_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<Machine> machine_;
    std::vector<std::string> restarts_;
};

struct AccessCase {
    int type;
    const char* code;
    bool ok;
    const char* codeName;
};

class AccessLineTest : public MachineTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessLineTest, OnlyTheTypesOwnCodeOpensTheMachine) {
    const AccessCase& c = GetParam();
    Make(c.type);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    RunJob(*session, "\x02lp1\n" + DataFile(AccessLine(c.code)) + DataFile("GET REPORT"));
    ASSERT_EQ(Named("access").size(), 1u);
    EXPECT_EQ(EventField(Named("access")[0], "ok"), c.ok ? "true" : "false");
    EXPECT_EQ(EventField(Named("access")[0], "code"), c.codeName);
    EXPECT_EQ(Named("offer-start").size(), c.ok ? 1u : 0u);
    EXPECT_EQ(Named("command-ignored").size(), c.ok ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Codes, AccessLineTest,
                         ::testing::Values(AccessCase{1, platform::kAccessCodeA, true, "A"},
                                           AccessCase{1, platform::kAccessCodeB, false, "B"},
                                           AccessCase{2, platform::kAccessCodeB, true, "B"},
                                           AccessCase{2, platform::kAccessCodeA, false, "A"},
                                           AccessCase{1, "SHORT", false, "other"}));

TEST_F(MachineTest, AJobForAnotherQueueIsRefused) {
    Make(1);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    Outbox out;
    const std::string job = "\x02lp2\n";
    session->Receive(reinterpret_cast<const uint8_t*>(job.data()), job.size(), out);
    EXPECT_EQ(out.bytes, "\x01");
    EXPECT_TRUE(out.closeAfterSend);
    EXPECT_EQ(EventField(Named("lpd-job")[0], "queue"), "lp2");
}

TEST_F(MachineTest, CommandsWithoutAnAccessLineAreIgnored) {
    Make(1);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    RunJob(*session, "\x02lp1\n" + DataFile("GET PARAM") + DataFile("PIPE MONITOR") +
                         DataFile(CommandFrame("rs\n")));
    EXPECT_EQ(Named("command-ignored").size(), 3u);
    EXPECT_EQ(EventField(Named("command-ignored")[0], "reason"), "no-access-line");
    EXPECT_TRUE(restarts_.empty());
}

TEST_F(MachineTest, GetReportIsOfferedUntilTheEndOfExchangeByte) {
    Make(1);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    EXPECT_EQ(RunJob(*session, "\x02lp1\n" + DataFile(AccessLine(platform::kAccessCodeA)) +
                                   DataFile("GET REPORT")),
              std::string(5, '\0'));
    EXPECT_NE(machine_->ReadStatus().find(";REPORT:0,1;"), std::string::npos);
    machine_->ReadStatus();
    machine_->ReadStatus();
    EXPECT_NE(machine_->ReadStatus().find(";REPORT:1,5245500D0A;"), std::string::npos);
    RunJob(*session, DataFile(std::string(1, '\0')));
    EXPECT_EQ(Named("end-of-exchange").size(), 1u);
    EXPECT_EQ(machine_->ReadStatus().find("REPORT:"), std::string::npos);
}

TEST_F(MachineTest, NeverAnswerTakesTheCommandButOffersNothing) {
    Faults faults;
    faults.neverAnswer = true;
    Make(2, faults);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    RunJob(*session,
           "\x02lp1\n" + DataFile(AccessLine(platform::kAccessCodeB)) + DataFile("GET PARAM"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(machine_->ReadStatus().find("READ_PARAM:"), std::string::npos);
}

TEST_F(MachineTest, PutParamRecordsTheNextDataFileExactly) {
    Make(1);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    const std::string set("\x00\x01\x02\x00\xFF", 5);
    RunJob(*session, "\x02lp1\n" + DataFile(AccessLine(platform::kAccessCodeA)) +
                         DataFile("PUT ALL PARAM") + DataFile(set) + DataFile("GET REPORT"));
    ASSERT_EQ(Named("params").size(), 1u);
    EXPECT_EQ(EventField(Named("params")[0], "bytes"), "5");
    EXPECT_EQ(HexText(ReadFileBytes(folder_.File("params-1.bin"))), "00 01 02 00 FF");
    EXPECT_EQ(Named("offer-start").size(), 1u);  // the command after the set is a command again
    // The set put is the set served from then on.
    RunJob(*session, DataFile("GET PARAM"));
    for (int i = 0; i < 3; ++i)
        machine_->ReadStatus();
    EXPECT_NE(machine_->ReadStatus().find(";READ_PARAM:1,00010200FF;"), std::string::npos);
}

TEST_F(MachineTest, MonitorFrameRestartsOnlyWhenItsCheckByteIsRight) {
    Make(2);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    std::string bad = CommandFrame("rs\n");
    bad.back() = static_cast<char>(bad.back() + 1);
    RunJob(*session, "\x02lp1\n" + DataFile(AccessLine(platform::kAccessCodeB)) +
                         DataFile("PIPE MONITOR") + DataFile(bad));
    EXPECT_TRUE(restarts_.empty());
    EXPECT_EQ(EventField(Named("command-frame")[0], "reason"), "bad-check-byte");
    RunJob(*session, DataFile("PIPE MONITOR") + DataFile(CommandFrame("rs\n")));
    EXPECT_EQ(restarts_, std::vector<std::string>{"rs"});
}

TEST_F(MachineTest, UpdateCommandMakesTheRestOfTheJobTheImage) {
    Make(1);
    auto session = MakeSession(PortRole::kLpd, *machine_, 1);
    RunJob(*session, "\x02lp1\n" + DataFile(AccessLine(platform::kAccessCodeA)) +
                         DataFile("PIPE MONITOR") + DataFile(CommandFrame("BOOT_UpdateMain 0\n")) +
                         DataFile("ABC") + DataFile(std::string("\0D", 2)) +
                         DataFile(AccessLine(platform::kAccessCodeA)));
    EXPECT_EQ(restarts_, std::vector<std::string>{"firmware-update"});
    EXPECT_TRUE(Named("firmware").empty());  // the image ends with the job
    session->Closed("peer-closed");
    ASSERT_EQ(Named("firmware").size(), 1u);
    EXPECT_EQ(EventField(Named("firmware")[0], "bytes"), "515");
    const std::vector<uint8_t> image = ReadFileBytes(folder_.File("firmware-1.bin"));
    ASSERT_EQ(image.size(), 515u);
    EXPECT_EQ(HexText({image[0], image[1], image[2], image[3], image[4]}), "41 42 43 00 44");
}

TEST_F(MachineTest, PacketRequestsAreAnsweredWithReplyFrames) {
    Make(3);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    Feed(*session, Bytes("80 00 02 00 01 7C"), out);
    EXPECT_EQ(HexText(std::vector<uint8_t>(out.bytes.begin(), out.bytes.end())),
              "80 00 05 52 45 50 0D 0A 7C");
    EXPECT_FALSE(out.closeAfterSend);
}

TEST_F(MachineTest, NeverAnswerKeepsReplyFramesBackButStillStores) {
    Faults faults;
    faults.neverAnswer = true;
    Make(4, faults);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    Feed(*session, Bytes("80 00 02 00 01 7C"), out);
    Feed(*session, RequestFrame(0x00, 0x05, std::vector<uint8_t>(32768, 0), true), out);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_FALSE(out.closeAfterSend);
    EXPECT_EQ(Named("reply-withheld").size(), 2u);
    EXPECT_EQ(Named("params").size(), 1u);
}

TEST_F(MachineTest, ParameterHalvesGoOutAndComeIn) {
    Make(4);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    Feed(*session, Bytes("80 00 02 00 03 7A"), out);
    ASSERT_EQ(out.bytes.size(), 32768u + 4);
    EXPECT_EQ(static_cast<uint8_t>(out.bytes[3]), static_cast<uint8_t>(32768 * 7));

    std::vector<uint8_t> half(32768, 0x5A);
    half[0] = 0x00;
    const std::vector<uint8_t> put = RequestFrame(0x00, 0x04, half, true);
    Outbox stored;
    session->Receive(put.data(), put.size(), stored);
    EXPECT_EQ(HexText(std::vector<uint8_t>(stored.bytes.begin(), stored.bytes.end())),
              "80 00 02 4F 4B E3");
    EXPECT_EQ(EventField(Named("params")[0], "half"), "1");
    EXPECT_EQ(ReadFileBytes(folder_.File("params-1.bin")), half);

    // Each half put is served back in its place; the other half stays as it was.
    const std::vector<uint8_t> second(32768, 0xA5);
    const std::vector<uint8_t> putSecond = RequestFrame(0x00, 0x05, second, true);
    session->Receive(putSecond.data(), putSecond.size(), stored);
    const auto Read = [&](uint8_t command) {
        Outbox reply;
        Feed(*session, RequestFrame(0x00, command, {}, false), reply);
        return std::vector<uint8_t>(reply.bytes.begin() + 3, reply.bytes.end() - 1);
    };
    EXPECT_EQ(Read(0x02), half);
    EXPECT_EQ(Read(0x03), second);
}

TEST_F(MachineTest, AHalfOfTheWrongSizeIsNotStored) {
    Make(3);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    Feed(*session, RequestFrame(0x00, 0x05, std::vector<uint8_t>(100, 1), true), out);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_TRUE(Named("params").empty());
    EXPECT_EQ(EventField(Named("command-rejected")[0], "reason"), "wrong-data-length");
}

TEST_F(MachineTest, ABadFrameClosesTheConnectionAndNothingAfterItCounts) {
    Make(3);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    std::vector<uint8_t> stream = Bytes("80 00 02 00 01 7D");  // wrong checksum
    const std::vector<uint8_t> good = Bytes("80 00 02 00 01 7C");
    stream.insert(stream.end(), good.begin(), good.end());
    session->Receive(stream.data(), stream.size(), out);
    EXPECT_TRUE(out.closeAfterSend);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(EventField(Named("frame-rejected")[0], "reason"), "bad-checksum");
    EXPECT_TRUE(Named("frame").empty());
}

TEST_F(MachineTest, FramesSplitAnywhereAreStillTaken) {
    Make(4);
    auto session = MakeSession(PortRole::kPackets, *machine_, 1);
    const std::vector<uint8_t> stream = RequestFrame(0x00, 0x06, Bytes("72 73 0A"), true);
    for (uint8_t byte : stream) {
        Outbox out;
        session->Receive(&byte, 1, out);
        EXPECT_FALSE(out.closeAfterSend);
    }
    EXPECT_EQ(restarts_, std::vector<std::string>{"rs"});
}

TEST_F(MachineTest, TheRawPortTakesEverythingAsOneImage) {
    Make(3);
    auto command = MakeSession(PortRole::kPackets, *machine_, 1);
    Outbox out;
    const std::vector<uint8_t> update = RequestFrame(
        0x00, 0x06, Bytes("42 4F 4F 54 5F 55 70 64 61 74 65 4D 61 69 6E 20 30 0A"), true);
    Feed(*command, update, out);
    auto raw = MakeSession(PortRole::kRawImage, *machine_, 2);
    const std::vector<uint8_t> part = Bytes("00 01 80 FF");
    raw->Receive(part.data(), part.size(), out);
    raw->Receive(part.data(), part.size(), out);
    raw->Closed("peer-closed");
    EXPECT_EQ(EventField(Named("firmware")[0], "announced"), "true");
    EXPECT_EQ(HexText(ReadFileBytes(folder_.File("firmware-1.bin"))), "00 01 80 FF 00 01 80 FF");
    auto unannounced = MakeSession(PortRole::kRawImage, *machine_, 3);
    unannounced->Closed("peer-closed");
    EXPECT_EQ(EventField(Named("firmware")[1], "announced"), "false");
    EXPECT_EQ(EventField(Named("firmware")[1], "bytes"), "0");
}

TEST_F(MachineTest, RandomBytesNeverBreakTheMachine) {
    Make(1);
    std::mt19937 random(515);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes(random() % 700);
        for (uint8_t& byte : bytes)
            byte = static_cast<uint8_t>(random());
        // Give each kind of input a plausible first byte now and then, to get past it.
        if (!bytes.empty() && round % 3 == 0)
            bytes[0] = round % 2 ? 0x80 : 0x30;
        machine_->AnswerSnmp(bytes.data(), bytes.size(), "p");
        for (PortRole role : {PortRole::kLpd, PortRole::kPackets, PortRole::kRawImage}) {
            auto session = MakeSession(role, *machine_, round);
            Outbox out;
            const std::string job = "\x02lp1\n\x03" + std::to_string(bytes.size()) + " x\n";
            if (role == PortRole::kLpd && round % 2 == 0) {
                session->Receive(reinterpret_cast<const uint8_t*>(job.data()), job.size(), out);
            }
            session->Receive(bytes.data(), bytes.size(), out);
            session->Closed("peer-closed");
        }
    }
    EXPECT_NE(machine_->ReadStatus().find("MFG:"), std::string::npos);
}

// --- SNMP ---

std::vector<uint8_t> Request(uint8_t pdu, const std::string& oid, const std::string& value) {
    const std::vector<uint8_t> name = OidContent(oid);
    std::vector<uint8_t> varbind{0x06, static_cast<uint8_t>(name.size())};
    varbind.insert(varbind.end(), name.begin(), name.end());
    const std::vector<uint8_t> valueBytes = Bytes(value);
    varbind.insert(varbind.end(), valueBytes.begin(), valueBytes.end());
    std::vector<uint8_t> list{0x30, static_cast<uint8_t>(varbind.size())};
    list.insert(list.end(), varbind.begin(), varbind.end());
    std::vector<uint8_t> pduBody = Bytes("02 02 12 34 02 01 00 02 01 00 30");
    pduBody.push_back(static_cast<uint8_t>(list.size()));
    pduBody.insert(pduBody.end(), list.begin(), list.end());
    std::vector<uint8_t> message = Bytes("02 01 00 04 06 70 75 62 6C 69 63");
    message.push_back(pdu);
    message.push_back(static_cast<uint8_t>(pduBody.size()));
    message.insert(message.end(), pduBody.begin(), pduBody.end());
    std::vector<uint8_t> datagram{0x30, static_cast<uint8_t>(message.size())};
    datagram.insert(datagram.end(), message.begin(), message.end());
    return datagram;
}

struct SnmpCase {
    const char* name;
    const char* fault;
    uint8_t pdu;
    const char* oid;
    const char* value;
    bool answered;
    int errorStatus;
    const char* answer;  // the "answer" field of the event
    bool restarts;
};

class SnmpAgentTest : public MachineTest, public ::testing::WithParamInterface<SnmpCase> {};

TEST_P(SnmpAgentTest, AnswersAsTheRequestDeserves) {
    const SnmpCase& c = GetParam();
    Faults faults;
    if (*c.fault != '\0') {
        ASSERT_TRUE(EnableFault(c.fault, faults));
    }
    Make(1, faults);
    const std::vector<uint8_t> request = Request(c.pdu, c.oid, c.value);
    const std::vector<uint8_t> answer =
        machine_->AnswerSnmp(request.data(), request.size(), "peer");
    ASSERT_EQ(!answer.empty(), c.answered);
    EXPECT_EQ(EventField(Named("snmp")[0], "answer"), c.answer);
    EXPECT_EQ(EventField(Named("snmp")[0], "oid"), c.oid);
    EXPECT_EQ(restarts_.size(), c.restarts ? 1u : 0u);
    if (!c.answered)
        return;
    const SnmpParse parse = ParseSnmpRequest(answer.data(), answer.size());
    ASSERT_TRUE(parse.ok);
    EXPECT_EQ(parse.request.pduType, kPduGetResponse);
    EXPECT_EQ(HexText(parse.request.requestId), "12 34");
    EXPECT_EQ(parse.request.community, "public");
    // error-status sits right after the request-id: 30 len 02 01 00 04 06 ... A2 len 02 02 12 34 02
    // 01 <status>
    const std::vector<uint8_t> status = Bytes("02 02 12 34 02 01");
    const auto at = std::search(answer.begin(), answer.end(), status.begin(), status.end());
    ASSERT_NE(at, answer.end());
    EXPECT_EQ(*(at + static_cast<long>(status.size())), c.errorStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SnmpAgentTest,
    ::testing::Values(SnmpCase{"StatusGet", "", kPduGetRequest, kStatusOid, "05 00", true, 0,
                               "status", false},
                      SnmpCase{"RestartSet", "", kPduSetRequest, kRestartOid, "02 01 0A", true, 0,
                               "restart", true},
                      SnmpCase{"RestartSetWrongValue", "", kPduSetRequest, kRestartOid, "02 01 0B",
                               true, 3, "bad-value", false},
                      SnmpCase{"RestartSetNotInteger", "", kPduSetRequest, kRestartOid, "04 01 0A",
                               true, 3, "bad-value", false},
                      SnmpCase{"OtherObject", "", kPduGetRequest, ".1.3.6.1.2.1.1.4.0", "05 00",
                               true, 2, "no-such-name", false},
                      SnmpCase{"StatusSet", "", kPduSetRequest, kStatusOid, "02 01 0A", true, 2,
                               "no-such-name", false},
                      SnmpCase{"GetNextIgnored", "", kPduGetNextRequest, kStatusOid, "05 00", false,
                               0, "ignored", false},
                      SnmpCase{"ErrorFault", "snmp-error", kPduGetRequest, kStatusOid, "05 00",
                               true, 2, "error-fault", false},
                      SnmpCase{"SilenceFault", "snmp-silence", kPduSetRequest, kRestartOid,
                               "02 01 0A", false, 0, "silent", false}),
    [](const auto& info) { return std::string(info.param.name); });

class EveryTypeAgentTest : public MachineTest, public ::testing::WithParamInterface<int> {
  protected:
    // The answer's error-status and its first value as text ("" for none).
    std::pair<int, std::string> Get(const char* oid) {
        const std::vector<uint8_t> request = Request(kPduGetRequest, oid, "05 00");
        const std::vector<uint8_t> answer =
            machine_->AnswerSnmp(request.data(), request.size(), "p");
        const SnmpParse parse = ParseSnmpRequest(answer.data(), answer.size());
        if (!parse.ok || parse.request.varbinds.empty())
            return {-1, ""};
        const std::vector<uint8_t> status = Bytes("02 02 12 34 02 01");
        const auto at = std::search(answer.begin(), answer.end(), status.begin(), status.end());
        const std::vector<uint8_t>& value = parse.request.varbinds[0].value;
        const bool octets = parse.request.varbinds[0].valueTag == kBerOctetString;
        return {at == answer.end() ? -1 : *(at + static_cast<long>(status.size())),
                octets ? std::string(value.begin(), value.end()) : ""};
    }
};

// Every type names itself; only types 1 and 2 keep a status object; every type restarts.
TEST_P(EveryTypeAgentTest, NamesItselfAndRestarts) {
    const int type = GetParam();
    Make(type);
    using Answer = std::pair<int, std::string>;
    EXPECT_EQ(Get(kSysDescrOid), Answer(0, "Kelo simulated machine, type " + std::to_string(type)));
    EXPECT_EQ(Get(kSysNameOid), Answer(0, "kelo-sim-127.0.0.1"));
    EXPECT_EQ(EventField(Named("snmp")[0], "answer"), "system");
    EXPECT_EQ(Get(kStatusOid).first, type <= 2 ? 0 : 2);
    const std::vector<uint8_t> restart = Request(kPduSetRequest, kRestartOid, "02 01 0A");
    EXPECT_FALSE(machine_->AnswerSnmp(restart.data(), restart.size(), "p").empty());
    EXPECT_EQ(restarts_, std::vector<std::string>{"snmp"});
}

INSTANTIATE_TEST_SUITE_P(Types, EveryTypeAgentTest, ::testing::Values(1, 2, 3, 4));

TEST_F(MachineTest, StatusAnswerCarriesTheStatusTextAsOctetString) {
    Make(2);
    const std::vector<uint8_t> request = Request(kPduGetRequest, kStatusOid, "05 00");
    const std::vector<uint8_t> answer = machine_->AnswerSnmp(request.data(), request.size(), "p");
    const SnmpParse parse = ParseSnmpRequest(answer.data(), answer.size());
    ASSERT_TRUE(parse.ok);
    EXPECT_EQ(parse.request.varbinds[0].valueTag, kBerOctetString);
    const std::vector<uint8_t>& value = parse.request.varbinds[0].value;
    EXPECT_EQ(std::string(value.begin(), value.end()), StatusText(2, ""));
}

TEST_F(MachineTest, MalformedDatagramsGetNoAnswer) {
    Make(1);
    const std::vector<uint8_t> request = Request(kPduGetRequest, kStatusOid, "05 00");
    for (size_t size = 0; size < request.size(); ++size) {
        const std::vector<uint8_t> cut(request.begin(), request.begin() + size);
        EXPECT_TRUE(machine_->AnswerSnmp(cut.data(), cut.size(), "p").empty());
    }
    EXPECT_EQ(Named("snmp-malformed").size(), request.size());
}

// --- Command line ---

struct ArgumentsCase {
    std::vector<std::string> arguments;
    const char* error;  // "" when accepted
};

TEST(OptionsTest, BadArgumentsAreNamed) {
    for (const ArgumentsCase& c : std::vector<ArgumentsCase>{
             {{}, "--type is required"},
             {{"--type", "0"}, "--type: Value 0 not in range 1 to 4"},
             {{"--type", "3x"}, "--type: Value 3x not in range 1 to 4"},
             {{"--type"}, "--type: 1 required INT:INT in [1 - 4] missing"},
             {{"--type", "1", "--bind", "localhost"},
              "--bind needs a dotted IPv4 address, not 'localhost'"},
             {{"--type", "1", "--restart-ms", "-5"},
              "--restart-ms: Value -5 not in range 0 to 3600000"},
             {{"--type", "1", "--fault", "sometimes"}, "--fault: sometimes is no fault's name"},
             {{"--type", "1", "--verbose"}, "The following argument was not expected: --verbose"},
             {{"--type", "1", "--bind", "10.0.0.0/33"},
              "--bind needs a prefix length from 0 to 32 after the '/', not '10.0.0.0/33'"},
             {{"--type", "1", "--bind", "10.0.0.0/22", "--bind", "10.1.0.0/32"},
              "--bind covers more than 1024 addresses in all (10.1.0.0/32)"},
             {{"--type", "1", "--bind", "10.0.0.0/0"},
              "--bind covers more than 1024 addresses in all (10.0.0.0/0)"},
             {{"--type", "1", "--bind", "10.0.0.0/30", "--bind", "10.0.0.2"},
              "--bind gives 10.0.0.2 more than once"},
             {{"--type", "4", "--bind", "127.0.0.2", "--fault", "bad-lead", "--fault", "lpd-nak",
               "--restart-ms", "0"},
              ""},
         }) {
        const OptionsParse parse = ParseOptions(c.arguments);
        EXPECT_EQ(parse.ok, *c.error == '\0') << c.error;
        EXPECT_EQ(parse.error, c.error);
    }
}

TEST(OptionsTest, AcceptedArgumentsAreKept) {
    const OptionsParse parse =
        ParseOptions({"--type", "4", "--bind", "127.0.0.2", "--fault", "bad-lead", "--fault",
                      "lpd-nak", "--restart-ms", "0", "--record", "/tmp/r"});
    ASSERT_TRUE(parse.ok);
    EXPECT_EQ(parse.options.type, 4);
    EXPECT_EQ(parse.options.addresses, std::vector<std::string>{"127.0.0.2"});
    EXPECT_EQ(parse.options.restartMs, 0);
    EXPECT_EQ(parse.options.recordDir, "/tmp/r");
    EXPECT_EQ(EnabledFaultNames(parse.options.faults), "bad-lead,lpd-nak");
}

TEST(OptionsTest, ABlockBindsEveryAddressOfIt) {
    EXPECT_EQ(ParseOptions({"--type", "3"}).options.addresses,
              std::vector<std::string>{"127.0.0.1"});
    const OptionsParse parse =
        ParseOptions({"--type", "3", "--bind", "127.0.4.254/31", "--bind", "10.9.8.7/30"});
    ASSERT_TRUE(parse.ok) << parse.error;
    EXPECT_EQ(parse.options.addresses,
              (std::vector<std::string>{"127.0.4.254", "127.0.4.255", "10.9.8.4", "10.9.8.5",
                                        "10.9.8.6", "10.9.8.7"}));
    EXPECT_EQ(ParseOptions({"--type", "3", "--bind", "127.0.4.0/22"}).options.addresses.size(),
              1024u);
}

TEST(OptionsTest, TheHelpShowsEveryOptionAndFaultWithinEightyColumns) {
    const std::string help = UsageText();
    EXPECT_EQ(help.rfind("Usage: kelo-sim --type N [--bind ADDR[/N]]... [--report FILE]", 0), 0u)
        << help;
    std::string optionLines;  // the lines that start with an option
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.rfind("  -", 0) == 0)
            optionLines += line + "\n";
    }
    for (const std::string& option : OptionNames())
        EXPECT_NE(optionLines.find(option + " "), std::string::npos) << option;
    for (const std::string& fault : FaultNames())
        EXPECT_NE(help.find("  " + fault + "\n"), std::string::npos) << fault;
    EXPECT_NE(help.find("(default 2000)"), std::string::npos);
}

}  // namespace
}  // namespace kelo::sim
