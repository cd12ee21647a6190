#include "sim/sessions.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kelo::sim {
namespace {

// Types 3 and 4: request frames in, reply frames out.
class PacketSession : public Session {
  public:
    PacketSession(Machine& machine, int connection) : machine_(machine), connection_(connection) {}

    void Receive(const uint8_t* bytes, size_t size, Outbox& out) override {
        if (done_)
            return;
        pending_.insert(pending_.end(), bytes, bytes + size);
        size_t used = 0;
        while (!done_ && used < pending_.size()) {
            const FrameParse parse =
                ParsePacketFrame(pending_.data() + used, pending_.size() - used);
            if (parse.status == FrameStatus::kIncomplete)
                break;
            if (parse.status != FrameStatus::kComplete) {
                Reject(parse.status, used, out);
                break;
            }
            used += parse.frameLength;
            TakeFrame(parse.frame, out);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
    }

    void Closed(const char* reason) override {
        if (!pending_.empty() && !done_) {
            machine_.Log().Emit(Event("frame-rejected")
                                    .Number("conn", connection_)
                                    .Text("reason", "closed-inside-frame")
                                    .Text("end", reason)
                                    .Number("bytes", static_cast<long long>(pending_.size())));
        }
    }

  private:
    void Reject(FrameStatus status, size_t at, Outbox& out) {
        machine_.Log().Emit(
            Event("frame-rejected")
                .Number("conn", connection_)
                .Text("reason", FrameStatusName(status))
                .Hex("head", pending_.data() + at, std::min<size_t>(pending_.size() - at, 16)));
        done_ = true;
        out.closeAfterSend = true;
    }

    void TakeFrame(const PacketFrame& frame, Outbox& out) {
        const std::string name = CommandName(frame.command);
        machine_.Log().Emit(Event("frame")
                                .Number("conn", connection_)
                                .Text("cmd", name)
                                .Number("data", static_cast<long long>(frame.data.size()))
                                .Flag("data_sum", frame.hasDataSum));
        const std::optional<std::vector<uint8_t>> body = machine_.HandleFrame(connection_, frame);
        if (!body)
            return;
        if (machine_.GetFaults().neverAnswer) {
            machine_.Log().Emit(
                Event("reply-withheld").Number("conn", connection_).Text("cmd", name));
            return;
        }
        const ReplyPlan plan = PlanReply(*body, machine_.GetFaults());
        machine_.Log().Emit(Event("reply")
                                .Number("conn", connection_)
                                .Text("cmd", name)
                                .Number("body", static_cast<long long>(body->size()))
                                .Number("bytes", static_cast<long long>(plan.bytes.size()))
                                .Flag("cut", plan.closeAfter));
        out.bytes.append(reinterpret_cast<const char*>(plan.bytes.data()), plan.bytes.size());
        if (plan.closeAfter) {
            out.closeAfterSend = true;
            done_ = true;
        }
    }

    Machine& machine_;
    const int connection_;
    std::vector<uint8_t> pending_;
    bool done_ = false;
};

}  // namespace

std::unique_ptr<Session> MakePacketSession(Machine& machine, int connection) {
    return std::make_unique<PacketSession>(machine, connection);
}

}  // namespace kelo::sim
