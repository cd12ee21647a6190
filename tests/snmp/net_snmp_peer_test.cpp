// Kelo's SNMP exchanges against peers written elsewhere: net-snmp's agent snmpd answering
// Kelo's requests, and net-snmp's snmpget and snmpset whose requests are held against the
// ones Kelo builds.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "snmp/snmp_msg.h"
#include "snmp/status_query.h"
#include "tests/snmp/ber_bytes.h"
#include "tests/snmp/scripted_agent.h"
#include "testsupport/child_process.h"
#include "testsupport/temp_dir.h"

namespace kelo {
namespace {

using test::Bytes;
using test::ChildProcess;
using test::HexText;
using test::ScriptedAgent;
using testing_support::TempDir;

constexpr const char* kSnmpd = "/usr/sbin/snmpd";
constexpr const char* kSnmpGet = "/usr/bin/snmpget";
constexpr const char* kSnmpSet = "/usr/bin/snmpset";

constexpr int kStartLimitMs = 10000;
constexpr int kToolLimitMs = 10000;

bool Installed(const char* path) {
    return ::access(path, X_OK) == 0;
}

// net-snmp reads no configuration or MIB files but the ones given here.
std::vector<std::string> NetSnmpEnvironment(const std::string& folder) {
    return {"MIBS=", "SNMPCONFPATH=" + folder, "SNMP_PERSISTENT_DIR=" + folder + "/persist",
            "HOME=" + folder};
}

// Runs one net-snmp tool to its end (bounded) and returns its output; exit status in *status.
std::string RunTool(const std::vector<std::string>& argv, const std::string& folder, int* status) {
    ChildProcess tool(argv, NetSnmpEnvironment(folder));
    *status = tool.Wait(kToolLimitMs);
    return tool.Output();
}

// ---- net-snmp's agent answers Kelo ----------------------------------------------------------

constexpr const char* kIntegerOid = ".1.3.6.1.4.1.1229.2.2.2.1.24.2";
constexpr const char* kCounterOid = ".1.3.6.1.4.1.1229.2.2.2.1.24.3";
constexpr const char* kMissingOid = ".1.3.6.1.4.1.1229.2.2.2.1.24.9";

class NetSnmpAgent : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Installed(kSnmpd))
            GTEST_SKIP() << "net-snmp's snmpd is not installed";
        ASSERT_FALSE(folder_.Path().empty());
        const std::string config = folder_.Path() + "/snmpd.conf";
        std::ofstream(config) << "agentAddress udp:127.0.0.1:161\n"
                                 "rwcommunity public 127.0.0.1\n"
                                 "override "
                              << kStatusOid << " octet_str \"REPORT:0,3;\"\n"
                              << "override -rw " << kRestartOid << " integer 0\n"
                              << "override " << kIntegerOid << " integer 200\n"
                              << "override " << kCounterOid << " counter 7\n";
        agent_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kSnmpd, "-f", "-Lo", "-C", "-c", config},
            NetSnmpEnvironment(folder_.Path()));
        ASSERT_TRUE(agent_->WaitForOutput("NET-SNMP version", kStartLimitMs)) << agent_->Output();
    }

    void TearDown() override {
        if (agent_)
            agent_->Stop();
    }

    TempDir folder_;  // net-snmp's configuration and persistent state
    std::unique_ptr<ChildProcess> agent_;
};

TEST_F(NetSnmpAgent, StatusQueryReadsTheStatusText) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        platform::MessageRecorder messages;
        platform::HeadlessCancelDialog dialog;
        std::string status;
        EXPECT_TRUE(QueryStatus(host, dialog, status)) << host;
        EXPECT_EQ(status, "\"REPORT:0,3;\"") << host;
        EXPECT_TRUE(messages.Texts().empty()) << host;
    }
}

TEST_F(NetSnmpAgent, AnswersToKelosRequests) {
    const struct {
        const char* what;
        const char* oid;
        bool set;
        uint32_t requestId;
        bool ok;
        int errorStatus;
        const char* text;
    } cases[] = {
        {"status text", kStatusOid, false, 0x1A2B, true, 0, "\"REPORT:0,3;\""},
        {"INTEGER 200", kIntegerOid, false, 0x80, true, 0, "0xc8(200)"},
        {"Counter32", kCounterOid, false, 0x7FFFFFFF, true, 0, "Unknown ASN.1 object type"},
        {"no such object", kMissingOid, false, 0x1A2B, false, 2, ""},
        {"set of a read-only object", kStatusOid, true, 0xFF, false, 2, ""},
    };
    for (const auto& c : cases) {
        platform::HeadlessCancelDialog dialog;
        SnmpExchange message;
        message.SetRequestId(c.requestId);
        message.SetCancelDialog(dialog);
        ASSERT_EQ(message.Open("127.0.0.1"), 0) << c.what;
        if (c.set) {
            message.MakeSetRequest(c.oid, snmp::kPduSetRequest, 10);
        } else {
            message.MakeGetRequest(c.oid, snmp::kPduGetRequest);
        }
        ASSERT_GT(message.SendRequest(), 0) << c.what;
        const int received = message.ReceiveResponse();
        EXPECT_EQ(received > 0, c.ok) << c.what << ": " << received;
        ASSERT_NE(received, 0) << c.what << ": no answer";
        const snmp::SnmpVarBind& fields = message.Fields();
        EXPECT_EQ(fields.request_id, static_cast<int32_t>(c.requestId)) << c.what;
        EXPECT_EQ(fields.error_status, c.errorStatus) << c.what;
        EXPECT_EQ(message.ValueText(), c.text) << c.what;
        // The agent names the variable as Kelo did.
        uint8_t name[snmp::kMaxOidContent];
        const int nameLength = snmp::EncodeOid(c.oid, name, snmp::kMaxOidContent);
        EXPECT_EQ(fields.oidname_type, 0x06) << c.what;
        ASSERT_EQ(fields.oidname_length, nameLength) << c.what;
        EXPECT_EQ(Bytes(fields.oidname_data, fields.oidname_data + nameLength),
                  Bytes(name, name + nameLength))
            << c.what;
    }
}

TEST_F(NetSnmpAgent, RestartSetsTheRestartObjectToTen) {
    if (!Installed(kSnmpGet))
        GTEST_SKIP() << "net-snmp's snmpget is not installed";
    platform::MessageRecorder messages;
    platform::FakeClock clock;
    platform::HeadlessCancelDialog dialog;
    RestartInterface("127.0.0.1", dialog);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(clock.Waits(), std::vector<int>(24, 250));

    int status = -1;
    const std::string output = RunTool(
        {kSnmpGet, "-v1", "-c", "public", "-r", "0", "-t", "2", "-Oqv", "127.0.0.1", kRestartOid},
        folder_.Path(), &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "10\n");
}

// ---- net-snmp's tools build the same requests -----------------------------------------------

// A version-1 request without its request-id: the octets from the version to the PDU type,
// and those after the request-id element. The message and PDU lengths are left out because
// net-snmp writes the request-id in its fewest octets where Kelo always uses four.
struct RequestParts {
    Bytes head;
    Bytes tail;
};

RequestParts WithoutRequestId(const Bytes& request) {
    constexpr size_t kRequestIdAt = 15;  // after 30 L, version, community, PDU type and length
    if (request.size() < kRequestIdAt + 2 || request[1] >= 0x80)
        return {};
    const size_t tailAt = kRequestIdAt + 2 + request[kRequestIdAt + 1];
    if (tailAt > request.size())
        return {};
    return {Bytes(request.begin() + 2, request.begin() + 14),
            Bytes(request.begin() + static_cast<long>(tailAt), request.end())};
}

// Runs the tool against a scripted agent that echoes the request as the answer, and holds
// the datagram the tool sent against Kelo's request.
void ExpectSameRequest(const std::vector<std::string>& tool, const SnmpExchange& kelo,
                       const std::string& what) {
    ScriptedAgent agent(ScriptedAgent::Echo);
    ASSERT_TRUE(agent.Bound());
    TempDir folder;
    int status = -1;
    const std::string output = RunTool(tool, folder.Path(), &status);
    EXPECT_EQ(status, 0) << what << ": " << output;
    ASSERT_TRUE(agent.WaitForRequests(1)) << what;
    const RequestParts theirs = WithoutRequestId(agent.Requests().front());
    const RequestParts ours =
        WithoutRequestId(Bytes(kelo.Request(), kelo.Request() + kelo.RequestLength()));
    ASSERT_FALSE(ours.head.empty()) << what;
    EXPECT_EQ(HexText(theirs.head), HexText(ours.head)) << what;
    EXPECT_EQ(HexText(theirs.tail), HexText(ours.tail)) << what;
}

TEST(NetSnmpTools, SnmpgetSendsKelosGetRequest) {
    if (!Installed(kSnmpGet))
        GTEST_SKIP() << "net-snmp's snmpget is not installed";
    SnmpExchange kelo;
    kelo.MakeGetRequest(kStatusOid, snmp::kPduGetRequest);
    ExpectSameRequest(
        {kSnmpGet, "-v1", "-c", "public", "-r", "0", "-t", "2", "127.0.0.1", kStatusOid}, kelo,
        "status object");
}

TEST(NetSnmpTools, SnmpsetSendsKelosSetRequest) {
    if (!Installed(kSnmpSet))
        GTEST_SKIP() << "net-snmp's snmpset is not installed";
    for (int value : {10, 0, -1, 127, 128, -128, -129, 65535, INT_MAX, INT_MIN}) {
        SnmpExchange kelo;
        kelo.MakeSetRequest(kRestartOid, snmp::kPduSetRequest, value);
        ExpectSameRequest({kSnmpSet, "-v1", "-c", "public", "-r", "0", "-t", "2", "127.0.0.1",
                           kRestartOid, "i", std::to_string(value)},
                          kelo, "INTEGER " + std::to_string(value));
    }
}

}  // namespace
}  // namespace kelo
