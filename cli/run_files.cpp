#include "cli/run_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <vector>

namespace kelo::cli {
namespace {

// The path with "." and ".." and the links of its existing folders resolved; the path as it
// is when that fails.
std::string ResolvedPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : resolved.string();
}

struct RunFile {
    std::string name;  // how the command line gave it: "-o", "--pcap"
    std::string path;
    bool trace;  // a trace file, which is written whatever the command does
};

// Every file of the run that is written or read by name; the text trace only when it goes
// to a file.
std::vector<RunFile> FilesOfRun(const Invocation& invocation, const std::string& textTracePath,
                                const std::string& traceSource) {
    std::vector<RunFile> files;
    if (!textTracePath.empty() && textTracePath != "-")
        files.push_back({traceSource, textTracePath, true});
    if (!invocation.captureFile.empty())
        files.push_back({"--pcap", invocation.captureFile, true});
    if (!invocation.output.empty())
        files.push_back({"-o", invocation.output, false});
    if (!invocation.file.empty())
        files.push_back({"the FILE of " + CommandWord(invocation.command), invocation.file, false});
    return files;
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    const bool firstExists = ::stat(a.c_str(), &first) == 0;
    const bool secondExists = ::stat(b.c_str(), &second) == 0;
    if (firstExists && secondExists)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    if (firstExists != secondExists)
        return false;
    return ResolvedPath(a) == ResolvedPath(b);
}

std::optional<std::string> SharedFileError(const Invocation& invocation,
                                           const std::string& textTracePath,
                                           const std::string& traceSource) {
    const std::vector<RunFile> files = FilesOfRun(invocation, textTracePath, traceSource);
    for (size_t i = 0; i < files.size(); ++i) {
        for (size_t j = i + 1; j < files.size(); ++j) {
            // -o may name the FILE it converts; only a trace file spoils another.
            if (files[i].trace && IsSameFile(files[i].path, files[j].path))
                return files[i].name + " and " + files[j].name + " name the same file";
        }
    }
    return std::nullopt;
}

}  // namespace kelo::cli
