// The bash completion of kelo-cli, written by the build from the commands and options the
// parser knows, so that it offers exactly the words kelo-cli takes.
#pragma once

#include <string>

namespace kelo::cli {

// The template's "@WORD_LISTS@" line replaced by the lists of words the script completes
// from: the commands, the commands below them, the options of the run and of each command,
// the options that take a value, each command's operands, and the words some values take.
std::string CompletionScript(const std::string& scriptTemplate);

}  // namespace kelo::cli
