// A TCP listener that never accepts and whose accept queue is full: the kernel drops every
// further connection request, so a connect to it gets no answer at all, as with a host that
// drops SYNs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class FullListener {
  public:
    // Listens on address:port (port 0 picks one) and fills the queue. Listening() is false
    // when either failed.
    explicit FullListener(uint16_t port = 0, const std::string& address = "127.0.0.1");
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    bool Listening() const { return full_; }
    uint16_t Port() const { return port_; }

  private:
    // The queued connections and the queue's limit, as the kernel counts them.
    bool QueueCounts(unsigned& queued, unsigned& limit) const;
    bool WaitUntilQueued(unsigned count) const;

    int listenFd_ = -1;
    uint16_t port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

}  // namespace testing_support
