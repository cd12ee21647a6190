#include "link/ports.h"

namespace kelo {

// The parallel port and USB links are not part of this build yet: opening them fails with
// the connection's own message.
std::unique_ptr<ParallelPort> MakeSystemParallelPort() { return nullptr; }
std::unique_ptr<UsbDevice> MakeSystemUsbDevice() { return nullptr; }

}  // namespace kelo
