// After a write: whether the restarted machine answers again within its restart time.
#include <chrono>

#include "ops/operations.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace kelo::ops {
namespace {

// Keeps the messages of the attempts that find the machine still away from the user: each
// failed attempt would say so, and only the end of all of them counts.
class QuietSink : public platform::MessageSink {
  public:
    void Show(const platform::Message&) override {}
};

// One look: types 3 and 4 take a TCP connection on their packet port (9101, 9500), which the
// quiet opening makes without a word; types 1 and 2 answer a status read, over SNMP on the
// network, through the port itself on a local one.
bool Answers(Transport& transport, bool network) {
    if (transport.SpeaksPackets()) {
        const bool opened = transport.Open(true);
        transport.Close();
        return opened;
    }
    std::string status;
    if (network)
        return transport.ReadStatus(status);
    const bool answered = transport.Open(true) && transport.ReadStatus(status);
    transport.Close();
    return answered;
}

}  // namespace

bool AnswersAgain(Transport& transport, bool network) {
    QuietSink quiet;
    platform::MessageSink* shown = platform::SetMessageSink(&quiet);
    const auto started = std::chrono::steady_clock::now();
    const auto bound = std::chrono::seconds(kAnswerAgainSeconds);
    bool answered = false;
    // The waits between looks count toward the bound as well as the time the looks take, so
    // that a clock that does not pass (a test's) still ends the loop.
    for (int waited = 0; !transport.Dialog().IsCancelled(); waited += kAnswerRetryMs) {
        answered = Answers(transport, network);
        if (answered || waited + kAnswerRetryMs > kAnswerAgainSeconds * 1000 ||
            std::chrono::steady_clock::now() - started >= bound)
            break;
        platform::Sleep(kAnswerRetryMs);
    }
    platform::SetMessageSink(shown);
    return answered;
}

}  // namespace kelo::ops
