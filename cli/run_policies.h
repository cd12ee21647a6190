// What a run of a machine command settles before it talks to the machine: the host it goes
// to, the code page a printed report is shown in, and the backup before a parameter write.
#pragma once

#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/json_result.h"
#include "cli/operations.h"
#include "link/settings.h"
#include "platform/code_page.h"
#include "records/record.h"

namespace kelo::cli {

inline constexpr char kRecordsOffNoBackup[] = "records are off; no backup was kept";

// The host a machine command talks to, for its result line: restart's HOST, else the selected
// host of the network port; none on the parallel port, on USB, or with no host selected.
std::optional<std::string> TargetHost(const ConnectionSettings& settings,
                                      const Invocation& invocation);

// The code page a report printed on standard output is converted from: --encoding, else the
// profile's; nullopt prints the machine's bytes as they are. A name in the profile that this
// system does not know is an error, told before any machine is read.
std::optional<std::string> ChooseShownCodePage(const Invocation& invocation,
                                               std::optional<platform::CodePage>& codePage);

// Resolves the run's host once, before any traffic: every connection of the run then goes to
// that address (a host of a list to the one its list was checked with), which the result line
// tells. Why the host is no machine to service, or nullopt; a host that resolves to nothing
// fails as its connection does.
std::optional<std::string> ResolveRunTarget(const std::string& host, const Invocation& invocation,
                                            HostResult& record);

// A parameter write keeps the machine's set first, unless --no-backup says not to; with the
// records off there is nowhere to keep it, which put-params says once.
void ChooseBackup(const Console& console, const Invocation& invocation,
                  records::OperationRecord& kept, CommandContext& context);

}  // namespace kelo::cli
