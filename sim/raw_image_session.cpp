#include "sim/sessions.h"

namespace kelo::sim {
namespace {

// Types 3 and 4, TCP 9100: everything one connection brings until it closes is an image.
class RawImageSession : public Session {
  public:
    RawImageSession(Machine& machine, int connection)
        : machine_(machine), connection_(connection), announced_(machine.TakeImageAnnouncement()) {
        machine_.GetRecorder().StartImage(image_);
    }

    void Receive(const uint8_t* bytes, size_t size, Outbox&) override {
        image_.Append(bytes, size);
    }

    void Closed(const char* reason) override {
        FinishFirmware(machine_, image_, connection_, "9100", announced_, reason);
    }

  private:
    Machine& machine_;
    const int connection_;
    const bool announced_;
    Recorder::Image image_;
};

}  // namespace

std::unique_ptr<Session> MakeRawImageSession(Machine& machine, int connection) {
    return std::make_unique<RawImageSession>(machine, connection);
}

}  // namespace kelo::sim
