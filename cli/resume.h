// The runs of host lists in the service records: each run is kept with its command, so that
// `kelo-cli --resume RUN|last` can run it again for the hosts that did not succeed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/host_list.h"
#include "records/record.h"

namespace kelo::cli {

// What a host-list run keeps to be run again: its command, the words of its own options (the
// command's FILE last, after "--") and its -o template. Paths are made absolute, so that the
// run does the same from another folder.
records::RunStart RunStartOf(const Invocation& invocation);

// Keeps the start of a host-list run in the records, with its whole list (each host with the
// type it runs as: its own, else defaultTypeIndex), and gives its new id; "" when the records
// are off. A run that cannot be kept is told ("not recorded: REASON") and goes on with its id.
std::string StartRun(const Console& console, const Invocation& invocation,
                     const std::vector<HostEntry>& hosts, int defaultTypeIndex);

// Runs a list of hosts as --hosts does; the resumed run starts through it as a new run.
// listName names the list in its messages.
using HostListRunner =
    std::function<int(const Invocation& invocation, const std::vector<HostEntry>& hosts,
                      const std::string& listName)>;

// --resume: the run's command again for its hosts whose result was not ok (skipped ones
// included), with the --canary and --max-fail given to it. Nothing to resume is said and is no
// failure.
int RunResume(const Console& console, const Invocation& resume, const HostListRunner& runList);

}  // namespace kelo::cli
