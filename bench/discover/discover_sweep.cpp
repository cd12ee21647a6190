// Subnet sweeps of kelo-cli discover, timed from the program's start to its end, against
// kelo-sim machines on loopback: a /24 with one machine of each type, a /22 that holds those
// and 16 more machines served by one kelo-sim, and, for comparison, a /24 of machines whose
// SNMP agents never answer (the path of hosts that stay silent). The machines' ports are
// fixed, so run it in a private network namespace:
//   tests/netns-run build/bench/discover/discover_sweep
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/cli_process.h"
#include "testsupport/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 3;
constexpr int kTimeoutMs = 1500;  // discover's default

struct Sweep {
    const char* subnet;
    size_t machines;  // expected
    int slackMs;      // the target: the time-out plus this; 0 for none
};

// One run of kelo-cli discover: seconds taken and machines found (JSON lines), or -1.
std::pair<double, long> RunOnce(const char* subnet) {
    const auto start = Clock::now();
    cli_testing::CliProcess discover({"discover", "--subnet", subnet, "--json", "--no-progress"});
    const int status = discover.Wait(120000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0 && status != 1)
        return {seconds, -1};
    long lines = 0;
    for (char c : discover.Out())
        lines += c == '\n';
    return {seconds, lines};
}

bool Measure(const Sweep& sweep) {
    bool met = true;
    std::printf("%-14s", sweep.subnet);
    double worst = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto [seconds, found] = RunOnce(sweep.subnet);
        std::printf("  %.3f s (%ld found)", seconds, found);
        worst = std::max(worst, seconds);
        met = met && found == static_cast<long>(sweep.machines);
    }
    if (sweep.slackMs > 0) {
        const double limit = (kTimeoutMs + sweep.slackMs) / 1000.0;
        met = met && worst <= limit;
        std::printf("  target %.1f s, %zu machines: %s\n", limit, sweep.machines,
                    met ? "met" : "MISSED");
    } else {
        std::printf("  (no target)\n");
    }
    return met;
}

std::unique_ptr<sim_testing::SimProcess> Machine(std::vector<std::string> arguments) {
    auto machine = std::make_unique<sim_testing::SimProcess>(arguments, 30000);
    if (!machine->Listening()) {
        std::fprintf(stderr,
                     "discover_sweep: kelo-sim did not start (%s); run it with tests/netns-run\n",
                     machine->StandardError().c_str());
        return nullptr;
    }
    return machine;
}

}  // namespace

int main() {
    std::vector<std::unique_ptr<sim_testing::SimProcess>> machines;
    for (int type = 1; type <= 4; ++type) {
        machines.push_back(Machine(
            {"--type", std::to_string(type), "--bind", "127.0.3." + std::to_string(10 * type)}));
    }
    machines.push_back(Machine({"--type", "3", "--bind", "127.0.1.0/28"}));
    machines.push_back(
        Machine({"--type", "3", "--bind", "127.0.8.0/24", "--fault", "snmp-silence"}));
    for (const auto& machine : machines) {
        if (!machine)
            return 2;
    }
    const Sweep sweeps[] = {
        {"127.0.3.0/24", 4, 1000},
        {"127.0.0.0/22", 4 + 16, 3000},
        {"127.0.8.0/24", 254, 0},
    };
    bool met = true;
    for (const Sweep& sweep : sweeps)
        met = Measure(sweep) && met;
    return met ? 0 : 1;
}
