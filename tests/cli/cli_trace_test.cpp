// The protocol trace of real exchanges with kelo-sim: what the text trace shows, what tshark
// reads from the capture, and that neither file holds an access code.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/device_link.h"
#include "ops/operations.h"
#include "platform/access_codes.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "tests/cli/cli_harness.h"
#include "testsupport/sim_process.h"
#include "trace/trace_session.h"

namespace cli_testing {
namespace {

using sim_testing::SimProcess;

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// True when some 32 characters in a row of either access code stand in the file.
bool HoldsAnAccessCode(const std::string& file) {
    for (const char* code : {kelo::platform::kAccessCodeA, kelo::platform::kAccessCodeB}) {
        for (int at = 0; at + 32 <= kelo::platform::kAccessCodeLength; ++at) {
            if (file.find(std::string(code + at, 32)) != std::string::npos)
                return true;
        }
    }
    return false;
}

// tshark's lines for the capture; nullopt when tshark is not installed.
std::optional<std::string> Tshark(const std::string& arguments) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        return std::nullopt;
    FILE* tshark = ::popen(("tshark " + arguments + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buffer[512];
    while (tshark != nullptr && std::fgets(buffer, sizeof buffer, tshark) != nullptr)
        out += buffer;
    if (tshark != nullptr)
        ::pclose(tshark);
    return out;
}

TEST(CliTrace, Type1ReportIsTracedDecodedAndCapturedWithoutTheAccessCode) {
    CliEnvironment env;
    SimProcess machine({"--type", "1", "--bind", "127.0.0.2", "--restart-ms", "0"});
    ASSERT_TRUE(machine.Listening());
    const std::string trace = env.File("t.txt");
    const std::string capture = env.File("c.pcapng");
    const CliResult run = RunCli(
        {"--host", "127.0.0.2", "--type", "1", "--trace", trace, "--pcap", capture, "get-report"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const std::string text = ReadFileText(trace);
    EXPECT_NE(text.find(" tcp 127.0.0.2:515 > 510 bytes: LPD data file: access line \"OPEN "
                        "CODE=\" <access code, 500 characters, not shown>\n000000 4f 50 45 4e "),
              std::string::npos);
    EXPECT_EQ(Count(text, "\n# <access code, 500 characters, not shown>\n"), 1u);
    EXPECT_NE(text.find("LPD data file: command \"GET REPORT\"\n"), std::string::npos);
    EXPECT_NE(text.find(" wait 300 ms\n"), std::string::npos);
    const size_t requests =
        Count(text, "> 48 bytes: SNMP GetRequest request-id " + std::to_string(::getpid()) +
                        ", .1.3.6.1.4.1.1229.2.2.2.1.24.1 = NULL\n");
    EXPECT_EQ(requests, machine.EventsNamed("snmp").size());
    const size_t lines = (run.out.size() + 127) / 128;
    EXPECT_NE(text.find("; REPORT: count " + std::to_string(lines) + "\n"), std::string::npos);
    for (size_t line = 1; line < lines; ++line)
        EXPECT_NE(text.find("; REPORT: line " + std::to_string(line) + ", 128 bytes\n"),
                  std::string::npos)
            << line;
    EXPECT_NE(text.find("LPD data file: end-of-exchange byte\n"), std::string::npos);

    const std::string captured = ReadFileText(capture);
    EXPECT_FALSE(HoldsAnAccessCode(text));
    EXPECT_FALSE(HoldsAnAccessCode(captured));
    EXPECT_EQ(Count(captured, std::string(500, '*')), 1u) << "the code's bytes, masked";

    const auto job = Tshark("-r " + capture +
                            " -Y lpd.request -T fields -e lpd.client_code "
                            "-e lpd.printer_option");
    if (!job)
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it)";
    EXPECT_EQ(job->substr(0, job->find('\n')), "2\tlp1") << *job;
    const std::string oid = "1.3.6.1.4.1.1229.2.2.2.1.24.1";
    const std::string pid = std::to_string(::getpid());
    const auto snmp = Tshark("-r " + capture +
                             " -Y snmp -T fields -e snmp.data "
                             "-e snmp.request_id -e snmp.name");
    EXPECT_EQ(Count(*snmp, "0\t" + pid + "\t" + oid + "\n"), requests);  // get-request
    EXPECT_EQ(Count(*snmp, "2\t" + pid + "\t" + oid + "\n"), requests);  // get-response
    const auto faults = Tshark("-r " + capture +
                               " -o ip.check_checksum:TRUE -o "
                               "tcp.check_checksum:TRUE -o udp.check_checksum:TRUE -Y "
                               "'ip.checksum.status==2 || tcp.checksum.status==2 || "
                               "udp.checksum.status==2 || tcp.analysis.flags || _ws.malformed'");
    EXPECT_EQ(*faults, "");
}

// The packets of a pcapng file as they are.
std::vector<std::string> PcapngPackets(const std::string& file) {
    std::vector<std::string> packets;
    uint32_t word[6];  // a block's type, length, and what follows; in the host's byte order
    for (size_t at = 0; at + sizeof word <= file.size(); at += word[1]) {
        std::memcpy(word, file.data() + at, sizeof word);
        if (word[0] == 6)
            packets.push_back(file.substr(at + 28, word[5]));
    }
    return packets;
}

// What text2pcap is to read of the capture's blocks (each UDP datagram, the TCP segments up
// to a pushed one): all of a block up to 1 KiB, else its first and last 256 bytes, never the
// 500 after an "OPEN CODE="; each stretch between parts left out is a packet.
std::vector<std::string> ShownPackets(const std::string& capture) {
    std::vector<std::string> packets;
    std::string block;
    for (const std::string& ip : PcapngPackets(capture)) {
        const std::string segment = ip.substr(20);
        const bool udp = ip[9] == 17;
        block += segment.substr(udp ? 8 : (static_cast<uint8_t>(segment[12]) >> 4) * 4u);
        if (!udp && (segment[13] & 0x08) == 0)
            continue;
        size_t hiddenTo = 0;
        bool shown = false;
        for (size_t i = 0; i < block.size(); ++i) {
            if (i >= 10 && block.compare(i - 10, 10, "OPEN CODE=") == 0)
                hiddenTo = i + 500;
            const bool wasShown = shown;
            shown = i >= hiddenTo && (block.size() <= 1024 || i < 256 || i + 256 >= block.size());
            if (shown && !wasShown)
                packets.emplace_back();
            if (shown)
                packets.back() += block[i];
        }
        block.clear();
    }
    return packets;
}

TEST(CliTrace, Text2pcapReadsEveryShownByteOfEachTypesTrace) {
    if (std::system("command -v text2pcap >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "text2pcap is not installed (scripts/setup installs it)";
    for (const std::string type : {"1", "2", "3", "4"}) {
        CliEnvironment env;
        SimProcess machine({"--type", type, "--bind", "127.0.0.2", "--restart-ms", "0"});
        ASSERT_TRUE(machine.Listening());
        const std::string trace = env.File("t.txt");
        const std::string capture = env.File("c.pcapng");
        ASSERT_EQ(RunCli({"--host", "127.0.0.2", "--type", type, "--trace", trace, "--pcap",
                          capture, "get-report"})
                      .status,
                  0);
        const std::string read = env.File("read.pcapng");
        ASSERT_EQ(std::system(("text2pcap -q " + trace + " " + read + " 2>/dev/null").c_str()), 0);
        const std::vector<std::string> expected = ShownPackets(ReadFileText(capture));
        const std::vector<std::string> packets = PcapngPackets(ReadFileText(read));
        ASSERT_FALSE(expected.empty()) << "type " << type;
        EXPECT_TRUE(packets == expected)
            << "type " << type << ": " << packets.size() << " of " << expected.size() << " packets";
    }
}

TEST(CliTrace, Type3PutParametersShowsTheSecondHalfShortenedAndTheRestart) {
    CliEnvironment env;
    SimProcess machine({"--type", "3", "--bind", "127.0.0.2", "--restart-ms", "0"});
    ASSERT_TRUE(machine.Listening());
    kelo::trace::TraceSession session([](const std::string& problem) { FAIL() << problem; });
    ASSERT_TRUE(session.StartText(env.File("t.txt")));
    kelo::platform::MessageRecorder messages;
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::DeviceLink link(dialog, {kelo::kPortNetwork, 0, 2, {"127.0.0.2"}});
    const std::vector<uint8_t> set(65537, 0x5A);
    kelo::ops::PutParameters(link.Port(), set.data(), static_cast<int>(set.size()));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Done."});

    const std::string text = ReadFileText(env.File("t.txt"));
    EXPECT_EQ(Count(text,
                    "> 32775 bytes: packet frame: command 00 05 (put the second half of "
                    "the parameter set), 32768 bytes of data, data-sum good, L 32771, "
                    "check byte good\n"),
              1u);
    EXPECT_EQ(Count(text, "\n# <32263 bytes not shown> (the rows below start at byte 32519)\n"),
              1u);
    EXPECT_NE(text.find("> 10 bytes: packet frame: command 00 06 (text command) \"rs\\n\", "
                        "data-sum good, L 6, check byte good\n000000 80 00 06 00 06 72 73 0a"),
              std::string::npos);
    EXPECT_NE(text.find("Z wait 3000 ms\n"), std::string::npos);
}

TEST(CliTrace, ABadCheckByteIsMarkedAndCancelIsAnEvent) {
    CliEnvironment env;
    SimProcess bad({"--type", "3", "--bind", "127.0.0.2", "--fault", "bad-checksum"});
    SimProcess silent({"--type", "3", "--bind", "127.0.0.3", "--fault", "never-answer"});
    ASSERT_TRUE(bad.Listening() && silent.Listening());
    // The environment starts the trace as --trace does.
    ::setenv("KELO_TRACE", env.File("t.txt").c_str(), 1);
    EXPECT_EQ(RunCli({"--host", "127.0.0.2", "--type", "3", "get-report"}).status, 1);
    std::thread pressCtrlC([&silent] {
        silent.WaitForEvent("reply-withheld");
        ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(RunCli({"--host", "127.0.0.3", "--type", "3", "get-report"}).status, 130);
    pressCtrlC.join();
    ::unsetenv("KELO_TRACE");

    const std::string text = ReadFileText(env.File("t.txt"));
    EXPECT_NE(text.find(", check byte bad\n"), std::string::npos);
    const size_t cancel = text.find("Z Cancel (SIGINT)\n");
    EXPECT_NE(cancel, std::string::npos);
    EXPECT_LT(cancel, text.find("Z message \"Failed to receive.\"\n"));
    EXPECT_LT(cancel, text.find("Z tcp 127.0.0.3:9101 close\n"));
}

}  // namespace
}  // namespace cli_testing
