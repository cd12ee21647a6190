// kelo-sim: simulated machines of any type on their real ports, for tests and demos.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/process_life.h"
#include "platform/system.h"
#include "sim/event_log.h"
#include "sim/machine_plans.h"
#include "sim/options.h"
#include "sim/server.h"

namespace {

constexpr int kUsageError = 2;

int Fail(const std::string& message) {
    std::fprintf(stderr, "kelo-sim: %s\n", message.c_str());
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    if (!kelo::platform::StartProcessLife())
        return kUsageError;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const kelo::sim::OptionsParse parse = kelo::sim::ParseOptions(arguments);
    if (!parse.ok)
        return Fail(parse.error + "\nTry 'kelo-sim --help'.");
    const kelo::sim::Options& options = parse.options;
    if (options.help || options.version) {
        const std::string text = options.help
                                     ? kelo::sim::UsageText()
                                     : "kelo-sim " + kelo::platform::ProgramVersion() + "\n";
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }

    std::vector<kelo::sim::MachinePlan> plans;
    std::string error;
    if (!kelo::sim::PlanMachines(options, plans, error))
        return Fail(error);

    const kelo::sim::EventLog log;
    const kelo::sim::ServeResult result =
        kelo::sim::Serve(std::move(plans), options.restartMs, log);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "kelo-sim: %s\n", result.error.c_str());
    }
    return result.exitCode;
}
