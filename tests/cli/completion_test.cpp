// The bash completion offers exactly the words kelo-cli and kelo-sim know. kelo-cli's script
// is written from its commands; here bash completes with it through bash-completion.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "cli/completion.h"
#include "sim/options.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using Words = std::set<std::string>;

constexpr char kBashCompletion[] = "/usr/share/bash-completion/bash_completion";

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

std::string Script(const std::string& program) {
    return testing_support::ReadFileText(std::string(KELO_COMPLETIONS_DIR "/") + program);
}

// What bash completes for each line, through bash-completion and the script, in a folder with
// a firmware file, a report file and a text file and a profile with two hosts.
std::vector<std::string> Complete(const std::vector<std::string>& lines) {
    const testing_support::TempDir folder;
    const testing_support::TempDir config;
    testing_support::WriteFile(folder / "kelo-cli",
                               kelo::cli::CompletionScript(Script("kelo-cli.in")));
    for (const char* name : {"new.rfw", "saved.kel", "notes.txt"})
        testing_support::WriteFile(folder / name, "");
    testing_support::WriteFile(config / "kelo.INI",
                               "[Port]\r\nNumHost=2\r\nHost0=printer-a\r\nhost1=10.0.0.7\r\n");
    std::string driver = "source " + std::string(kBashCompletion) + "\nsource ./kelo-cli\n" + R"(
complete_line() {
    local line=$1
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _kelo_cli kelo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort -u | tr '\n' ' '
    echo
}
)";
    for (const std::string& line : lines)
        driver += "complete_line '" + line + "'\n";
    testing_support::WriteFile(folder / "driver.sh", driver);
    const std::string command = "cd '" + folder.Path() + "' && XDG_CONFIG_HOME='" + config.Path() +
                                "' bash --norc --noprofile driver.sh";
    std::vector<std::string> completed;
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return completed;
    std::string text;
    for (int c; (c = std::fgetc(output)) != EOF;)
        text += static_cast<char>(c);
    ::pclose(output);
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        completed.push_back(line);
    return completed;
}

TEST(Completion, CompletesKeloCliCommandsOperandsAndOptionValues) {
    if (!std::filesystem::exists(kBashCompletion))
        GTEST_SKIP() << "bash-completion is not installed";
    const std::pair<std::string, std::string> cases[] = {
        {"kelo-cli get-", "get-params get-report "},
        {"kelo-cli --port ", "network parallel usb "},
        {"kelo-cli --no-progress config type ", "1 2 3 4 "},
        {"kelo-cli config ", "add-host delete-host port select-host type "},
        {"kelo-cli config port n", "network "},
        {"kelo-cli records ", "prune "},
        {"kelo-cli records prune --o", "--older-than "},
        {"kelo-cli upgrade ", "new.rfw "},
        {"kelo-cli open-report ", "saved.kel "},
        {"kelo-cli put-params new.rfw ", ""},
        {"kelo-cli get-report -o ", "notes.txt saved.kel "},
        // An option's value is passed over, whatever option it belongs to; a flag has none.
        {"kelo-cli --timeout 9 upgrade ", "new.rfw "},
        {"kelo-cli --json upgrade ", "new.rfw "},
        {"kelo-cli discover --subnet 192.0.2.0/24 --co", "--community "},
        {"kelo-cli discover --rate ", ""},
        {"kelo-cli history --result t", "timed-out "},
        {"kelo-cli history --operation b", "backup "},
        {"kelo-cli compare --a", "--all "},
        {"kelo-cli --pcap x.pcapng get-r", "get-report "},
        {"kelo-cli --host print", "printer-a "},
        {"kelo-cli restart 10.0", "10.0.0.7 "},
        {"kelo-cli restore-params printer-a ", ""},
    };
    std::vector<std::string> lines;
    for (const auto& [line, expected] : cases)
        lines.push_back(line);
    const std::vector<std::string> completed = Complete(lines);
    ASSERT_EQ(completed.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(completed[i], cases[i].second) << cases[i].first;
}

TEST(Completion, OffersKeloSimOptions) {
    const std::vector<std::string> names = kelo::sim::OptionNames();
    EXPECT_EQ(ListOf(Script("kelo-sim"), "_kelo_sim_options"), Words(names.begin(), names.end()));
}

}  // namespace
