#include "platform/help_layout.h"

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

namespace kelo::platform {
namespace {

// The words in lines of at most `width` characters; a word never breaks.
std::string WrapWords(const std::vector<std::string>& words, std::size_t width) {
    std::string wrapped;
    std::size_t lineLength = 0;
    for (const std::string& word : words) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            wrapped += '\n';
            lineLength = 0;
        }
        if (lineLength > 0) {
            wrapped += ' ';
            ++lineLength;
        }
        wrapped += word;
        lineLength += word.size();
    }
    return wrapped;
}

// The words of one line in lines of at most `width` characters.
std::string WrapLine(const std::string& line, std::size_t width) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    for (std::string word; stream >> word;)
        words.push_back(word);
    return WrapWords(words, width);
}

// The text in lines of at most `width` characters, each after `indent` spaces but the first;
// its own line breaks and the indentation of its lines are kept.
std::string Wrap(const std::string& text, std::size_t width, std::size_t indent) {
    std::string wrapped;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t own = std::min(line.find_first_not_of(' '), line.size());
        const std::string body = WrapLine(line.substr(own), width - own);
        const std::string lead = std::string(indent, ' ') + line.substr(0, own);
        if (!wrapped.empty())
            wrapped += '\n' + lead;
        else
            wrapped += line.substr(0, own);
        for (const char c : body)
            wrapped += c == '\n' ? '\n' + lead : std::string(1, c);
    }
    return wrapped;
}

bool IsHelpOrVersion(const CLI::App& app, const CLI::Option* option) {
    return option == app.get_help_ptr() || option == app.get_version_ptr();
}

bool IsRepeatable(const CLI::Option& option) {
    return option.get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll;
}

// The named options the help describes, in the order they were added; a command's help flag
// is the program's.
std::vector<const CLI::Option*> DescribedOptions(const CLI::App& app) {
    std::vector<const CLI::Option*> options;
    for (const CLI::Option* option : app.get_options()) {
        const bool commandsHelp = app.get_parent() != nullptr && IsHelpOrVersion(app, option);
        if (!option->get_description().empty() && !option->get_positional() && !commandsHelp)
            options.push_back(option);
    }
    return options;
}

}  // namespace

std::string HelpLine(const std::string& label, const std::string& description, std::size_t column) {
    std::string prefix = "  " + label;
    if (description.empty())
        return prefix + "\n";
    if (prefix.size() + 1 > column)
        prefix += "\n" + std::string(column, ' ');
    else
        prefix.resize(column, ' ');
    return prefix + Wrap(description, kHelpWidth - column, column) + "\n";
}

HelpLayout::HelpLayout(OperandsOf operandsOf) : operandsOf_(std::move(operandsOf)) {
    column_width(kOptionColumn);
}

std::string HelpLayout::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const {
    std::string text = make_usage(app, std::move(name)) + "\n";
    if (!app->get_description().empty())
        text += app->get_description() + "\n\n";
    const std::vector<const CLI::App*> commands = app->get_subcommands({});
    if (!commands.empty()) {
        text += "Commands:\n";
        for (const CLI::App* command : commands)
            text += make_subcommand(command);
        text += "\n";
    }
    text += "Options:\n" + OptionLines(*app);
    for (const CLI::App* command : commands) {
        for (const CLI::App* each : command->get_subcommands({})) {
            if (!DescribedOptions(*each).empty()) {
                text += "\nOptions of " + command->get_name() + " " + each->get_name() + ":\n" +
                        OptionLines(*each);
            }
        }
        if (!DescribedOptions(*command).empty())
            text += "\nOptions of " + command->get_name() + ":\n" + OptionLines(*command);
    }
    const std::string footer = make_footer(app);
    return footer.empty() ? text : text + "\n" + footer;
}

std::string HelpLayout::make_usage(const CLI::App* app, std::string name) const {
    const std::string lead = "Usage: " + name + " ";
    // An option and its value stay on one line.
    std::vector<std::string> synopsis;
    for (const CLI::Option* option : DescribedOptions(*app)) {
        if (IsHelpOrVersion(*app, option))
            continue;
        std::string word = option->get_name() + make_option_opts(option);
        if (!option->get_required())
            word = "[" + word + "]";
        synopsis.push_back(word + (IsRepeatable(*option) ? "..." : ""));
    }
    if (!app->get_subcommands({}).empty())
        synopsis.insert(synopsis.end(), {"COMMAND", "[ARGS]"});
    std::string text = lead;
    for (const char c : WrapWords(synopsis, kHelpWidth - lead.size()))
        text += c == '\n' ? "\n" + std::string(lead.size(), ' ') : std::string(1, c);
    return text + "\n";
}

std::string HelpLayout::make_subcommand(const CLI::App* command) const {
    return CommandLines(*command, "");
}

std::string HelpLayout::CommandLines(const CLI::App& command, const std::string& prefix) const {
    const std::string operands = operandsOf_ ? operandsOf_(command) : "";
    std::string label = prefix + command.get_name();
    if (!operands.empty()) {
        label += " " + operands;
    } else {
        for (const CLI::Option* option : command.get_options()) {
            if (option->get_positional()) {
                const std::string& values = option->get_option_text();
                label += " " + (values.empty() ? option->get_name() : values);
            }
        }
    }
    std::string text = HelpLine(label, command.get_description(), kCommandColumn);
    if (operands.empty()) {
        for (const CLI::App* each : command.get_subcommands({}))
            text += CommandLines(*each, prefix + command.get_name() + " ");
    }
    return text;
}

std::string HelpLayout::OptionLines(const CLI::App& app) const {
    std::string text;
    for (const CLI::Option* option : DescribedOptions(app))
        text += make_option(option, false);
    return text;
}

std::string HelpLayout::make_option(const CLI::Option* option, bool positional) const {
    return HelpLine(make_option_name(option, positional) + make_option_opts(option),
                    make_option_desc(option), get_column_width());
}

// "-h, --help": every name of the option, as a reader writes them.
std::string HelpLayout::make_option_name(const CLI::Option* option, bool) const {
    std::string names = option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos;
         comma = names.find(',', comma + 2))
        names.insert(comma + 1, " ");
    return names;
}

std::string HelpLayout::make_option_opts(const CLI::Option* option) const {
    if (!option->get_option_text().empty())
        return " " + option->get_option_text();
    if (option->get_items_expected_max() == 0 || option->get_type_name().empty())
        return "";
    return " " + option->get_type_name();
}

std::string HelpLayout::make_option_desc(const CLI::Option* option) const {
    std::string description = option->get_description();
    if (!option->get_default_str().empty())
        description += " (default " + option->get_default_str() + ")";
    return description;
}

}  // namespace kelo::platform
