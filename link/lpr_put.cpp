#include "link/lpr_put.h"

#include <cstdio>

#include "link/lpr_trace.h"
#include "platform/system.h"

namespace kelo {

CLprPut::CLprPut() {
    SetTraceDecoder(MakeLpdDecoder);
}

int CLprPut::Open(const std::string& host, const std::string& queue) {
    const int port = platform::ServicePort("printer", "tcp", 515);
    if (OpenStream(host, port) != 0)
        return -1;
    // Receive a printer job: 02 queue LF.
    const int length = std::snprintf(line_, sizeof line_, "\x02%s\n", queue.c_str());
    if (length < 0 || length >= kLineBufferSize)
        return -1;
    if (!SendLine(length))
        return -1;
    return ReceiveAcknowledgement() ? 0 : -1;
}

int CLprPut::PutData(const uint8_t* data, int length) {
    if (length < 0)
        return -1;
    // Receive data file: 03 count SP name LF.
    const int lineLength = std::snprintf(line_, sizeof line_, "\x03%d x\n", length);
    if (!SendLine(lineLength) || !ReceiveAcknowledgement())
        return -1;
    if (length > 0 && Send(data, length) != length)
        return -1;
    // The end of the data file is one zero byte, acknowledged like the subcommand.
    line_[0] = '\0';
    if (!SendLine(1))
        return -1;
    return ReceiveAcknowledgement() ? 0 : -1;
}

bool CLprPut::SendLine(int length) {
    return Send(line_, length) == length;
}

bool CLprPut::ReceiveAcknowledgement() {
    const int received = Receive(line_, kLineBufferSize);
    return received > 0 && line_[0] == '\0';
}

}  // namespace kelo
