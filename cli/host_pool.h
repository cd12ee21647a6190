// A host list (kelo-cli --hosts): the command runs for every host of the list in a child
// process of its own, an ordinary single run of kelo-cli's command line with that host, its
// type and the network port, so that nothing of one run (its Cancel, its messages, its waits)
// can reach another. Up to --jobs children run at once.
//
// Each child is a single run with --json and --no-progress. Its standard output, a pipe, brings its
// result line, which is passed on as it stands; its standard error, a pipe, brings its
// messages, which are shown with the host in front; on a terminal it also runs with
// --progress-fd 3, a third pipe that brings its progress in percent for the table. Each child
// has a process group of its own and reads standard input from /dev/null, so that neither the
// terminal's Ctrl-C nor the host list on standard input reaches it except through this pool.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/host_list.h"
#include "cli/json_result.h"

namespace kelo::cli {

// Runs one host's single run in the child process, with the process's own standard streams,
// and returns its exit status.
using HostRunner = std::function<int(const Invocation& hostRun)>;

// Told the result of a host whose run ended without telling it (never started, killed by the
// grace after a stop, ended without its line): its own run kept no record of it, since a
// host's run writes its result line only once its record was kept.
using UntoldResult = std::function<void(const HostResult& result)>;

// Runs the invocation's command for every host, as far as its --canary and --max-fail let it
// (the hosts it does not start are skipped, and one line says why); returns the exit status:
// 0 when every host succeeded, 1 when any did not, 128 + the signal when a stop signal ended the
// list (130 after Ctrl-C, 143 after SIGTERM, 129 after SIGHUP). A host's run that ended with one of
// those three counts as cancelled.
int RunHostList(const Invocation& invocation, const std::vector<HostEntry>& hosts,
                int defaultTypeIndex, const Console& console, HostRunner runHost,
                UntoldResult untold = nullptr);

// The single run of one host, as the command line
//   kelo-cli --host HOST --type N --port network --no-progress --json [--progress-fd 3]
//            --timeout SECONDS [-o FILE] COMMAND [FILE]
// gives it, -o with {host} replaced; SECONDS is the list's --timeout, else kDefaultHostTimeout.
Invocation HostRunInvocation(const Invocation& invocation, const std::string& host, int typeIndex,
                             bool withProgress);

}  // namespace kelo::cli
