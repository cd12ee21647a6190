#include "link/orvex_device.h"
#include "link/parallel_port_ieee1284.h"
#include "link/ports.h"

namespace kelo {

std::unique_ptr<ParallelPort> MakeSystemParallelPort() {
    return std::make_unique<CIeee1284Port>(MakeLibIeee1284Backend());
}

std::unique_ptr<UsbDevice> MakeSystemUsbDevice() {
    return std::make_unique<COrvexDevice>();
}

}  // namespace kelo
