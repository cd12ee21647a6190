#include "snmp/status_query.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "snmp/snmp_msg.h"

namespace kelo {
namespace {

// The restart object is set to this value to ask the interface to restart.
constexpr int kRestartValue = 10;

// The interface needs about six seconds to come back: 24 steps of 250 ms, with the bar
// moving from 40 towards 100.
constexpr int kRestartSteps = 24;
constexpr int kRestartStepMs = 250;
constexpr int kRestartWaitMs = kRestartSteps * kRestartStepMs;
constexpr int kRestartFirstPos = 40;
constexpr int kRestartRange = 100;

// One request and its answer on a fresh message: the string-table message of the step
// that failed, or 0. A missing answer is not a failure; answered, when given, tells whether
// one came.
template <typename BuildRequest>
int Exchange(SnmpExchange& message, const std::string& host, BuildRequest build,
             bool* answered = nullptr) {
    if (message.Open(host) != 0)
        return platform::MessageId::kFailedConnect;
    build(message);
    if (message.SendRequest() < 0)
        return platform::MessageId::kFailedSend;
    const int received = message.ReceiveResponse();
    if (received < 0)
        return platform::MessageId::kFailedReceive;
    if (answered != nullptr)
        *answered = received > 0;
    return 0;
}

// Lets the bar run while the interface restarts; a Cancel, seen in SetPos, ends the wait.
void WaitForRestart(platform::CancelDialog& dialog) {
    for (int step = 0; step < kRestartSteps; ++step) {
        if (dialog.IsCancelled())
            return;
        const int elapsed = step * kRestartStepMs;
        dialog.SetPos(kRestartFirstPos +
                      (elapsed * (kRestartRange - kRestartFirstPos)) / kRestartWaitMs);
        platform::Sleep(kRestartStepMs);
    }
}

}  // namespace

bool QueryStatus(const std::string& host, platform::CancelDialog& dialog, std::string& statusText,
                 SnmpValueDescriber describeValue) {
    SnmpExchange message;
    message.SetCancelDialog(dialog);
    if (describeValue != nullptr)
        message.SetTraceDecoder([describeValue] { return MakeSnmpDecoder(describeValue); });
    const int failure = Exchange(message, host, [](SnmpExchange& request) {
        request.MakeGetRequest(kStatusOid, snmp::kPduGetRequest);
    });
    if (failure != 0) {
        platform::ShowMessage(failure);
        return false;
    }
    statusText = message.ValueText();
    return true;
}

bool RestartInterface(const std::string& host, platform::CancelDialog& dialog) {
    dialog.SetRange(kRestartRange);
    dialog.SetPos(0);
    dialog.Show();
    bool answered = false;
    {
        SnmpExchange message;
        message.SetCancelDialog(dialog);
        const int failure = Exchange(
            message, host,
            [](SnmpExchange& request) {
                request.MakeSetRequest(kRestartOid, snmp::kPduSetRequest, kRestartValue);
            },
            &answered);
        if (failure != 0) {
            platform::ShowMessage(failure);
        } else {
            WaitForRestart(dialog);
        }
    }
    dialog.Hide();
    return answered;
}

}  // namespace kelo
