#include "link/parallel_port_ieee1284.h"
#include "link/ports.h"
#include "link/usb_printer.h"

namespace kelo {

std::unique_ptr<ParallelPort> MakeSystemParallelPort() {
    return std::make_unique<Ieee1284Port>(MakeLibIeee1284Backend());
}

std::unique_ptr<UsbDevice> MakeSystemUsbDevice() {
    return std::make_unique<UsbPrinter>();
}

}  // namespace kelo
