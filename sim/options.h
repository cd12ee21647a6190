// The command line of kelo-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/faults.h"

namespace kelo::sim {

// At most this many addresses in all, each a machine of its own.
constexpr size_t kMaxAddresses = 1024;

// The placeholder in --report and --params that stands for each machine's address.
inline constexpr char kAddressPlaceholder[] = "{address}";

struct Options {
    int type = 0;
    std::vector<std::string> addresses;  // every --bind address in order; 127.0.0.1 if none
    std::string reportFile;              // may hold {address}
    std::string paramsFile;              // may hold {address}
    std::string recordDir;
    int restartMs = 2000;
    Faults faults;
    bool help = false;
    bool version = false;
};

struct OptionsParse {
    bool ok = false;
    std::string error;  // what was wrong, for standard error
    Options options;
};

// Parses the arguments after the program name.
OptionsParse ParseOptions(const std::vector<std::string>& arguments);

std::string UsageText();

// Every option's name, as the shell's completion offers them.
std::vector<std::string> OptionNames();

}  // namespace kelo::sim
