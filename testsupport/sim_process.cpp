#include "testsupport/sim_process.h"

#include <signal.h>

#include <nlohmann/json.hpp>

namespace sim_testing {
namespace {

std::vector<std::string> CompleteLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> LinesNamed(const std::string& text, const std::string& name) {
    std::vector<std::string> named;
    for (const std::string& line : CompleteLines(text)) {
        if (EventField(line, "event") == name)
            named.push_back(line);
    }
    return named;
}

std::vector<std::string> WithProgram(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{SimPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

}  // namespace

const char* SimPath() {
    return KELO_SIM_PATH;
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, int limitMs)
    : child_(WithProgram(arguments)) {
    if (child_.Running())
        WaitForEvent("listening", 1, limitMs);
}

SimProcess::~SimProcess() {
    Stop();
}

bool SimProcess::Listening() const {
    return !EventsNamed("listening").empty();
}

std::vector<std::string> SimProcess::Events() const {
    return CompleteLines(child_.Out());
}

std::vector<std::string> SimProcess::EventsNamed(const std::string& name) const {
    return LinesNamed(child_.Out(), name);
}

std::string SimProcess::WaitForEvent(const std::string& name, int count, int limitMs) {
    std::string found;
    child_.WaitForStandardOutput(
        [&](const std::string& text) {
            const std::vector<std::string> named = LinesNamed(text, name);
            if (named.size() < static_cast<size_t>(count))
                return false;
            found = named[static_cast<size_t>(count) - 1];
            return true;
        },
        limitMs);
    return found;
}

int SimProcess::Stop(int signalNumber, int limitMs) {
    return child_.Stop(signalNumber, limitMs);
}

SimRun RunSimToEnd(const std::vector<std::string>& arguments, int limitMs) {
    SimRun run;
    SimProcess process(arguments, limitMs);
    // Without a "listening" event the process has ended (or is stuck): collect it.
    run.exitCode = process.Listening() ? process.Stop(SIGTERM, limitMs) : process.Stop(0, limitMs);
    for (const std::string& line : process.Events())
        run.standardOutput += line + "\n";
    run.standardError = process.StandardError();
    return run;
}

std::string EventField(const std::string& line, const std::string& key) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object() || !object.contains(key))
        return "";
    const nlohmann::json& value = object[key];
    if (!value.is_string())
        return value.dump();
    // Each code point of the string stands for the byte of the same value.
    std::string bytes;
    const std::string& text = value.get_ref<const std::string&>();
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0xC0 && i + 1 < text.size()) {
            bytes += static_cast<char>(((lead & 0x1F) << 6) | (text[++i] & 0x3F));
        } else {
            bytes += static_cast<char>(lead);
        }
    }
    return bytes;
}

}  // namespace sim_testing
