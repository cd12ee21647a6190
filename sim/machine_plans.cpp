#include "sim/machine_plans.h"

#include <fstream>
#include <map>
#include <memory>

#include "sim/builtin_data.h"
#include "sim/recorder.h"

namespace kelo::sim {
namespace {

// Larger files are not what a machine holds; they are refused rather than read into memory.
constexpr std::streamoff kMaxFileBytes = 16 << 20;
// Types 3 and 4 send the report in one reply frame, whose length field has 16 bits.
constexpr size_t kMaxFramedReport = 65535;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& content, std::string& error) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxFileBytes) {
        error = path + " is larger than 16 MiB";
        return false;
    }
    file.seekg(0);
    content.resize(static_cast<size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(content.data()), size)) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

// The path with every {address} in it replaced by the machine's address.
std::string PathFor(std::string path, const std::string& address) {
    const std::string placeholder = kAddressPlaceholder;
    for (size_t at = path.find(placeholder); at != std::string::npos;
         at = path.find(placeholder, at + address.size())) {
        path.replace(at, placeholder.size(), address);
    }
    return path;
}

// The files the machines serve, each read once.
class ServedFiles {
  public:
    bool Get(const std::string& path, ServedBytes& bytes, std::string& error) {
        ServedBytes& cached = files_[path];
        if (!cached) {
            std::vector<uint8_t> content;
            if (!ReadWholeFile(path, content, error))
                return false;
            cached = std::make_shared<const std::vector<uint8_t>>(std::move(content));
        }
        bytes = cached;
        return true;
    }

  private:
    std::map<std::string, ServedBytes> files_;
};

}  // namespace

bool PlanMachines(const Options& options, std::vector<MachinePlan>& plans, std::string& error) {
    const bool folderPerAddress = options.addresses.size() > 1;
    if (!options.recordDir.empty() && !Recorder(options.recordDir).Prepare(error))
        return false;
    const ServedBytes builtInReport =
        std::make_shared<const std::vector<uint8_t>>(BuiltInReport(options.type));
    const ServedBytes builtInParameters =
        std::make_shared<const std::vector<uint8_t>>(BuiltInParameters());
    ServedFiles files;
    for (const std::string& address : options.addresses) {
        MachinePlan plan;
        MachineConfig& config = plan.config;
        config.type = options.type;
        config.faults = options.faults;
        config.address = address;
        config.report = builtInReport;
        config.parameters = builtInParameters;
        const std::string reportPath = PathFor(options.reportFile, address);
        if (!reportPath.empty() && !files.Get(reportPath, config.report, error))
            return false;
        if (options.type >= 3 && config.report->size() > kMaxFramedReport) {
            error = reportPath + " does not fit one reply frame (at most 65535 bytes)";
            return false;
        }
        const std::string paramsPath = PathFor(options.paramsFile, address);
        if (!paramsPath.empty() && !files.Get(paramsPath, config.parameters, error))
            return false;
        plan.recordDir = options.recordDir;
        if (folderPerAddress && !plan.recordDir.empty()) {
            plan.recordDir += "/" + address;
            if (!Recorder(plan.recordDir).Prepare(error))
                return false;
        }
        plans.push_back(std::move(plan));
    }
    return true;
}

}  // namespace kelo::sim
