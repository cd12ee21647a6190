#include "sim/socket_faults.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace kelo::sim {
namespace {

// How long a connection that fills an accept queue may take on loopback: it is answered at
// once, so only a machine that is badly overloaded comes near this.
constexpr int kFillConnectMs = 5000;
constexpr size_t kTricklePieces[] = {1, 2, 3, 5, 7, 4, 6};

}  // namespace

bool NeverAccepts(const PortPlan& plan, const Faults& faults) {
    return faults.neverAccept && !plan.udp && plan.role != PortRole::kRawImage;
}

int FillAcceptQueue(Listener& listener, const sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        const int failure = errno;
        close(fd);
        return failure;
    }
    pollfd entry{fd, POLLOUT, 0};
    int failure = 0;
    socklen_t size = sizeof failure;
    if (poll(&entry, 1, kFillConnectMs) != 1)
        failure = ETIMEDOUT;
    else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
        failure = errno;
    return KeepUnlessFailed(fd, failure, listener.filler);
}

size_t TricklePiece(size_t step) {
    return kTricklePieces[step % std::size(kTricklePieces)];
}

}  // namespace kelo::sim
