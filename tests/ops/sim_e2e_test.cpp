// The four operations end to end against kelo-sim, a machine written from the wire formats
// alone, for every machine type. Runs in a private network namespace.
#include <gtest/gtest.h>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "snmp/status_query.h"
#include "testsupport/file_bytes.h"
#include "testsupport/ops_calls.h"
#include "testsupport/scripted_cancel.h"
#include "testsupport/sim_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/trace_tap.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim_testing::EventField;
using sim_testing::SimProcess;
using testing_support::ReadFileBytes;
using testing_support::WriteFile;

// A report as a machine prints it: CR LF lines, a few bytes above 0x7F, no zero byte.
std::string SampleReport() {
    std::string report = "SERVICE REPORT\r\nFirmware  MAIN 2.31  ENGINE 1.07\r\n";
    for (int i = 0; i < 120; ++i) {
        report += "Counter " + std::to_string(i) + " = " + std::to_string(i * 7919 % 100000) +
                  (i % 17 == 0 ? " \xB0"
                                 "C\r\n"
                               : "\r\n");
    }
    return report;
}

// 65,536 varied bytes with zeros in them.
Bytes SampleParameters() {
    Bytes set(65536);
    for (size_t i = 0; i < set.size(); ++i)
        set[i] = (i % 97 < 10) ? 0 : static_cast<uint8_t>(i * 31 + (i >> 8));
    return set;
}

class SimEndToEnd : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        WriteFile(dir_.File("report.txt"), report_);
        WriteFile(dir_.File("params.bin"), params_);
        // Restart waits are only recorded, while the machine restarts in real time: a wait
        // after a restart command lasts until the machine is ready again, so that it is back
        // when it is polled again.
        clock_.onSleep = [this](int ms) {
            if (ms >= 2000 && machine_ != nullptr && restartsAsked_ > 0)
                machine_->WaitForEvent("ready", restartsAsked_);
        };
    }

    std::unique_ptr<SimProcess> StartMachine(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--type",       std::to_string(GetParam()),
                                      "--report",     dir_.File("report.txt"),
                                      "--params",     dir_.File("params.bin"),
                                      "--record",     dir_.File("record"),
                                      "--restart-ms", "100"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto machine = std::make_unique<SimProcess>(args);
        EXPECT_TRUE(machine->Listening()) << machine->StandardError();
        machine_ = machine.get();
        return machine;
    }

    std::unique_ptr<kelo::DeviceLink> MakeLink() {
        auto link = std::make_unique<kelo::DeviceLink>(dialog_);
        link->MutableSettings() = {kelo::kPortNetwork, 0, GetParam() - 1, {"127.0.0.1"}};
        return link;
    }

    bool PacketMachine() const { return GetParam() >= 3; }

    testing_support::TempDir dir_;
    kelo::platform::HeadlessCancelDialog dialog_;
    kelo::platform::MessageRecorder messages_;
    kelo::platform::FakeClock clock_;
    SimProcess* machine_ = nullptr;  // the machine StartMachine started last
    // The restart commands the client sent ("rs\n", "BOOT_UpdateMain 0\n"), as its trace reads
    // them.
    int restartsAsked_ = 0;
    testing_support::TraceTap restartCommands_{[this](const kelo::platform::TraceBlock& block) {
        const std::string& said = block.decoding;
        if (block.direction == kelo::platform::TraceDirection::kToMachine &&
            (said.find("\"rs\\n\"") != std::string::npos ||
             said.find("\"BOOT_UpdateMain 0\\n\"") != std::string::npos)) {
            ++restartsAsked_;
        }
    }};
    const std::string report_ = SampleReport();
    const Bytes params_ = SampleParameters();
};

TEST_P(SimEndToEnd, ReportArrivesByteForByte) {
    auto machine = StartMachine();
    auto link = MakeLink();
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link->Port(), report))
        << ::testing::PrintToString(messages_.Texts());
    EXPECT_EQ(report, report_);
    EXPECT_TRUE(messages_.Messages().empty());
    if (!PacketMachine()) {
        const std::string access = machine->WaitForEvent("access");
        EXPECT_EQ(EventField(access, "ok"), "true");
        EXPECT_EQ(EventField(access, "code"), GetParam() == 1 ? "A" : "B");
        EXPECT_EQ(EventField(machine->WaitForEvent("command"), "text"), "GET REPORT");
        EXPECT_NE(machine->WaitForEvent("end-of-exchange"), "");
    }
}

TEST_P(SimEndToEnd, ParametersGoBackExactlyAsTheyCame) {
    auto machine = StartMachine();
    auto link = MakeLink();
    Bytes buffer(131072);
    const int count = testing_support::ParametersInto(link->Port(), buffer.data(), 131072);
    ASSERT_EQ(count, 65536);
    EXPECT_TRUE(std::equal(params_.begin(), params_.end(), buffer.begin()));
    // The set goes back with its check byte, as a parameter file holds it.
    Bytes set(buffer.begin(), buffer.begin() + count);
    unsigned sum = 1;
    for (uint8_t b : set)
        sum += b;
    set.push_back(static_cast<uint8_t>(sum));
    kelo::ops::PutParameters(link->Port(), set.data(), static_cast<int>(set.size()));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
    if (PacketMachine()) {
        // The machine keeps its own first half; the second goes.
        const std::string second = machine->WaitForEvent("params", 1);
        EXPECT_EQ(ReadFileBytes(EventField(second, "file")),
                  Bytes(params_.begin() + 32768, params_.end()));
    } else {
        const std::string put = machine->WaitForEvent("params");
        EXPECT_EQ(ReadFileBytes(EventField(put, "file")), set);
    }
    EXPECT_NE(machine->WaitForEvent("restart"), "");
}

TEST_P(SimEndToEnd, FirmwareImageArrivesByteForByte) {
    auto machine = StartMachine();
    auto link = MakeLink();
    Bytes image(250000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 131) ^ (i >> 11));
    kelo::ops::UpgradeFirmware(link->Port(), image.data(), static_cast<int>(image.size()));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
    const std::string firmware = machine->WaitForEvent("firmware");
    EXPECT_EQ(EventField(firmware, "announced"), "true");
    EXPECT_EQ(ReadFileBytes(EventField(firmware, "file")), image);
}

INSTANTIATE_TEST_SUITE_P(EveryMachineType, SimEndToEnd, ::testing::Values(1, 2, 3, 4),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

class SimLineMachine : public SimEndToEnd {};

TEST_P(SimLineMachine, LineFaultsStillGiveTheReport) {
    for (const char* fault : {"lines-repeated", "lines-out-of-range", "lines-odd-digits",
                              "lines-before-count", "lines-without-semicolon"}) {
        auto machine = StartMachine({"--fault", fault});
        auto link = MakeLink();
        std::string report;
        EXPECT_TRUE(testing_support::ReportInto(link->Port(), report)) << fault;
        EXPECT_EQ(report, report_) << fault;
    }
}

TEST_P(SimLineMachine, CancelMidReportSendsNoEndByteAndClosesThePort) {
    auto machine = StartMachine({"--fault", "never-answer"});
    auto link = MakeLink();
    testing_support::CancelAtPump(dialog_, 30);
    std::string report;
    EXPECT_FALSE(testing_support::ReportInto(link->Port(), report));
    EXPECT_NE(machine->WaitForEvent("disconnect"), "");
    EXPECT_TRUE(machine->EventsNamed("end-of-exchange").empty());
}

TEST_P(SimLineMachine, AgentErrorEndsTheReport) {
    auto machine = StartMachine({"--fault", "snmp-error"});
    auto link = MakeLink();
    std::string report;
    EXPECT_FALSE(testing_support::ReportInto(link->Port(), report));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to receive."});
}

INSTANTIATE_TEST_SUITE_P(LineMachines, SimLineMachine, ::testing::Values(1, 2),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

class SimPacketMachine : public SimEndToEnd {};

TEST_P(SimPacketMachine, BadRepliesEndTheReportWithTheirOwnMessage) {
    const struct {
        const char* fault;
        std::vector<std::string> messages;
    } cases[] = {
        {"bad-checksum", {}},
        {"bad-lead", {}},
        {"close-mid-body", {}},
        {"length-65535", {}},
        {"close-mid-header", {"Failed to receive."}},
    };
    for (const auto& c : cases) {
        messages_.Clear();
        auto machine = StartMachine({"--fault", c.fault});
        auto link = MakeLink();
        std::string report;
        EXPECT_FALSE(testing_support::ReportInto(link->Port(), report)) << c.fault;
        EXPECT_EQ(messages_.Texts(), c.messages) << c.fault;
    }
}

TEST_P(SimPacketMachine, SlowTrickleStillGivesTheReport) {
    auto machine = StartMachine({"--fault", "slow-trickle"});
    auto link = MakeLink();
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link->Port(), report));
    EXPECT_EQ(report, report_);
}

INSTANTIATE_TEST_SUITE_P(PacketMachines, SimPacketMachine, ::testing::Values(3, 4),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

// Restart in the port selection dialog is the SNMP restart exchange; a machine of type 3
// restarts by it as one of types 1 and 2 does.
TEST(SimRestartExchange, RestartsAMachineOfType3) {
    kelo::platform::FakeClock clock;
    kelo::platform::MessageRecorder messages;
    kelo::platform::HeadlessCancelDialog dialog;
    SimProcess machine({"--type", "3", "--bind", "127.0.0.2", "--restart-ms", "600000"});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    kelo::RestartInterface("127.0.0.2", dialog);
    EXPECT_TRUE(messages.Messages().empty()) << ::testing::PrintToString(messages.Texts());
    const std::string restart = machine.WaitForEvent("restart");
    EXPECT_EQ(EventField(restart, "cause"), "snmp");
    EXPECT_EQ(EventField(restart, "address"), "127.0.0.2");
}

}  // namespace
