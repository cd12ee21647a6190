#include "platform/system.h"

#include <netdb.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef KELO_VERSION
#define KELO_VERSION "0.0.0"
#endif

namespace kelo::platform {
namespace {

std::string g_programName = "kelo";
bool g_servicesHidden = false;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

std::string HomeFolder() {
    return EnvOr("HOME", "/tmp");
}

}  // namespace

std::string ProgramName() {
    return g_programName;
}

void SetProgramName(const std::string& argv0) {
    std::string name = argv0;
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name = name.substr(0, dot);
    if (!name.empty())
        g_programName = name;
}

std::string ProgramPath() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return "";
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string ProgramVersion() {
    return KELO_VERSION;
}

int ServicePort(const char* service, const char* protocol, int fallback) {
    if (g_servicesHidden)
        return fallback;
    const servent* entry = getservbyname(service, protocol);
    if (entry == nullptr)
        return fallback;
    return ntohs(static_cast<uint16_t>(entry->s_port));
}

void SetServicesDatabaseHiddenForTest(bool hidden) {
    g_servicesHidden = hidden;
}

std::string TempFolder() {
    std::string folder = EnvOr("TMPDIR", "/tmp/");
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string UserTempFolder() {
    std::string folder = EnvOr("XDG_RUNTIME_DIR", "");
    if (folder.empty())
        return TempFolder();
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string ConfigFolder() {
    return EnvOr("XDG_CONFIG_HOME", HomeFolder() + "/.config");
}

std::string DataHome() {
    return EnvOr("XDG_DATA_HOME", HomeFolder() + "/.local/share");
}

std::string DataFolder() {
    return DataHome() + "/kelo";
}

std::string FileErrorText(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace kelo::platform
