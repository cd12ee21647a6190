// The command line of kelo-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/faults.h"

namespace sim {

struct Options {
    int type = 0;
    std::string bind = "127.0.0.1";
    std::string reportFile;
    std::string paramsFile;
    std::string recordDir;
    int restartMs = 2000;
    Faults faults;
    bool help = false;
};

struct OptionsParse {
    bool ok = false;
    std::string error;  // what was wrong, for standard error
    Options options;
};

// Parses the arguments after the program name.
OptionsParse ParseOptions(const std::vector<std::string>& arguments);

std::string UsageText();

}  // namespace sim
