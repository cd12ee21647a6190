#include "records/pending_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/hex.h"
#include "platform/system.h"
#include "records/records_file.h"
#include "records/sha256.h"

namespace kelo::records {
namespace {

// The largest file taken back: a report's file form with its record, with room to spare.
constexpr off_t kLargestPendingFile = 16 * 1024 * 1024;
constexpr char kSuffix[] = ".json";

// Texts go as hex: host names, messages and file names are the machine's or the user's bytes,
// not always UTF-8, which JSON text must be.
std::string Hex(const std::string& bytes) {
    return platform::LowerHex(bytes);
}

std::string Unhex(const nlohmann::json& value) {
    const std::string& hex = value.get_ref<const std::string&>();
    if (hex.size() % 2 != 0)
        throw std::runtime_error("odd hex");
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = platform::HexDigitValue(hex[i]);
        const int low = platform::HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            throw std::runtime_error("no hex");
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
}

int64_t Number(const nlohmann::json& value) {
    return value.get<int64_t>();
}

std::string ReadWhole(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

std::string PendingFolder(const std::string& databasePath) {
    return databasePath + "-pending";
}

std::string PendingText(const OperationRecord& operation,
                        const std::optional<StoredContent>& content) {
    nlohmann::json files = nlohmann::json::array();
    for (const FileUse& file : operation.files) {
        files.push_back({{"role", Hex(file.role)},
                         {"name", Hex(file.name)},
                         {"size", file.size},
                         {"sha256", Hex(file.sha256)}});
    }
    const Machine& machine = operation.machine;
    nlohmann::json entry = {{"machine",
                             {Hex(machine.host), Hex(machine.address), machine.type,
                              Hex(machine.portKind), Hex(machine.name)}},
                            {"started", operation.startedMs},
                            {"ended", operation.endedMs},
                            {"ms", operation.durationMs},
                            {"operation", Hex(operation.operation)},
                            {"result", ResultWord(operation.result)},
                            {"message", Hex(operation.message)},
                            {"program", Hex(operation.program)},
                            {"backup", operation.backup},
                            {"files", files}};
    if (operation.runId)
        entry["run"] = Hex(*operation.runId);
    if (content) {
        entry["content"] = {
            {"kind", ContentKindWord(content->kind)},
            {"bytes", Hex(std::string(content->fileBytes.begin(), content->fileBytes.end()))}};
    }
    return nlohmann::json{{"operation", entry}}.dump();
}

std::string PendingText(const StoredRun& run) {
    nlohmann::json options = nlohmann::json::array();
    for (const std::string& option : run.start.options)
        options.push_back(Hex(option));
    nlohmann::json hosts = nlohmann::json::array();
    for (const Machine& machine : run.start.hosts)
        hosts.push_back({Hex(machine.host), machine.type});
    return nlohmann::json{{"run",
                           {{"id", Hex(run.id)},
                            {"started", run.startedMs},
                            {"command", Hex(run.start.command)},
                            {"options", options},
                            {"output", Hex(run.start.outputTemplate)},
                            {"hosts", hosts}}}}
        .dump();
}

std::optional<PendingRecord> ParsePending(const std::string& text) {
    try {
        const nlohmann::json parsed = nlohmann::json::parse(text);
        PendingRecord pending;
        if (parsed.contains("run")) {
            const nlohmann::json& run = parsed.at("run");
            StoredRun kept;
            kept.id = Unhex(run.at("id"));
            kept.startedMs = Number(run.at("started"));
            kept.start.command = Unhex(run.at("command"));
            for (const nlohmann::json& option : run.at("options"))
                kept.start.options.push_back(Unhex(option));
            kept.start.outputTemplate = Unhex(run.at("output"));
            for (const nlohmann::json& host : run.value("hosts", nlohmann::json::array())) {
                Machine machine;
                machine.host = Unhex(host.at(0));
                machine.type = host.at(1).get<int>();
                kept.start.hosts.push_back(machine);
            }
            pending.run = kept;
            return pending;
        }
        const nlohmann::json& entry = parsed.at("operation");
        OperationRecord operation;
        const nlohmann::json& machine = entry.at("machine");
        operation.machine =
            Machine{Unhex(machine.at(0)), Unhex(machine.at(1)), machine.at(2).get<int>(),
                    Unhex(machine.at(3)), Unhex(machine.at(4))};
        operation.startedMs = Number(entry.at("started"));
        operation.endedMs = Number(entry.at("ended"));
        operation.durationMs = Number(entry.at("ms"));
        operation.operation = Unhex(entry.at("operation"));
        const std::optional<Result> result = ResultOfWord(entry.at("result").get<std::string>());
        if (!result)
            return std::nullopt;
        operation.result = *result;
        operation.message = Unhex(entry.at("message"));
        operation.program = Unhex(entry.at("program"));
        operation.backup = entry.at("backup").get<bool>();
        if (entry.contains("run"))
            operation.runId = Unhex(entry.at("run"));
        for (const nlohmann::json& file : entry.at("files")) {
            operation.files.push_back(FileUse{Unhex(file.at("role")), Unhex(file.at("name")),
                                              file.at("size").get<uint64_t>(),
                                              Unhex(file.at("sha256"))});
        }
        if (entry.contains("content")) {
            const nlohmann::json& content = entry.at("content");
            const std::string kind = content.at("kind").get<std::string>();
            StoredContent stored;
            if (kind == ContentKindWord(ContentKind::Report))
                stored.kind = ContentKind::Report;
            else if (kind == ContentKindWord(ContentKind::Parameters))
                stored.kind = ContentKind::Parameters;
            else
                return std::nullopt;
            const std::string bytes = Unhex(content.at("bytes"));
            stored.fileBytes.assign(bytes.begin(), bytes.end());
            stored.sha256 = Sha256Hex(stored.fileBytes.data(), stored.fileBytes.size());
            pending.content = stored;
        }
        pending.operation = operation;
        return pending;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Outcome<Done> SetAside(const std::string& databasePath, const std::string& text) {
    const std::string folderPath = PendingFolder(databasePath);
    std::string reason;
    const int folder = OpenPrivateFolder(folderPath, true, reason);
    if (folder < 0)
        return Outcome<Done>::Failure(reason);
    // Named by the time and a random number, so the oldest is taken back first and two
    // programs never pick the same name.
    std::random_device random;
    char name[64];
    std::snprintf(name, sizeof name, "%013lld-%08x", static_cast<long long>(WallClockMs()),
                  static_cast<unsigned>(random()));
    const std::string temporary = std::string(".") + name + ".tmp";
    const std::string final = std::string(name) + kSuffix;
    const int fd = ::openat(folder, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0 && platform::WriteWhole(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    written = written && ::renameat(folder, temporary.c_str(), folder, final.c_str()) == 0;
    if (!written) {
        ::unlinkat(folder, temporary.c_str(), 0);
        ::close(folder);
        return Outcome<Done>::Failure(platform::FileErrorText(folderPath + "/" + final, error));
    }
    ::fsync(folder);
    ::close(folder);
    return {Done{}, ""};
}

void TakeSetAside(const std::string& databasePath,
                  const std::function<bool(const PendingRecord&)>& take) {
    std::string reason;
    const int folder = OpenPrivateFolder(PendingFolder(databasePath), false, reason);
    if (folder < 0)
        return;
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(::dup(folder))) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name.size() > sizeof kSuffix && name.ends_with(kSuffix) && name[0] != '.')
                names.push_back(name);
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const int fd =
            ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        const bool plain = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 &&
                           info.st_size <= kLargestPendingFile;
        const std::string text = plain ? ReadWhole(fd) : "";
        ::close(fd);
        const std::optional<PendingRecord> pending = ParsePending(text);
        if (pending && take(*pending))
            ::unlinkat(folder, name.c_str(), 0);
    }
    ::close(folder);
}

}  // namespace kelo::records
