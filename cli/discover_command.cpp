#include "cli/discover_command.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <nlohmann/json.hpp>

#include "cli/interrupt.h"
#include "cli/json_result.h"
#include "cli/operations.h"
#include "cli/recording.h"
#include "discover/broadcast_addresses.h"
#include "discover/run_discovery.h"
#include "link/settings.h"
#include "platform/shown_text.h"

namespace kelo::cli {
namespace {

constexpr size_t kTableDescription = 40;
constexpr size_t kJsonStatus = 200;

std::string TypesText(const std::vector<int>& types) {
    std::string text;
    for (int type : types)
        text += (text.empty() ? "" : ",") + std::to_string(type);
    return text;
}

// A text as shown, or "-" when the machine did not answer it.
std::string CellText(const std::optional<std::string>& value, size_t limit = std::string::npos) {
    return value ? platform::ShownText(*value, limit) : "-";
}

nlohmann::ordered_json JsonText(const std::optional<std::string>& value,
                                size_t limit = std::string::npos) {
    return value ? nlohmann::ordered_json(platform::ShownText(*value, limit))
                 : nlohmann::ordered_json(nullptr);
}

// What to probe: the subnets' hosts, or every local network's broadcast address.
discover::DiscoveryPlan PlanOf(const DiscoverOptions& options) {
    discover::DiscoveryPlan plan;
    plan.community = options.community;
    plan.timeoutMs = options.timeoutMs;
    plan.rate = options.rate;
    if (options.subnets.empty()) {
        plan.broadcasts = discover::BroadcastNetworks();
    } else {
        // The command line has held the subnets to the limit already.
        plan.hosts = discover::HostAddresses(options.subnets).value_or(plan.hosts);
    }
    return plan;
}

// Each machine found as an operation "discover" of its own, typed when its ports tell one type.
std::vector<records::OperationRecord> FoundRecords(
    const std::vector<discover::FoundMachine>& machines, int64_t startedMs, int64_t durationMs) {
    std::vector<records::OperationRecord> found;
    for (const discover::FoundMachine& machine : machines) {
        found.push_back(
            records::FoundMachineRecord(discover::AddressText(machine.address),
                                        machine.types.size() == 1 ? machine.types[0] : 0,
                                        machine.name ? platform::ShownText(*machine.name) : "",
                                        startedMs, durationMs, records::Program::KeloCli));
    }
    return found;
}

}  // namespace

std::string MachineTable(const std::vector<discover::FoundMachine>& machines) {
    using Row = std::array<std::string, 4>;
    std::vector<Row> rows{{"ADDRESS", "TYPES", "NAME", "DESCRIPTION"}};
    for (const discover::FoundMachine& machine : machines) {
        rows.push_back({discover::AddressText(machine.address), TypesText(machine.types),
                        CellText(machine.name), CellText(machine.description, kTableDescription)});
    }
    std::array<size_t, 3> widths{};
    for (const Row& row : rows) {
        for (size_t column = 0; column < widths.size(); ++column)
            widths[column] = std::max(widths[column], platform::CharacterCount(row[column]));
    }
    std::string table;
    for (const Row& row : rows) {
        for (size_t column = 0; column < widths.size(); ++column) {
            table += row[column];
            table.append(widths[column] + 2 - platform::CharacterCount(row[column]), ' ');
        }
        table += row[3] + "\n";
    }
    return table;
}

std::string MachineJsonLines(const std::vector<discover::FoundMachine>& machines) {
    std::string lines;
    for (const discover::FoundMachine& machine : machines) {
        const nlohmann::ordered_json line = {
            {"address", discover::AddressText(machine.address)},
            {"types", machine.types},
            {"name", JsonText(machine.name)},
            {"description", JsonText(machine.description)},
            {"status", JsonText(machine.status, kJsonStatus)},
            {"ms", machine.ms},
        };
        lines += JsonLine(line);
    }
    return lines;
}

int RunDiscover(const Console& console, const Invocation& invocation,
                platform::CancelDialog& dialog, ProgressLine* progress) {
    const DiscoverOptions& options = invocation.discover;
    const discover::DiscoveryPlan plan = PlanOf(options);
    const int64_t startedMs = records::WallClockMs();
    const auto started = std::chrono::steady_clock::now();
    auto fail = [&](const std::string& reason) {
        TellError(console, reason);
        return kExitFailed;
    };
    if (options.subnets.empty() && plan.broadcasts.empty())
        return fail("no network interface to broadcast on");
    // The progress line's label carries the machines found; its bar the addresses probed.
    const auto showFound = [progress](const discover::DiscoveryProgress& now) {
        if (progress != nullptr)
            progress->SetLabel("Discover, " + std::to_string(now.found) + " found,");
    };
    const discover::DiscoveryResult result = discover::RunDiscovery(plan, dialog, {}, showFound);
    if (progress != nullptr)
        progress->Clear();
    if (result.machineLimitReached) {
        TellError(console, "stopped listening after " +
                               std::to_string(discover::kMaxBroadcastMachines) + " machines");
    }
    if (result.cancelled || Interrupted())
        return kExitCancelled;
    if (!result.error.empty())
        return fail(result.error);
    if (result.machines.empty())
        return fail("no machine found");
    const std::string text =
        invocation.json ? MachineJsonLines(result.machines) : MachineTable(result.machines);
    const bool printed = PrintText(console.writeOut, text);
    const auto durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
    KeepOperations(console, invocation, FoundRecords(result.machines, startedMs, durationMs));
    return printed ? kExitSuccess : kExitFailed;
}

}  // namespace kelo::cli
