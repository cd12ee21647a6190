#include "cli/run_files.h"

#include <vector>

#include "platform/file_policy.h"

namespace kelo::cli {
namespace {

enum class Use { kWritten, kRead, kRecords };

struct RunFile {
    std::string name;  // how the command line gave it: "-o", "--pcap", "the FILE of put-params"
    std::string path;
    Use use;
    bool trace = false;  // a trace file, which is written whatever the command does
};

// Every file of the run that is written or read by name; the text trace and -o only when
// they go to a file, the host list only when it is one.
std::vector<RunFile> FilesOfRun(const Invocation& invocation, const RunFilePaths& paths) {
    const std::string& textTracePath = paths.textTracePath;
    const std::string& traceSource = paths.traceSource;
    const std::optional<std::string>& recordsPath = paths.recordsPath;
    std::vector<RunFile> files;
    if (!textTracePath.empty() && textTracePath != "-")
        files.push_back({traceSource, textTracePath, Use::kWritten, true});
    if (!invocation.captureFile.empty())
        files.push_back({"--pcap", invocation.captureFile, Use::kWritten, true});
    if (!invocation.output.empty() && invocation.output != "-")
        files.push_back({"-o", invocation.output, Use::kWritten});
    const std::string word = CommandWord(invocation.command);
    // The FILE of open-report, put-params and upgrade; compare's words may be a record or a
    // file, and an existing file is read.
    for (const std::string* operand :
         {&invocation.file, &invocation.compare.first, &invocation.compare.second}) {
        if (!operand->empty())
            files.push_back({"the FILE of " + word, *operand, Use::kRead});
    }
    if (invocation.hostList && *invocation.hostList != "-")
        files.push_back({"--hosts", *invocation.hostList, Use::kRead});
    if (recordsPath) {
        for (const char* suffix : {"", "-wal", "-shm"})
            files.push_back({"the records", *recordsPath + suffix, Use::kRecords});
    }
    return files;
}

std::optional<std::string> RefusedKind(const RunFile& file, const std::string& command) {
    if (file.use == Use::kWritten)
        return platform::RefusedOutputFile(file.path, file.name);
    if (file.use == Use::kRead)
        return platform::RefusedInputFile(file.path, file.name == "--hosts" ? "--hosts" : command);
    return std::nullopt;  // the records open their own files by their own rules
}

// A file written over another of the run destroys it; -o may still name the FILE it
// converts (open-report reads it whole before -o is written).
bool Clash(const RunFile& written, const RunFile& other) {
    if (written.use != Use::kWritten)
        return false;
    if (!written.trace && other.use == Use::kRead && other.name.starts_with("the FILE of "))
        return false;
    return platform::IsSameFile(written.path, other.path);
}

}  // namespace

std::optional<std::string> RefusedRunFile(const Invocation& invocation, const RunFilePaths& paths) {
    const std::string command = CommandWord(invocation.command);
    for (const RunFile& file : FilesOfRun(invocation, paths)) {
        if (std::optional<std::string> refusal = RefusedKind(file, command))
            return refusal;
    }
    return std::nullopt;
}

std::optional<std::string> SharedFileError(const Invocation& invocation,
                                           const RunFilePaths& paths) {
    const std::vector<RunFile> files = FilesOfRun(invocation, paths);
    for (size_t i = 0; i < files.size(); ++i) {
        for (size_t j = i + 1; j < files.size(); ++j) {
            if (Clash(files[i], files[j]) || Clash(files[j], files[i]))
                return files[i].name + " and " + files[j].name + " name the same file";
        }
    }
    return std::nullopt;
}

}  // namespace kelo::cli
