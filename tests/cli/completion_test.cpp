// The bash completion offers exactly the words kelo-cli and kelo-sim know.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "sim/options.h"
#include "testsupport/file_bytes.h"

namespace {

using Words = std::set<std::string>;

// The words of a list the completion script assigns: NAME="word word ...".
Words ListOf(const std::string& script, const std::string& name) {
    const std::string start = "\n" + name + "=\"";
    const size_t begin = script.find(start);
    EXPECT_NE(begin, std::string::npos) << name;
    if (begin == std::string::npos)
        return {};
    const size_t first = begin + start.size();
    std::istringstream list(script.substr(first, script.find('"', first) - first));
    Words words;
    for (std::string word; list >> word;)
        words.insert(word);
    return words;
}

Words Set(const std::vector<std::string>& words) {
    return Words(words.begin(), words.end());
}

std::string Script(const std::string& program) {
    return testing_support::ReadFileText(std::string(KELO_COMPLETIONS_DIR "/") + program);
}

TEST(Completion, OffersKeloCliCommandsAndOptions) {
    const std::string script = Script("kelo-cli");
    const kelo::cli::CommandLineWords known = kelo::cli::KnownWords();
    EXPECT_EQ(ListOf(script, "_kelo_cli_commands"), Set(known.commands));
    EXPECT_EQ(ListOf(script, "_kelo_cli_config_settings"), Set(known.configSettings));
    EXPECT_EQ(ListOf(script, "_kelo_cli_options"), Set(known.runOptions));
    // A discover option with the name of a run option is offered as that one.
    Words discoverOwn;
    for (const std::string& option : known.discoverOptions) {
        if (!Set(known.runOptions).contains(option))
            discoverOwn.insert(option);
    }
    EXPECT_EQ(ListOf(script, "_kelo_cli_discover_options"), discoverOwn);
}

TEST(Completion, OffersKeloSimOptions) {
    EXPECT_EQ(ListOf(Script("kelo-sim"), "_kelo_sim_options"), Set(sim::OptionNames()));
}

}  // namespace
