// The checks kelo-cli's options and operands share, as CLI11 validators. Each says what was
// wrong in the words kelo-cli's usage errors have always used, and stays out of the help,
// which names each value by its own word.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace kelo::cli {

// A whole number from low to high.
CLI::Validator Within(int low, int high);

// One of the words.
CLI::Validator OneOf(const std::vector<std::string>& words);

// A port kind's name (network, parallel, usb), turned into its value.
CLI::Validator PortKindByName();

// A machine type, 1 to 4, turned into its index from 0.
CLI::Validator MachineTypeToIndex();

// A file name: never empty, and never --help or --version, so that a line whose option lost
// its value cannot write a file named after the word that followed.
CLI::Validator FileName();

// A run id as NewRunId makes them ("20261209-084501-3fa2"), or "last".
CLI::Validator RunId();

// --canary N: a count of hosts; --max-fail N|P%: a count or a percentage up to 100%.
CLI::Validator HostCount();
CLI::Validator FailBudgetText();

// A host name: one line of text, since it goes into the profile as one line; a line break or
// other control character would break the profile apart.
bool IsUsableHostName(const std::string& host);

}  // namespace kelo::cli
