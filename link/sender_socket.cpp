#include "link/sender_socket.h"

#include <sys/socket.h>

#include "link/access_code_mask.h"

namespace kelo {

SenderSocket::SenderSocket() {
    SetTraceMask(MakeAccessCodeMask);
}

int SenderSocket::OpenStream(const std::string& host, int port) {
    host_ = host;
    sockaddr_in address{};
    if (!ResolveIPv4(host, port, &address))
        return -1;
    Create(SOCK_STREAM);
    return Connect(address) ? 0 : -1;
}

bool SenderSocket::OnMessagePending() {
    if (cancelDialog_ == nullptr)
        return true;
    cancelDialog_->PumpMessages(true);
    return !cancelDialog_->IsCancelled();
}

}  // namespace kelo
