#include "link/usb_printer.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "link/access_code_mask.h"
#include "link/command_trace.h"
#include "link/device_id.h"
#include "platform/messages.h"

namespace kelo {
namespace {

namespace fs = std::filesystem;

// The instance identifiers of the maker's machines, compared as prefixes in this order.
constexpr const char* kOrvexInstancePrefixes[] = {
    "USB\\VID_0B75&PID_0316",
    "USB\\VID_0B75&PID_0319",
    "USB\\VID_0B75&PID_031A",
};

// usblp's request for the device ID; the size of the caller's buffer is part of the code.
constexpr unsigned long kGetDeviceIdNumber = 1;
constexpr unsigned long GetDeviceIdRequest(int size) {
    return _IOC(_IOC_READ, 'P', kGetDeviceIdNumber, static_cast<unsigned long>(size));
}
// The largest size the request code can carry.
constexpr int kMaxDeviceIdRequest = _IOC_SIZEMASK;
// The two length bytes in front of the device ID.
constexpr int kLengthFieldSize = 2;

class SystemIo : public UsbPrinterIo {
  public:
    int Open(const std::string& path) override {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    int Write(int fd, const uint8_t* data, int length) override {
        ssize_t n;
        do {
            n = ::write(fd, data, static_cast<size_t>(length));
        } while (n < 0 && errno == EINTR);
        return n < 0 ? -1 : static_cast<int>(n);
    }

    bool GetDeviceId(int fd, uint8_t* buffer, int size) override {
        return ::ioctl(fd, GetDeviceIdRequest(size), buffer) >= 0;
    }

    void Close(int fd) override { ::close(fd); }
};

std::string UpperCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The number of a node named prefix followed by decimal digits, or -1 for any other name.
long NodeNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9)
        return -1;
    if (name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    long number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The entries of dir named lp0, lp1, ... in number order. A folder that does not exist has
// none (the driver is not loaded); false when an existing folder cannot be read.
bool NumberedNodes(const fs::path& dir, std::vector<fs::path>& nodes) {
    nodes.clear();
    std::error_code error;
    if (!fs::exists(dir, error))
        return !error;
    std::vector<std::pair<long, fs::path>> numbered;
    fs::directory_iterator it(dir, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const long number = NodeNumber(it->path().filename().string(), "lp");
        if (number >= 0)
            numbered.emplace_back(number, it->path());
    }
    if (error)
        return false;
    std::sort(numbered.begin(), numbered.end());
    for (auto& [number, path] : numbered)
        nodes.push_back(std::move(path));
    return true;
}

// The first line of a sysfs attribute without surrounding white space.
bool ReadAttribute(const fs::path& path, std::string& value) {
    std::ifstream file(path);
    if (!file || !std::getline(file, value))
        return false;
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    value.erase(std::find_if(value.rbegin(), value.rend(), notSpace).base(), value.end());
    value.erase(value.begin(), std::find_if(value.begin(), value.end(), notSpace));
    return true;
}

// The instance identifier USB\VID_xxxx&PID_xxxx\serial of the USB device that an lp node
// belongs to: the node's device is the printer interface, whose parent is the USB device.
// A device without a serial number is named by its place on the bus instead, as Windows names
// it by a generated instance path.
bool InstanceIdOfNode(const fs::path& node, std::string& instanceId) {
    std::error_code error;
    const fs::path interface = fs::canonical(node / "device", error);
    if (error)
        return false;
    const fs::path usbDevice = interface.parent_path();
    std::string vendor, product, serial;
    if (!ReadAttribute(usbDevice / "idVendor", vendor) ||
        !ReadAttribute(usbDevice / "idProduct", product)) {
        return false;
    }
    if (!ReadAttribute(usbDevice / "serial", serial) || serial.empty()) {
        serial = usbDevice.filename().string();
    }
    instanceId = "USB\\VID_" + vendor + "&PID_" + product + "\\" + serial;
    return true;
}

// The symbolic link of an lp node: its sysfs path followed by the interface class, as
// "#{class}". Every usblp node is a USB printer interface.
std::string SymbolicLinkOfNode(const fs::path& node) {
    return node.string() + "#{" + kUsbPrinterInterfaceClass + "}";
}

// Whether text is a GUID without braces: 8-4-4-4-12 hexadecimal digits.
bool IsGuidText(const std::string& text) {
    static constexpr size_t kGroups[] = {8, 4, 4, 4, 12};
    size_t at = 0;
    for (size_t group = 0; group < std::size(kGroups); ++group) {
        if (group > 0 && (at >= text.size() || text[at++] != '-'))
            return false;
        for (size_t i = 0; i < kGroups[group]; ++i, ++at) {
            if (at >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at]))) {
                return false;
            }
        }
    }
    return at == text.size();
}

}  // namespace

UsbPrinterIo& SystemUsbPrinterIo() {
    static SystemIo io;
    return io;
}

bool IsOrvexInstance(const std::string& instanceId) {
    const std::string upper = UpperCase(instanceId);
    for (const char* prefix : kOrvexInstancePrefixes) {
        if (upper.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

bool InterfaceClassFromLink(const std::string& link, std::string& interfaceClass) {
    const size_t close = link.rfind('}');
    if (close == std::string::npos)
        return false;
    const size_t open = link.rfind('{', close);
    if (open == std::string::npos)
        return false;
    interfaceClass = link.substr(open + 1, close - open - 1);
    return true;
}

UsbPrinter::UsbPrinter(std::string sysfsRoot, std::string devRoot, UsbPrinterIo& io)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)), io_(io) {
    trace_.SetDecoder(MakeLocalPortDecoder);
    trace_.SetMask(MakeAccessCodeMask);
}

UsbPrinter::UsbPrinter() : UsbPrinter("/sys", "/dev", SystemUsbPrinterIo()) {}

UsbPrinter::~UsbPrinter() {
    Close();
}

bool UsbPrinter::Open() {
    if (!open_)
        SearchAndOpen();
    return open_;
}

int UsbPrinter::Write(const uint8_t* data, int length) {
    if (length <= 0)
        return length;
    if (!open_ && !SearchAndOpen())
        return 0;
    int sent = 0;
    bool failed = false;
    while (sent < length && !failed) {
        const int piece = std::min(kWritePiece, length - sent);
        const int n = io_.Write(handle_, data + sent, piece);
        // A write that takes nothing would make no progress: it fails like an error.
        failed = n <= 0;
        if (!failed)
            sent += std::min(n, piece);
    }
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        TraceTransfer(*sink, platform::TraceDirection::kToMachine, data, sent, failed);
    if (failed) {
        Close();
        return 0;
    }
    return length;
}

int UsbPrinter::Read(uint8_t* buffer, int size) {
    if (buffer == nullptr || size < 1)
        return 0;
    if (!open_ && !SearchAndOpen())
        return 0;
    // Room for the length bytes in front of a text that fills the caller's buffer.
    const int rawSize = static_cast<int>(
        std::min<long>(static_cast<long>(size) + kLengthFieldSize, kMaxDeviceIdRequest));
    // The driver does not say how much it wrote, so what it leaves untouched reads as zeros.
    std::vector<uint8_t> raw(static_cast<size_t>(rawSize), 0);
    const bool read = io_.GetDeviceId(handle_, raw.data(), rawSize);
    const int textLength = read ? DeviceIdText(raw.data(), rawSize, buffer, size) : 0;
    if (platform::TraceSink* sink = platform::ActiveTraceSink()) {
        TraceTransfer(*sink, platform::TraceDirection::kFromMachine, raw.data(),
                      read ? std::min(textLength + kLengthFieldSize, rawSize) : 0, !read);
    }
    if (!read) {
        Close();
        return 0;
    }
    return textLength + 1;
}

void UsbPrinter::Close() {
    if (!open_)
        return;
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        trace_.Closed(*sink);
    io_.Close(handle_);
    handle_ = -1;
    open_ = false;
}

UsbPrinter::SearchResult UsbPrinter::SearchInterfaceClass() {
    std::vector<fs::path> nodes;
    if (!NumberedNodes(fs::path(sysfsRoot_) / "class" / "usbmisc", nodes)) {
        return SearchResult::kError;
    }
    for (const fs::path& node : nodes) {
        std::string instanceId;
        if (!InstanceIdOfNode(node, instanceId))
            return SearchResult::kError;
        if (!IsOrvexInstance(instanceId))
            continue;
        std::string interfaceClass;
        if (!InterfaceClassFromLink(SymbolicLinkOfNode(node), interfaceClass) ||
            interfaceClass.size() > kMaxInterfaceClass) {
            return SearchResult::kError;
        }
        interfaceClass_ = interfaceClass;
        return SearchResult::kFound;
    }
    return SearchResult::kNotFound;
}

bool UsbPrinter::SearchAndOpen() {
    const bool opened = SearchInterfaceClass() == SearchResult::kFound &&
                        IsGuidText(interfaceClass_) && OpenFirstPresentInterface();
    if (platform::TraceSink* sink = platform::ActiveTraceSink())
        TraceOpen(*sink, opened ? openedPath_ : "");
    return opened;
}

void UsbPrinter::TraceOpen(platform::TraceSink& sink, const std::string& device) {
    platform::TraceEndpoints endpoints;
    endpoints.transport = platform::TraceTransport::kUsb;
    endpoints.device = device;
    trace_.SetEndpoints(std::move(endpoints));
    if (device.empty())
        trace_.Opened(sink, platform::TraceOpenResult::kFailed, "no machine found");
    else
        trace_.Opened(sink, platform::TraceOpenResult::kOpened);
}

void UsbPrinter::TraceTransfer(platform::TraceSink& sink, platform::TraceDirection direction,
                               const uint8_t* data, int count, bool failed) {
    if (count > 0)
        trace_.Bytes(sink, direction, data, static_cast<size_t>(count));
    if (failed) {
        trace_.Note(sink, direction == platform::TraceDirection::kToMachine
                              ? "write failed"
                              : "device ID read failed");
    }
}

// The present interfaces of the class are the usblp nodes; the first that opens is taken,
// whether or not it belongs to the machine the search recognised.
bool UsbPrinter::OpenFirstPresentInterface() {
    // Only USB printer interfaces are present on this system.
    if (UpperCase(interfaceClass_) != UpperCase(kUsbPrinterInterfaceClass))
        return false;
    std::vector<fs::path> nodes;
    if (!NumberedNodes(fs::path(devRoot_) / "usb", nodes))
        return false;
    for (const fs::path& node : nodes) {
        const int fd = io_.Open(node.string());
        if (fd >= 0) {
            handle_ = fd;
            open_ = true;
            openedPath_ = node.string();
            return true;
        }
    }
    return false;
}

namespace {

constexpr int kUsbOpenInterval = 300;
constexpr int kUsbOpenGiveUp = 10000;

}  // namespace

UsbTransport::~UsbTransport() {
    Close();
}

bool UsbTransport::OpenChannel(bool /*quiet*/) {
    for (int elapsed = 0; elapsed < kUsbOpenGiveUp; elapsed += kUsbOpenInterval) {
        if (OpenPort())
            return true;
        WaitUnlessCancelled(kUsbOpenInterval);
    }
    platform::ShowMessage(platform::MessageId::kFailedOpenPort);
    return false;
}

void UsbTransport::Close() {
    if (LocalPort())
        LocalPort()->Close();
}

bool UsbTransport::WriteBlock(const uint8_t* data, int length) {
    // An empty block is a write of nothing, which is no failure.
    if (length < 1)
        return true;
    if (LocalPort() && LocalPort()->Write(data, length) != 0)
        return true;
    platform::ShowMessage(platform::MessageId::kFailedWrite);
    return false;
}

bool UsbTransport::ReadStatusText(std::string& statusText) {
    uint8_t buffer[kUsbStatusBufferSize];
    const int n = LocalPort() ? LocalPort()->Read(buffer, kUsbStatusBufferSize) : 0;
    if (n < 1) {
        platform::ShowMessage(platform::MessageId::kFailedRead);
        return false;
    }
    statusText = TextUpToZero(buffer, std::min(n, kUsbStatusBufferSize));
    return true;
}

bool UsbTransport::WaitForRestart() {
    Close();
    WaitUnlessCancelled(3000);
    return Open(false);
}

}  // namespace kelo
