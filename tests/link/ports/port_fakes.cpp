#include "tests/link/ports/port_fakes.h"

#include <ieee1284.h>

#include <algorithm>
#include <filesystem>

#include "testsupport/file_bytes.h"

namespace kelo::test {
namespace fs = std::filesystem;

using testing_support::WriteFile;

std::vector<uint8_t> DeviceIdBytes(const std::string& text) {
    const size_t length = text.size() + 2;
    std::vector<uint8_t> bytes{static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

void FakeSystemTree::AddUsbmiscNode(const std::string& name, const std::string& vendor,
                                    const std::string& product, const std::string& serial) {
    const std::string busName = "1-" + std::to_string(busPort_++);
    const fs::path usbDevice = fs::path(Sysfs()) / "devices" / "usb1" / busName;
    const fs::path interface = usbDevice / (busName + ":1.0");
    fs::create_directories(interface);
    WriteFile(usbDevice / "idVendor", vendor + "\n");
    WriteFile(usbDevice / "idProduct", product + "\n");
    if (!serial.empty())
        WriteFile(usbDevice / "serial", serial + "\n");
    const fs::path node = fs::path(Sysfs()) / "class" / "usbmisc" / name;
    fs::create_directories(node);
    fs::create_directory_symlink(interface, node / "device");
}

void FakeSystemTree::AddDevNode(const std::string& name) {
    const fs::path dir = fs::path(Dev()) / "usb";
    fs::create_directories(dir);
    WriteFile(dir / name, "");
}

void ScriptedMachine::Take(const uint8_t* data, int length) {
    written.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

bool ScriptedMachine::NextStatus(std::string& status) {
    if (++statusReads_ > maxStatusReads)
        return false;
    if (written.find("GET REPORT") == std::string::npos || reportAnswers.empty()) {
        status = idleStatus;
        return true;
    }
    status = reportAnswers[std::min(next_, reportAnswers.size() - 1)];
    if (next_ < reportAnswers.size())
        ++next_;
    return true;
}

int FakeUsbPrinterIo::Open(const std::string& path) {
    opens.push_back(fs::path(path).filename().string());
    if (refused.count(fs::path(path).filename().string()) != 0)
        return -1;
    openFd = nextFd_++;
    return openFd;
}

int FakeUsbPrinterIo::Write(int fd, const uint8_t* data, int length) {
    if (fd != openFd)
        return -1;
    writeSizes.push_back(length);
    const int taken = takes ? takes(length) : length;
    if (taken > 0) {
        written.append(reinterpret_cast<const char*>(data), static_cast<size_t>(taken));
        if (machine != nullptr)
            machine->Take(data, taken);
    }
    return taken;
}

bool FakeUsbPrinterIo::GetDeviceId(int fd, uint8_t* buffer, int size) {
    if (fd != openFd || failDeviceId)
        return false;
    std::vector<uint8_t> id = deviceId;
    if (machine != nullptr) {
        std::string status;
        if (!machine->NextStatus(status))
            return false;
        id = DeviceIdBytes(status);
    }
    std::copy_n(id.begin(), std::min<size_t>(id.size(), static_cast<size_t>(size)), buffer);
    return true;
}

void FakeUsbPrinterIo::Close(int fd) {
    closes.push_back(fd);
    if (fd == openFd)
        openFd = -1;
}

int FakeIeee1284Backend::FindPorts() {
    state_.calls.push_back("find");
    return state_.portCount;
}

int FakeIeee1284Backend::OpenFirstPort(int flags) {
    state_.calls.push_back("open");
    state_.openFlags.push_back(flags);
    return state_.openResult;
}

int FakeIeee1284Backend::Claim() {
    state_.calls.push_back("claim");
    return state_.claimResult;
}

long FakeIeee1284Backend::CompatWrite(const uint8_t* data, long length) {
    state_.calls.push_back("write");
    const long taken = state_.takes ? state_.takes(length) : length;
    if (taken > 0) {
        state_.written.append(reinterpret_cast<const char*>(data), static_cast<size_t>(taken));
        if (state_.machine != nullptr)
            state_.machine->Take(data, static_cast<int>(taken));
    }
    return taken;
}

// As the library does: the ID with its length bytes and a terminating zero, as much as fits.
long FakeIeee1284Backend::GetDeviceId(uint8_t* buffer, long size) {
    state_.calls.push_back("deviceid");
    if (state_.deviceIdResult < 0)
        return state_.deviceIdResult;
    std::vector<uint8_t> id = state_.deviceId;
    if (state_.machine != nullptr) {
        std::string status;
        if (!state_.machine->NextStatus(status))
            return E1284_NOID;
        id = DeviceIdBytes(status);
    }
    id.push_back(0);
    const long count = std::min<long>(static_cast<long>(id.size()), size);
    std::copy_n(id.begin(), count, buffer);
    return count;
}

}  // namespace kelo::test
