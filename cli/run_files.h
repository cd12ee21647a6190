// The files one run of kelo-cli names besides the profile: the files it writes (-o, the trace
// files), the files it reads (the command's FILE, compare's files, the host list) and the
// records database. Each is checked before any traffic: a file to write must be a regular
// file or none, a file to read a regular file, and no file written may be another of them.
#pragma once

#include <optional>
#include <string>

#include "cli/command_line.h"

namespace kelo::cli {

// Where the run's files are: textTracePath is the text trace the run writes ("" for none, "-"
// for standard error), traceSource where it came from ("--trace" or "KELO_TRACE"), recordsPath
// the records database the run writes or reads, if any.
struct RunFilePaths {
    std::string textTracePath;
    std::string traceSource;
    std::optional<std::string> recordsPath;
};

// A file of the run that is no regular file where one is needed, as a usage error:
//   "/dev/null is a character device; -o writes regular files"
//   "/dev/zero is a character device; put-params reads regular files"
std::optional<std::string> RefusedRunFile(const Invocation& invocation, const RunFilePaths& paths);

// Two files of the run that are one, where one is written: "--trace and -o name the same
// file". Links are followed to their end, dangling ones too.
std::optional<std::string> SharedFileError(const Invocation& invocation, const RunFilePaths& paths);

}  // namespace kelo::cli
