// What the three TCP senders share: the host they opened, the progress dialog they watch, the
// cancel rule, and the way they connect.
#pragma once

#include <string>

#include "net/socket.h"
#include "platform/cancel_dialog.h"

namespace kelo {

class SenderSocket : public Socket {
  public:
    // A sender may carry the access lines of machine types 1 and 2, so its trace hides them
    // unless the sender says it never carries one.
    SenderSocket();

    void SetCancelDialog(platform::CancelDialog* dialog) { cancelDialog_ = dialog; }
    const std::string& Host() const { return host_; }

  protected:
    // Stores the host, resolves it (no socket is made when that fails), creates a stream
    // socket and connects. 0 or -1.
    int OpenStream(const std::string& host, int port);

    // The cancel rule: let the dialog's events run in socket-safe mode, then abort the
    // blocked call when the user has pressed Cancel.
    bool OnMessagePending() override;

    platform::CancelDialog* cancelDialog_ = nullptr;

  private:
    std::string host_;
};

}  // namespace kelo
