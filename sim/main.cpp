// kelo-sim: a simulated machine of any type on its real ports, for tests and demos.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/builtin_data.h"
#include "sim/event_log.h"
#include "sim/machine.h"
#include "sim/options.h"
#include "sim/recorder.h"
#include "sim/server.h"

namespace {

constexpr int kUsageError = 2;
// Larger files are not what a machine holds; they are refused rather than read into memory.
constexpr std::streamoff kMaxFileBytes = 16 << 20;
// Types 3 and 4 send the report in one reply frame, whose length field has 16 bits.
constexpr size_t kMaxFramedReport = 65535;

int Fail(const std::string& message) {
    std::fprintf(stderr, "kelo-sim: %s\n", message.c_str());
    return kUsageError;
}

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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const sim::OptionsParse parse = sim::ParseOptions(arguments);
    if (!parse.ok)
        return Fail(parse.error + "\nTry 'kelo-sim --help'.");
    const sim::Options& options = parse.options;
    if (options.help) {
        std::fputs(sim::UsageText().c_str(), stdout);
        return 0;
    }

    sim::MachineConfig config;
    config.type = options.type;
    config.faults = options.faults;
    std::string error;
    if (options.reportFile.empty()) {
        config.report = sim::BuiltInReport(options.type);
    } else if (!ReadWholeFile(options.reportFile, config.report, error)) {
        return Fail(error);
    }
    if (options.type >= 3 && config.report.size() > kMaxFramedReport) {
        return Fail(options.reportFile + " does not fit one reply frame (at most 65535 bytes)");
    }
    if (options.paramsFile.empty()) {
        config.parameters = sim::BuiltInParameters();
    } else if (!ReadWholeFile(options.paramsFile, config.parameters, error)) {
        return Fail(error);
    }

    sim::Recorder recorder(options.recordDir);
    if (!recorder.Prepare(error))
        return Fail(error);

    sim::EventLog log;
    sim::Machine machine(std::move(config), log, recorder);
    const sim::ServeResult result = sim::Serve(machine, options.bind, options.restartMs);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "kelo-sim: %s\n", result.error.c_str());
    }
    return result.exitCode;
}
