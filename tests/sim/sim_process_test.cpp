// kelo-sim as a process on the machine's real ports (NETNS: a private network namespace).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/access_codes.h"
#include "sim/builtin_data.h"
#include "sim/machine.h"
#include "sim/options.h"
#include "sim/snmp_ber.h"
#include "testsupport/file_bytes.h"
#include "testsupport/sim_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_bytes.h"

namespace {

using sim_testing::Bytes;
using sim_testing::EventField;
using sim_testing::SimProcess;
using testing_support::ReadFileBytes;

constexpr int kLimitMs = 10000;

sockaddr_in Address(const char* dotted, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, dotted, &address.sin_addr);
    return address;
}

// A TCP connection to the machine on loopback; every wait is bounded.
class Tcp {
  public:
    explicit Tcp(uint16_t port, const char* host = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = Address(host, port);
        if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error_ = errno;
            close(fd_);
            fd_ = -1;
        }
    }
    ~Tcp() { Close(); }
    bool Connected() const { return fd_ >= 0; }
    int Error() const { return error_; }
    void Close() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    bool Send(const std::vector<uint8_t>& bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool Send(const std::string& text) {
        return Send(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Reads exactly n bytes; fewer when the machine closes or the limit passes.
    std::vector<uint8_t> Read(size_t n) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < n) {
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, kLimitMs) <= 0)
                break;
            uint8_t buffer[65536];
            const ssize_t got = recv(fd_, buffer, std::min(sizeof buffer, n - bytes.size()), 0);
            if (got <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    // A reply frame: header, then L body bytes and the check byte.
    std::vector<uint8_t> ReadReplyFrame() {
        std::vector<uint8_t> frame = Read(3);
        if (frame.size() < 3)
            return frame;
        const std::vector<uint8_t> rest = Read(((frame[1] << 8) | frame[2]) + 1u);
        frame.insert(frame.end(), rest.begin(), rest.end());
        return frame;
    }

    // True when the machine closed the connection (within the limit).
    bool ClosedByPeer() {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, kLimitMs) <= 0)
            return false;
        uint8_t byte;
        return recv(fd_, &byte, 1, 0) <= 0;
    }

  private:
    int fd_ = -1;
    int error_ = 0;
};

// One LPD data file: subcommand, acknowledgement, data and end byte, acknowledgement.
bool PutDataFile(Tcp& job, const std::string& content) {
    if (!job.Send("\x03" + std::to_string(content.size()) + " x\n"))
        return false;
    if (job.Read(1) != Bytes("00"))
        return false;
    if (!job.Send(content + std::string(1, '\0')))
        return false;
    return job.Read(1) == Bytes("00");
}

bool OpenJob(Tcp& job) {
    return job.Send(std::string("\x02lp1\n")) && job.Read(1) == Bytes("00");
}

// A job that opens with the access code and sends the restart command "rs".
bool SendRestart(Tcp& job, const char* accessCode) {
    return OpenJob(job) && PutDataFile(job, std::string("OPEN CODE=") + accessCode) &&
           PutDataFile(job, "PIPE MONITOR") && PutDataFile(job, std::string("\x00\x03rs\n\xF3", 6));
}

// A UDP socket connected to the machine's agent.
int AgentSocket(const char* host = "127.0.0.1") {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = Address(host, 161);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> bytes{tag, static_cast<uint8_t>(content.size())};
    bytes.insert(bytes.end(), content.begin(), content.end());
    return bytes;
}

// A version 1 request of one object, community "public", request-id 0x1A2B; value is the
// whole value TLV ("05 00" for a Get).
std::vector<uint8_t> SnmpRequest(uint8_t pdu, const char* oid, const std::string& value) {
    std::vector<uint8_t> varbind = Tlv(0x06, kelo::sim::OidContent(oid));
    const std::vector<uint8_t> valueBytes = Bytes(value);
    varbind.insert(varbind.end(), valueBytes.begin(), valueBytes.end());
    std::vector<uint8_t> body = Bytes("02 04 00 00 1A 2B 02 01 00 02 01 00");
    const std::vector<uint8_t> list = Tlv(0x30, Tlv(0x30, varbind));
    body.insert(body.end(), list.begin(), list.end());
    std::vector<uint8_t> message = Bytes("02 01 00 04 06 70 75 62 6C 69 63");
    const std::vector<uint8_t> pduBytes = Tlv(pdu, body);
    message.insert(message.end(), pduBytes.begin(), pduBytes.end());
    return Tlv(0x30, message);
}

// Sends a hand-built GetRequest of the status object.
void SendStatusRequest(int fd) {
    const std::vector<uint8_t> request = Bytes(
        "30 2E 02 01 00 04 06 70 75 62 6C 69 63 A0 21 02 04 00 00 1A 2B 02 01 00 02 01 00 "
        "30 13 30 11 06 0D 2B 06 01 04 01 89 4D 02 02 02 01 18 01 05 00");
    send(fd, request.data(), request.size(), 0);
}

// The status text in the answer waiting on the socket (up to limitMs), or "".
std::string ReceiveStatus(int fd, int limitMs) {
    pollfd entry{fd, POLLIN, 0};
    std::vector<uint8_t> answer(1500);
    if (poll(&entry, 1, limitMs) <= 0)
        return "";
    const ssize_t got = recv(fd, answer.data(), answer.size(), 0);
    if (got <= 0)
        return "";
    const kelo::sim::SnmpParse parse =
        kelo::sim::ParseSnmpRequest(answer.data(), static_cast<size_t>(got));
    if (!parse.ok || parse.request.varbinds.size() != 1)
        return "";
    const std::vector<uint8_t>& value = parse.request.varbinds[0].value;
    return std::string(value.begin(), value.end());
}

// The text value of one object of the agent on that address, or "" without an answer.
std::string GetText(const char* host, const char* oid) {
    const int fd = AgentSocket(host);
    const std::vector<uint8_t> request = SnmpRequest(kelo::sim::kPduGetRequest, oid, "05 00");
    send(fd, request.data(), request.size(), 0);
    const std::string text = ReceiveStatus(fd, kLimitMs);
    close(fd);
    return text;
}

// One status read.
std::string ReadStatus() {
    const int fd = AgentSocket();
    SendStatusRequest(fd);
    const std::string text = ReceiveStatus(fd, kLimitMs);
    close(fd);
    return text;
}

// Reads status texts until every line of the field has come; the assembled bytes.
std::vector<uint8_t> CollectLines(const std::string& key, int maxReads) {
    int count = 0;
    std::map<int, std::vector<uint8_t>> lines;
    for (int read = 0; read < maxReads; ++read) {
        const std::string text = ReadStatus();
        const size_t at = text.find(key);
        if (at == std::string::npos)
            continue;
        const size_t end = text.find(';', at);
        if (end == std::string::npos)
            continue;
        const std::string payload = text.substr(at + key.size(), end - at - key.size());
        const size_t comma = payload.find(',');
        const int n = std::atoi(payload.substr(0, comma).c_str());
        if (n == 0) {
            count = std::atoi(payload.substr(comma + 1).c_str());
        } else if (count > 0 && n <= count) {
            std::vector<uint8_t>& line = lines[n];
            line.clear();
            for (size_t i = comma + 1; i + 1 < payload.size(); i += 2) {
                line.push_back(static_cast<uint8_t>(std::stoul(payload.substr(i, 2), nullptr, 16)));
            }
            if (static_cast<int>(lines.size()) == count)
                break;
        }
    }
    std::vector<uint8_t> data;
    for (const auto& [n, line] : lines)
        data.insert(data.end(), line.begin(), line.end());
    return data;
}

unsigned SumOf(const std::vector<uint8_t>& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), 0u) & 0xFF;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    pclose(pipe);
    return output;
}

class PacketMachineTest : public ::testing::TestWithParam<int> {};

TEST_P(PacketMachineTest, AnswersGetReportWithOneReplyFrame) {
    const int type = GetParam();
    SimProcess machine({"--type", std::to_string(type)});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    Tcp link(type == 3 ? 9101 : 9500);
    ASSERT_TRUE(link.Connected());
    ASSERT_TRUE(link.Send(Bytes("80 00 02 00 01 7C")));
    const std::vector<uint8_t> reply = link.ReadReplyFrame();
    const std::vector<uint8_t> report = kelo::sim::BuiltInReport(type);
    ASSERT_EQ(reply.size(), report.size() + 4);
    EXPECT_EQ(reply[0], 0x80);
    EXPECT_EQ((reply[1] << 8) | reply[2], static_cast<int>(report.size()));
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 3, reply.end() - 1), report);
    EXPECT_EQ(SumOf(reply), 0xFFu);
    EXPECT_EQ(EventField(machine.WaitForEvent("frame"), "cmd"), "00 01");
}

TEST_P(PacketMachineTest, ServesBothHalvesOfTheParameterSet) {
    SimProcess machine({"--type", std::to_string(GetParam())});
    ASSERT_TRUE(machine.Listening());
    const std::vector<uint8_t> set = kelo::sim::BuiltInParameters();
    std::vector<uint8_t> received;
    for (const char* request : {"80 00 02 00 02 7B", "80 00 02 00 03 7A"}) {
        Tcp link(GetParam() == 3 ? 9101 : 9500);
        ASSERT_TRUE(link.Send(Bytes(request)));
        const std::vector<uint8_t> reply = link.ReadReplyFrame();
        ASSERT_EQ(reply.size(), 32768u + 4);
        EXPECT_EQ(SumOf(reply), 0xFFu);
        received.insert(received.end(), reply.begin() + 3, reply.end() - 1);
    }
    EXPECT_EQ(received, set);
}

INSTANTIATE_TEST_SUITE_P(Types, PacketMachineTest, ::testing::Values(3, 4));

class StatusMachineTest : public ::testing::TestWithParam<int> {};

TEST_P(StatusMachineTest, OffersTheReportLineByLineThroughTheStatusText) {
    const int type = GetParam();
    SimProcess machine({"--type", std::to_string(type)});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    Tcp job(515);
    ASSERT_TRUE(OpenJob(job));
    const char* code = type == 1 ? kelo::platform::kAccessCodeA : kelo::platform::kAccessCodeB;
    ASSERT_TRUE(PutDataFile(job, std::string("OPEN CODE=") + code));
    ASSERT_TRUE(PutDataFile(job, "GET REPORT"));

    const std::vector<uint8_t> report = kelo::sim::BuiltInReport(type);
    EXPECT_EQ(CollectLines("REPORT:", 200), report);
    ASSERT_TRUE(PutDataFile(job, std::string(1, '\0')));
    EXPECT_EQ(EventField(machine.WaitForEvent("access"), "ok"), "true");
    EXPECT_FALSE(machine.WaitForEvent("end-of-exchange").empty());
    EXPECT_EQ(ReadStatus().find("REPORT:"), std::string::npos);
}

TEST_P(StatusMachineTest, OffersTheParameterSetWithItsZeros) {
    const int type = GetParam();
    SimProcess machine({"--type", std::to_string(type)});
    ASSERT_TRUE(machine.Listening());
    Tcp job(515);
    ASSERT_TRUE(OpenJob(job));
    ASSERT_TRUE(PutDataFile(
        job, std::string("OPEN CODE=") +
                 (type == 1 ? kelo::platform::kAccessCodeA : kelo::platform::kAccessCodeB)));
    ASSERT_TRUE(PutDataFile(job, "GET PARAM"));
    EXPECT_EQ(CollectLines("READ_PARAM:", 1000), kelo::sim::BuiltInParameters());
}

INSTANTIATE_TEST_SUITE_P(Types, StatusMachineTest, ::testing::Values(1, 2));

TEST(SnmpToolsTest, NetSnmpGetsTheStatusAndSetsTheRestart) {
    if (access("/usr/bin/snmpget", X_OK) != 0 || access("/usr/bin/snmpset", X_OK) != 0) {
        GTEST_SKIP() << "net-snmp's snmpget and snmpset are not installed";
    }
    SimProcess machine({"--type", "1", "--restart-ms", "0"});
    ASSERT_TRUE(machine.Listening());
    const std::string got =
        RunCommand("snmpget -v1 -c public -r 0 -t 5 127.0.0.1 .1.3.6.1.4.1.1229.2.2.2.1.24.1");
    EXPECT_NE(got.find("STRING: \"MFG:Generic;"), std::string::npos) << got;
    EXPECT_EQ(EventField(machine.WaitForEvent("snmp"), "pdu_type"), "160");

    const std::string set =
        RunCommand("snmpset -v1 -c public -r 0 -t 5 127.0.0.1 .1.3.6.1.4.1.1229.2.8.1.0 i 10");
    EXPECT_NE(set.find("INTEGER: 10"), std::string::npos) << set;
    EXPECT_EQ(EventField(machine.WaitForEvent("restart"), "cause"), "snmp");

    machine.WaitForEvent("ready");
    const std::string missing =
        RunCommand("snmpget -v1 -c public -r 0 -t 5 127.0.0.1 .1.3.6.1.2.1.1.4.0");
    EXPECT_NE(missing.find("noSuchName"), std::string::npos) << missing;
}

TEST(LifecycleTest, StopsWithExitCodeZeroOnSigtermAndSigint) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        SimProcess machine({"--type", "3"});
        ASSERT_TRUE(machine.Listening());
        EXPECT_EQ(machine.Stop(signalNumber), 0);
        EXPECT_FALSE(machine.WaitForEvent("stopped").empty());
    }
}

TEST(LifecycleTest, BadArgumentsExitTwoWithAMessage) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--type", "7"},
                                               {"--type", "1", "--fault", "x"},
                                               {"--type", "3", "--report", "/nonexistent/r"}}) {
        const sim_testing::SimRun run = sim_testing::RunSimToEnd(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.standardError.rfind("kelo-sim: ", 0), 0u) << run.standardError;
        EXPECT_TRUE(run.standardOutput.empty());
    }
}

TEST(LifecycleTest, HelpAndVersionGoToStandardOutputAndExitZero) {
    const sim_testing::SimRun help = sim_testing::RunSimToEnd({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.standardOutput, kelo::sim::UsageText());
    EXPECT_TRUE(help.standardError.empty());
    const sim_testing::SimRun version = sim_testing::RunSimToEnd({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.standardOutput.rfind("kelo-sim ", 0), 0u);
}

TEST(LifecycleTest, APortItCannotBindExitsTwoNamingThePort) {
    SimProcess first({"--type", "4"});
    ASSERT_TRUE(first.Listening());
    const sim_testing::SimRun second = sim_testing::RunSimToEnd({"--type", "4"});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.standardError.find("cannot bind TCP 9500 on 127.0.0.1"), std::string::npos)
        << second.standardError;
    const sim_testing::SimRun foreign =
        sim_testing::RunSimToEnd({"--type", "3", "--bind", "192.0.2.1"});
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_NE(foreign.standardError.find("cannot bind TCP 9101 on 192.0.2.1"), std::string::npos);
}

TEST(RestartTest, ARestartingMachineRefusesConnections) {
    SimProcess machine({"--type", "3", "--restart-ms", "600000"});
    ASSERT_TRUE(machine.Listening());
    {
        Tcp link(9101);
        ASSERT_TRUE(link.Send(sim_testing::RequestFrame(0x00, 0x06, Bytes("72 73 0A"), true)));
        ASSERT_FALSE(machine.WaitForEvent("restart").empty());
        // The connection that carried the command is left alone.
        EXPECT_TRUE(link.Send(Bytes("80 00 02 00 01 7C")));
        EXPECT_EQ(link.ReadReplyFrame().size(), kelo::sim::BuiltInReport(3).size() + 4);
    }
    for (uint16_t port : {9101, 9100}) {
        Tcp refused(port);
        EXPECT_FALSE(refused.Connected());
        EXPECT_EQ(refused.Error(), ECONNREFUSED);
    }
}

TEST(RestartTest, StatusReadsDuringARestartGoUnanswered) {
    SimProcess machine({"--type", "1", "--restart-ms", "600000"});
    ASSERT_TRUE(machine.Listening());
    Tcp job(515);
    ASSERT_TRUE(SendRestart(job, kelo::platform::kAccessCodeA));
    ASSERT_FALSE(machine.WaitForEvent("restart").empty());
    const int agent = AgentSocket();
    SendStatusRequest(agent);
    EXPECT_EQ(EventField(machine.WaitForEvent("snmp-dropped"), "reason"), "restarting");
    EXPECT_EQ(ReceiveStatus(agent, 0), "");  // dropped: nothing is, or will be, on its way
    close(agent);
    EXPECT_FALSE(Tcp(515).Connected());
}

TEST(RestartTest, TheMachineListensAgainWhenTheRestartIsOver) {
    SimProcess machine({"--type", "2", "--restart-ms", "20"});
    ASSERT_TRUE(machine.Listening());
    Tcp job(515);
    ASSERT_TRUE(SendRestart(job, kelo::platform::kAccessCodeB));
    EXPECT_EQ(EventField(machine.WaitForEvent("restart"), "cause"), "rs");
    ASSERT_FALSE(machine.WaitForEvent("ready").empty());
    Tcp again(515);
    EXPECT_TRUE(again.Connected());
    EXPECT_TRUE(OpenJob(again));
}

TEST(RestartTest, SilentAfterRestartNeverComesBack) {
    SimProcess machine({"--type", "1", "--restart-ms", "20", "--fault", "silent-after-restart"});
    ASSERT_TRUE(machine.Listening());
    Tcp job(515);
    ASSERT_TRUE(SendRestart(job, kelo::platform::kAccessCodeA));
    ASSERT_FALSE(machine.WaitForEvent("restart").empty());
    EXPECT_EQ(machine.WaitForEvent("ready", 1, 500), "");
    EXPECT_EQ(Tcp(515).Error(), ECONNREFUSED);
    const int agent = AgentSocket();
    SendStatusRequest(agent);
    EXPECT_EQ(EventField(machine.WaitForEvent("snmp-dropped"), "reason"), "silent-after-restart");
    close(agent);
}

TEST(RecordTest, FirmwareAndParametersArriveAsFiles) {
    testing_support::TempDir folder;
    {
        SimProcess machine({"--type", "1", "--record", folder.Path(), "--restart-ms", "0"});
        ASSERT_TRUE(machine.Listening());
        Tcp job(515);
        ASSERT_TRUE(OpenJob(job));
        const std::string access = std::string("OPEN CODE=") + kelo::platform::kAccessCodeA;
        ASSERT_TRUE(PutDataFile(job, access));
        ASSERT_TRUE(PutDataFile(job, "PUT PARAM"));
        ASSERT_TRUE(PutDataFile(job, std::string("\x01\x00\x02", 3)));
        ASSERT_TRUE(PutDataFile(job, access));
        ASSERT_TRUE(PutDataFile(job, "PIPE MONITOR"));
        std::string update = "BOOT_UpdateMain 0\n";
        ASSERT_TRUE(PutDataFile(job, std::string("\x00\x12", 2) + update + "\xE8"));
        ASSERT_TRUE(PutDataFile(job, std::string(102400, 'F')));
        ASSERT_TRUE(PutDataFile(job, "tail"));
        job.Close();
        const std::string firmware = machine.WaitForEvent("firmware");
        EXPECT_EQ(EventField(firmware, "bytes"), "102404");
        EXPECT_EQ(ReadFileBytes(folder.File("params-1.bin")), Bytes("01 00 02"));
        const std::vector<uint8_t> image = ReadFileBytes(folder.File("firmware-1.bin"));
        ASSERT_EQ(image.size(), 102404u);
        EXPECT_EQ(std::string(image.end() - 5, image.end()), "Ftail");
    }
}

TEST(HostileInputTest, GarbageOnEveryPortLeavesTheMachineServing) {
    SimProcess machine({"--type", "1"});
    ASSERT_TRUE(machine.Listening());
    std::mt19937 random(1179);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> garbage(1 + random() % 600);
        for (uint8_t& byte : garbage)
            byte = static_cast<uint8_t>(random());
        if (round % 2 == 0)
            garbage[0] = 0x30;  // looks like a BER sequence
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(161);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, garbage.data(), garbage.size(), 0, reinterpret_cast<sockaddr*>(&address),
               sizeof address);
        close(fd);
        Tcp job(515);
        job.Send(garbage);
        job.Close();
    }
    EXPECT_NE(ReadStatus().find("MFG:"), std::string::npos);
    Tcp job(515);
    EXPECT_TRUE(OpenJob(job));
    EXPECT_EQ(machine.Stop(), 0);
}

TEST(FaultTest, SlowTrickleStillDeliversTheWholeFrame) {
    SimProcess machine({"--type", "3", "--fault", "slow-trickle", "--report", "/dev/null"});
    ASSERT_TRUE(machine.Listening());
    Tcp link(9101);
    ASSERT_TRUE(link.Send(Bytes("80 00 02 00 01 7C")));
    EXPECT_EQ(link.ReadReplyFrame(), Bytes("80 00 00 7F"));
}

TEST(FaultTest, LpdNakRefusesTheJobAndCloses) {
    SimProcess machine({"--type", "1", "--fault", "lpd-nak"});
    ASSERT_TRUE(machine.Listening());
    Tcp job(515);
    ASSERT_TRUE(job.Send(std::string("\x02lp1\n")));
    EXPECT_EQ(job.Read(1), Bytes("01"));
    EXPECT_TRUE(job.ClosedByPeer());
}

TEST(FaultTest, NeverAcceptLeavesAConnectUnanswered) {
    SimProcess machine({"--type", "3", "--fault", "never-accept"});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const sockaddr_in address = Address("127.0.0.1", 9101);
    ASSERT_NE(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(errno, EINPROGRESS);
    pollfd entry{fd, POLLOUT, 0};
    EXPECT_EQ(poll(&entry, 1, 300), 0) << "the kernel dropped the SYN of a full accept queue";
    close(fd);
    EXPECT_TRUE(Tcp(9100).Connected()) << "the firmware port is not part of the fault";
}

TEST(FaultTest, CloseMidBodyCutsTheReplyAndCloses) {
    SimProcess machine({"--type", "4", "--fault", "close-mid-body"});
    ASSERT_TRUE(machine.Listening());
    Tcp link(9500);
    ASSERT_TRUE(link.Send(Bytes("80 00 02 00 01 7C")));
    const std::vector<uint8_t> cut = link.Read(70000);
    EXPECT_EQ(cut.size(), 3 + kelo::sim::BuiltInReport(4).size() / 2);
}

// --- Many machines in one process ---

// 1,024 machines of type 1: every one listens and names itself, and a restart closes only
// that machine's listener.
TEST(ManyMachinesTest, EachOfAThousandMachinesHasItsOwnState) {
    SimProcess machines({"--type", "1", "--bind", "127.0.4.0/22", "--restart-ms", "600000"});
    ASSERT_TRUE(machines.Listening()) << machines.StandardError();
    const std::string last = machines.WaitForEvent("listening", 1024);
    EXPECT_EQ(EventField(last, "address"), "127.0.7.255");
    EXPECT_EQ(EventField(last, "udp"), "161");
    EXPECT_EQ(GetText("127.0.5.17", kelo::sim::kSysNameOid), "kelo-sim-127.0.5.17");

    const int agent = AgentSocket("127.0.6.1");
    const std::vector<uint8_t> restart =
        SnmpRequest(kelo::sim::kPduSetRequest, kelo::sim::kRestartOid, "02 01 0A");
    send(agent, restart.data(), restart.size(), 0);
    close(agent);
    EXPECT_EQ(EventField(machines.WaitForEvent("restart"), "address"), "127.0.6.1");
    EXPECT_FALSE(Tcp(515, "127.0.6.1").Connected());
    Tcp neighbour(515, "127.0.6.2");
    EXPECT_TRUE(OpenJob(neighbour));
    EXPECT_EQ(EventField(machines.WaitForEvent("lpd-job"), "address"), "127.0.6.2");
}

TEST(ManyMachinesTest, EachAddressServesItsOwnReportAndRecordsInItsOwnFolder) {
    testing_support::TempDir folder;
    testing_support::WriteFile(folder.File("127.0.4.0.txt"), "REPORT OF ZERO");
    testing_support::WriteFile(folder.File("127.0.4.1.txt"), "REPORT OF ONE");
    SimProcess machines({"--type", "3", "--bind", "127.0.4.0/31", "--report",
                         folder.File("{address}.txt"), "--record", folder.File("record")});
    ASSERT_TRUE(machines.Listening()) << machines.StandardError();
    for (const auto& [host, report] :
         {std::pair{"127.0.4.0", "REPORT OF ZERO"}, std::pair{"127.0.4.1", "REPORT OF ONE"}}) {
        Tcp link(9101, host);
        ASSERT_TRUE(link.Send(Bytes("80 00 02 00 01 7C")));
        const std::vector<uint8_t> reply = link.ReadReplyFrame();
        ASSERT_GT(reply.size(), 4u);
        EXPECT_EQ(std::string(reply.begin() + 3, reply.end() - 1), report);
    }
    const std::vector<uint8_t> half(kelo::sim::kHalfSize, 0x5A);
    Tcp link(9101, "127.0.4.1");
    ASSERT_TRUE(link.Send(sim_testing::RequestFrame(0x00, 0x04, half, true)));
    const std::string params = machines.WaitForEvent("params");
    EXPECT_EQ(EventField(params, "address"), "127.0.4.1");
    EXPECT_EQ(EventField(params, "file"), folder.File("record") + "/127.0.4.1/params-1.bin");
    EXPECT_EQ(ReadFileBytes(EventField(params, "file")), half);
}

// Types 3 and 4 ran without an agent before they had one; where UDP 161 is taken they still
// do, while types 1 and 2 cannot do without theirs.
TEST(AgentTest, OnlyTypesThreeAndFourServeWithoutTheirAgent) {
    const int taken = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = Address("127.0.0.1", 161);
    ASSERT_EQ(bind(taken, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    {
        SimProcess machine({"--type", "3"});
        ASSERT_TRUE(machine.Listening()) << machine.StandardError();
        EXPECT_EQ(EventField(machine.EventsNamed("listening")[0], "udp"), "");
        // Its standard error is read apart from its events: whole only once it has ended.
        EXPECT_EQ(machine.Stop(), 0);
        EXPECT_EQ(machine.StandardError(),
                  "kelo-sim: cannot bind UDP 161 on 127.0.0.1: Address already in use; serving "
                  "without the SNMP agent\n");
    }
    const sim_testing::SimRun lineMachine = sim_testing::RunSimToEnd({"--type", "2"});
    EXPECT_EQ(lineMachine.exitCode, 2);
    EXPECT_NE(lineMachine.standardError.find("cannot bind UDP 161 on 127.0.0.1"),
              std::string::npos);
    close(taken);
}

}  // namespace
