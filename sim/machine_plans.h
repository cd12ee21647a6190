// The machines one kelo-sim process serves, from its options: one per address, each with the
// report and parameter set it serves and the folder it records into.
#pragma once

#include <string>
#include <vector>

#include "sim/options.h"
#include "sim/server.h"

namespace kelo::sim {

// Reads the files the machines serve (each file once, however many machines serve it) and
// makes the record folders: --record DIR itself for one address, DIR/ADDRESS for each of
// several. False, with the reason, when a file cannot be read or does not fit the type, or a
// folder cannot be made.
bool PlanMachines(const Options& options, std::vector<MachinePlan>& plans, std::string& error);

}  // namespace kelo::sim
