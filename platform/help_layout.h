// The --help text of Kelo's terminal programs, laid out by CLI11 from the options and commands
// as they are bound, so that the help cannot name an option the parser does not know.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <functional>
#include <string>

namespace kelo::platform {

// The help within 80 columns: a usage line naming every described option (bracketed when
// optional, "..." when repeatable) and COMMAND [ARGS] where there are commands; the
// description; a line for each command with its operands; a line for each described option
// with its value; a section for each command's own options; the footer. An option without a
// description stays out of it: a command's line names it instead.
class HelpLayout : public CLI::Formatter {
  public:
    // The operands a command's line shows after its name ("FILE [-o FILE]"). Where it gives
    // none, the command's line shows its positionals (by their option text, where they have
    // one: "network|parallel|usb"), and each of its own commands gets a line.
    using OperandsOf = std::function<std::string(const CLI::App& command)>;

    explicit HelpLayout(OperandsOf operandsOf = {});

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_usage(const CLI::App* app, std::string name) const override;
    std::string make_subcommand(const CLI::App* command) const override;
    std::string make_option(const CLI::Option* option, bool positional) const override;
    std::string make_option_name(const CLI::Option* option, bool positional) const override;
    std::string make_option_opts(const CLI::Option* option) const override;
    std::string make_option_desc(const CLI::Option* option) const override;

  private:
    // The options the help describes: those with a description.
    std::string OptionLines(const CLI::App& app) const;
    // A command's line and, for a command without operands, a line for each of its commands.
    std::string CommandLines(const CLI::App& command, const std::string& prefix) const;

    OperandsOf operandsOf_;
};

// The help's width, and the columns where an option's and a command's description start.
constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kOptionColumn = 20;
constexpr std::size_t kCommandColumn = 30;

// The label, then its description from the column on in lines within kHelpWidth; the label
// stands on a line of its own when it reaches the column. The description's own line breaks
// and the indentation of its lines are kept.
std::string HelpLine(const std::string& label, const std::string& description, std::size_t column);

}  // namespace kelo::platform
