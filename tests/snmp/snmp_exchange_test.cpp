// The status query and the restart exchange against a scripted agent on UDP port 161.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/system.h"
#include "snmp/snmp_msg.h"
#include "snmp/status_query.h"
#include "tests/snmp/ber_bytes.h"
#include "tests/snmp/scripted_agent.h"

namespace kelo {
namespace {

using test::Answer;
using test::AnswerWithValue;
using test::Bytes;
using test::HexBytes;
using test::OctetString;
using test::ScriptedAgent;

using Strings = std::vector<std::string>;

ScriptedAgent::Script Silent() {
    return [](const Bytes&) { return std::nullopt; };
}

ScriptedAgent::Script Replying(const Bytes& answer) {
    return [answer](const Bytes&) { return answer; };
}

// The bar positions of the restart wait: 40 + (15000 * k) / 6000 for k = 0 to 23.
const std::vector<int> kRestartPositions = {40, 42, 45, 47, 50, 52, 55, 57, 60, 62, 65, 67,
                                            70, 72, 75, 77, 80, 82, 85, 87, 90, 92, 95, 97};

// ---- Status query ---------------------------------------------------------------------------

TEST(SnmpStatusQuery, Answers) {
    const Bytes good = AnswerWithValue(OctetString("REPORT:0,3;"));
    const struct {
        const char* what;
        Bytes answer;
        bool ok;
        const char* text;
        Strings messages;
    } cases[] = {
        {"INTEGER", AnswerWithValue(HexBytes("02 01 01")), true, "0x1(1)", {}},
        {"OCTET STRING", good, true, "\"REPORT:0,3;\"", {}},
        {"NULL", AnswerWithValue(HexBytes("05 00")), true, "", {}},
        {"noSuchName",
         Answer(HexBytes("02 04 00 00 1A 2B"), 2, HexBytes("05 00"), 1),
         false,
         "stale",
         {"Failed to receive."}},
        {"truncated", Bytes(good.begin(), good.end() - 4), false, "stale", {"Failed to receive."}},
        {"empty datagram", Bytes{}, false, "stale", {"Failed to receive."}},
    };
    for (const auto& c : cases) {
        ScriptedAgent agent(Replying(c.answer));
        ASSERT_TRUE(agent.Bound());
        platform::MessageRecorder messages;
        platform::HeadlessCancelDialog dialog;
        std::string status = "stale";
        EXPECT_EQ(QueryStatus("127.0.0.1", dialog, status), c.ok) << c.what;
        EXPECT_EQ(status, c.text) << c.what;
        EXPECT_EQ(messages.Texts(), c.messages) << c.what;
    }
}

TEST(SnmpStatusQuery, SendsTheGetRequestOfTheStatusObject) {
    ScriptedAgent agent(Replying(AnswerWithValue(HexBytes("02 01 01"))));
    ASSERT_TRUE(agent.Bound());
    platform::HeadlessCancelDialog dialog;
    std::string status;
    ASSERT_TRUE(QueryStatus("localhost", dialog, status));
    ASSERT_TRUE(agent.WaitForRequests(1));
    SnmpExchange expected;
    expected.MakeGetRequest(".1.3.6.1.4.1.1229.2.2.2.1.24.1", snmp::kPduGetRequest);
    const Bytes request = agent.Requests().front();
    EXPECT_EQ(request, Bytes(expected.Request(), expected.Request() + 48));
}

TEST(SnmpStatusQuery, NoAnswerIsAnEmptyTextAfterTheTimer) {
    ScriptedAgent agent(Silent());
    ASSERT_TRUE(agent.Bound());
    platform::MessageRecorder messages;
    platform::HeadlessCancelDialog dialog;
    const auto start = std::chrono::steady_clock::now();
    // A receive that ignored the timer would wait for ever: give up with a Cancel instead.
    dialog.onPump = [start](platform::HeadlessCancelDialog& d) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5))
            d.Cancel();
    };
    std::string status = "stale";
    EXPECT_TRUE(QueryStatus("127.0.0.1", dialog, status));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, "");
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_GT(dialog.PumpCount(), 0);  // the wait let events run
    EXPECT_TRUE(agent.WaitForRequests(1));
}

TEST(SnmpStatusQuery, CancelWhileWaitingIsAFailure) {
    ScriptedAgent agent(Silent());
    ASSERT_TRUE(agent.Bound());
    platform::MessageRecorder messages;
    platform::HeadlessCancelDialog dialog;
    dialog.Show();
    dialog.onPump = [](platform::HeadlessCancelDialog& d) {
        if (d.PumpCount() == 3)
            d.Cancel();
    };
    std::string status = "stale";
    EXPECT_FALSE(QueryStatus("127.0.0.1", dialog, status));
    EXPECT_EQ(status, "stale");
    EXPECT_EQ(messages.Texts(), Strings{"Failed to receive."});
    EXPECT_EQ(dialog.PumpCount(), 3);
}

TEST(SnmpStatusQuery, NobodyListeningIsAReceiveFailure) {
    // Loopback refuses the datagram at once, which is not a missing answer.
    platform::MessageRecorder messages;
    platform::HeadlessCancelDialog dialog;
    std::string status;
    EXPECT_FALSE(QueryStatus("127.0.0.1", dialog, status));
    EXPECT_EQ(messages.Texts(), Strings{"Failed to receive."});
}

TEST(SnmpStatusQuery, UnresolvableHostFailsToConnect) {
    for (const char* host : {"", "no-such-host.invalid", "300.1.2.3x"}) {
        platform::MessageRecorder messages;
        platform::HeadlessCancelDialog dialog;
        std::string status = "stale";
        EXPECT_FALSE(QueryStatus(host, dialog, status)) << host;
        EXPECT_EQ(status, "stale") << host;
        EXPECT_EQ(messages.Texts(), Strings{"Failed to connect."}) << host;
    }
}

TEST(SnmpStatusQuery, PortFallsBackTo161WithoutServicesEntry) {
    platform::SetServicesDatabaseHiddenForTest(true);
    ScriptedAgent agent(Replying(AnswerWithValue(HexBytes("02 01 01"))));
    ASSERT_TRUE(agent.Bound());
    platform::HeadlessCancelDialog dialog;
    std::string status;
    const bool ok = QueryStatus("127.0.0.1", dialog, status);
    platform::SetServicesDatabaseHiddenForTest(false);
    EXPECT_TRUE(ok);
    EXPECT_EQ(status, "0x1(1)");
}

TEST(SnmpMessage, ReceiveReportsWhatCameBack) {
    const Bytes answer = AnswerWithValue(HexBytes("02 01 0A"));
    ScriptedAgent agent(Replying(answer));
    ASSERT_TRUE(agent.Bound());
    platform::HeadlessCancelDialog dialog;
    SnmpExchange message;
    message.SetCancelDialog(dialog);
    ASSERT_EQ(message.Open("127.0.0.1"), 0);
    message.MakeGetRequest(".1.3.6.1.4.1.1229.2.2.2.1.24.1", snmp::kPduGetRequest);
    EXPECT_EQ(message.SendRequest(), 48);
    EXPECT_EQ(message.ReceiveResponse(), static_cast<int>(answer.size()));
    EXPECT_EQ(message.ResponseLength(), static_cast<int>(answer.size()));
    EXPECT_EQ(message.ValueText(), "0xa(10)");
}

// ---- Restart exchange -----------------------------------------------------------------------

struct RestartRun {
    platform::MessageRecorder messages;
    platform::FakeClock clock;
    platform::HeadlessCancelDialog dialog;
    std::vector<int> positions;  // SetPos while the dialog is up

    RestartRun() {
        dialog.onProgress = [this](platform::HeadlessCancelDialog& d) {
            if (d.IsVisible())
                positions.push_back(d.Pos());
        };
    }
};

TEST(SnmpRestart, WaitsSixSecondsWhetherOrNotTheInterfaceAnswers) {
    const struct {
        const char* what;
        ScriptedAgent::Script script;
    } cases[] = {
        {"silent", Silent()},
        {"answers", ScriptedAgent::Echo},
    };
    for (const auto& c : cases) {
        ScriptedAgent agent(c.script);
        ASSERT_TRUE(agent.Bound());
        RestartRun run;
        RestartInterface("127.0.0.1", run.dialog);
        EXPECT_EQ(run.clock.Waits(), std::vector<int>(24, 250)) << c.what;
        EXPECT_EQ(run.positions, kRestartPositions) << c.what;
        EXPECT_EQ(run.dialog.Range(), 100) << c.what;
        EXPECT_FALSE(run.dialog.IsVisible()) << c.what;
        EXPECT_TRUE(run.messages.Texts().empty()) << c.what;
        ASSERT_TRUE(agent.WaitForRequests(1)) << c.what;
        SnmpExchange expected;
        expected.MakeSetRequest(".1.3.6.1.4.1.1229.2.8.1.0", snmp::kPduSetRequest, 10);
        EXPECT_EQ(agent.Requests().front(), Bytes(expected.Request(), expected.Request() + 47))
            << c.what;
    }
}

TEST(SnmpRestart, CancelEndsTheWaitEarlyAndHidesTheDialog) {
    ScriptedAgent agent(ScriptedAgent::Echo);
    ASSERT_TRUE(agent.Bound());
    RestartRun run;
    run.dialog.onPump = [](platform::HeadlessCancelDialog& d) {
        if (d.Pos() == 45)
            d.Cancel();
    };
    RestartInterface("127.0.0.1", run.dialog);
    EXPECT_EQ(run.clock.Waits(), std::vector<int>(3, 250));
    EXPECT_EQ(run.positions, (std::vector<int>{40, 42, 45}));
    EXPECT_FALSE(run.dialog.IsVisible());
    EXPECT_TRUE(run.messages.Texts().empty());
}

TEST(SnmpRestart, FailuresShowTheirMessageAndSkipTheWait) {
    const struct {
        const char* what;
        const char* host;
        std::optional<Bytes> answer;  // none: nobody listens
        const char* message;
    } cases[] = {
        {"unresolvable", "no-such-host.invalid", Bytes{}, "Failed to connect."},
        {"genErr", "127.0.0.1", Answer(HexBytes("02 04 00 00 1A 2B"), 5, HexBytes("02 01 0A"), 1),
         "Failed to receive."},
        {"truncated", "127.0.0.1", Bytes(HexBytes("30 2D 02 01 00 04 06 70 75")),
         "Failed to receive."},
        {"refused", "127.0.0.1", std::nullopt, "Failed to receive."},
    };
    for (const auto& c : cases) {
        std::optional<ScriptedAgent> agent;
        if (c.answer)
            agent.emplace(Replying(*c.answer));
        RestartRun run;
        RestartInterface(c.host, run.dialog);
        EXPECT_EQ(run.messages.Texts(), Strings{c.message}) << c.what;
        EXPECT_TRUE(run.clock.Waits().empty()) << c.what;
        EXPECT_TRUE(run.positions.empty()) << c.what;
        EXPECT_FALSE(run.dialog.IsVisible()) << c.what;
    }
}

}  // namespace
}  // namespace kelo
