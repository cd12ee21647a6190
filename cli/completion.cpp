#include "cli/completion.h"

#include <algorithm>
#include <iterator>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "records/words.h"

namespace kelo::cli {
namespace {

constexpr char kPlaceholder[] = "@WORD_LISTS@";

template <typename Words>
std::string Joined(const Words& words) {
    std::string text;
    for (const auto& word : words)
        text += (text.empty() ? "" : " ") + std::string(word);
    return text;
}

std::string List(const std::string& name, const std::string& words) {
    return "_kelo_cli_" + name + "=\"" + words + "\"\n";
}

// A bash associative array; declared global, since bash-completion sources the script inside
// a function.
std::string Table(const std::string& name,
                  const std::map<std::string, std::vector<std::string>>& rows) {
    std::string text = "declare -gA _kelo_cli_" + name + "=(";
    bool first = true;
    for (const auto& [key, words] : rows) {
        if (words.empty())
            continue;
        text += std::string(first ? "" : "\n    ") + "[" + key + "]=\"" + Joined(words) + "\"";
        first = false;
    }
    return text + ")\n";
}

}  // namespace

std::string CompletionScript(const std::string& scriptTemplate) {
    CommandLineWords words = KnownWords();
    // A command's option with the name of a run option is offered as that one.
    for (auto& [command, options] : words.commandOptions) {
        std::erase_if(options, [&words](const std::string& option) {
            return std::find(words.runOptions.begin(), words.runOptions.end(), option) !=
                   words.runOptions.end();
        });
    }
    const std::string lists =
        List("commands", Joined(words.commands)) + List("options", Joined(words.runOptions)) +
        List("valued_options", Joined(words.valuedOptions)) +
        Table("subcommands", words.subcommands) + Table("command_options", words.commandOptions) +
        Table("operands", words.operands) + List("port_kinds", Joined(PortKindNames())) +
        List("types", "1 2 3 4") + List("results", Joined(records::kResultWords)) +
        List("operations", Joined(records::kOperationWords));
    std::string script = scriptTemplate;
    const size_t at = script.find(kPlaceholder);
    if (at != std::string::npos)
        script.replace(at, std::string(kPlaceholder).size() + 1, lists);
    return script;
}

}  // namespace kelo::cli
