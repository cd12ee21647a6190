// The service records at their intended size: a database of 100,000 operations on 200 machines,
// 10,000 of them with a report of their own, and one busy machine that holds 10,000 of the
// operations. Prints each figure beside its limit:
//   history of one machine (about 500 operations)            <= 100 ms
//   history of the busy machine                               <= 100 ms
//   opening the records and recording an operation with a report <= 5 ms (median)
//   kelo-cli history of the busy machine, the program from start to end <= 100 ms (median)
// The first two time the records::History call kelo-cli history makes; the program's own
// figure adds its start, the opening of the database and the printing of the table.
// Usage: records_bench [FOLDER]; the database is made there (default: a temporary folder) and
// kept for the next run when a folder is named.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "records/service_records.h"
#include "testsupport/cli_process.h"

namespace {

using namespace kelo::records;
using Clock = std::chrono::steady_clock;

constexpr int kOperations = 100000;
constexpr int kReports = 10000;
constexpr int kMachines = 200;
constexpr int kBusyShare = 10;  // every tenth operation is the busy machine's
constexpr int kRounds = 20;

// A report of about 2 KB that differs by its number, so each is kept on its own.
std::vector<uint8_t> ReportText(int number) {
    std::string text;
    for (int line = 0; text.size() < 2000; ++line)
        text +=
            "Counter " + std::to_string(line) + " = " + std::to_string(number * 31 + line) + "\r\n";
    return {text.begin(), text.end()};
}

OperationRecord Operation(int number) {
    OperationRecord record;
    const bool busy = number % kBusyShare == 0;
    record.machine.host = busy ? "busy" : "printer" + std::to_string(number % kMachines);
    record.machine.address = "127.0.0.1";
    record.machine.type = 3;
    record.machine.portKind = "network";
    record.startedMs = 1'700'000'000'000 + int64_t{number} * 60'000;
    record.endedMs = record.startedMs + 900;
    record.durationMs = 900;
    record.operation = number % 3 == 0 ? "get-params" : "get-report";
    record.result = number % 17 == 0 ? Result::Failed : Result::Ok;
    record.program = "kelo-cli";
    record.files = {FileUse{"output", "report.kel", 2100, std::string(64, 'e')}};
    if (number % (kOperations / kReports) == 5)
        record.content = ReadContent{ContentKind::Report, ReportText(number)};
    return record;
}

bool Fill(ServiceRecords& records) {
    const auto summary = records.Summarise();
    if (summary && summary->operations >= kOperations)
        return true;
    std::printf("filling the database with %d operations...\n", kOperations);
    for (int number = 0; number < kOperations; ++number) {
        const auto recorded = records.RecordOperation(Operation(number));
        if (!recorded) {
            std::fprintf(stderr, "records_bench: %s\n", recorded.reason.c_str());
            return false;
        }
    }
    return true;
}

double Milliseconds(Clock::duration taken) {
    return std::chrono::duration<double, std::milli>(taken).count();
}

double ProcessCpuMilliseconds() {
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return used.tv_sec * 1e3 + used.tv_nsec / 1e6;
}

// The times of kRounds runs of work, sorted; the processor time of each run goes to cpu, as
// a loaded machine stretches the real time.
template <typename Work>
std::vector<double> Time(Work work, std::vector<double>& cpu, int rounds = kRounds) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuMilliseconds();
        work();
        times.push_back(Milliseconds(Clock::now() - start));
        cpu.push_back(ProcessCpuMilliseconds() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    return times;
}

// Prints the median and the worst real time and the median processor time; the limit holds
// for the real time named.
bool PrintFigure(const char* what, const std::vector<double>& times, const std::vector<double>& cpu,
                 double limit, bool worst) {
    const double median = times[times.size() / 2];
    const double judged = worst ? times.back() : median;
    std::printf("%-43s median %6.2f ms  worst %6.2f ms  (cpu %6.2f ms)  limit %5.1f ms (%s): %s\n",
                what, median, times.back(), cpu[cpu.size() / 2], limit, worst ? "worst" : "median",
                judged <= limit ? "met" : "MISSED");
    return judged <= limit;
}

bool MeasureHistory(ServiceRecords& records, const char* what, const std::string& host) {
    size_t rows = 0;
    std::vector<double> cpu;
    const auto times = Time(
        [&] {
            const auto history = records.History({host, std::nullopt, std::nullopt, 0});
            rows = history ? history->size() : 0;
        },
        cpu);
    std::printf("history %s: %zu operations\n", host.c_str(), rows);
    return PrintFigure(what, times, cpu, 100, true);
}

double ChildrenCpuMilliseconds() {
    rusage used{};
    ::getrusage(RUSAGE_CHILDREN, &used);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(used.ru_utime) + ms(used.ru_stime);
}

// kelo-cli history HOST against the database, its table read from a pipe as a shell would.
bool MeasureCliHistory(const std::string& path, const std::string& host) {
    size_t lines = 0;
    int status = 0;
    std::vector<double> times, cpu, unused;
    for (int round = 0; round < kRounds; ++round) {
        const double cpuStart = ChildrenCpuMilliseconds();
        times.push_back(Time(
            [&] {
                cli_testing::CliProcess history({"--records", path, "history", host});
                status = history.Wait(60000);
                const std::string table = history.Out();
                lines = static_cast<size_t>(std::count(table.begin(), table.end(), '\n'));
            },
            unused, 1)[0]);
        cpu.push_back(ChildrenCpuMilliseconds() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("kelo-cli history %s: exit %d, %zu lines\n", host.c_str(), status, lines);
    return PrintFigure("kelo-cli history of the busy machine", times, cpu, 100, false) &&
           status == 0;
}

bool MeasureRecording(const std::string& path) {
    int number = kOperations;
    std::vector<double> cpu;
    const auto times = Time(
        [&] {
            const auto opened = ServiceRecords::Open(path);
            if (opened)
                (*opened.value)->RecordOperation(Operation(number++));
        },
        cpu);
    return PrintFigure("open and record an operation with a report", times, cpu, 5, false);
}

}  // namespace

// The machine's load averages (1, 5 and 15 minutes), which the times depend on.
std::string LoadAverages() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

int main(int argc, char** argv) {
    std::printf("the machine's load (1, 5, 15 minutes): %s\n", LoadAverages().c_str());
    std::string folder = argc > 1 ? argv[1] : "";
    const bool temporary = folder.empty();
    if (temporary) {
        std::string pattern = std::filesystem::temp_directory_path() / "kelo-records-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return 2;
        folder = pattern;
    }
    const std::string path = folder + "/records.sqlite3";
    bool met = false;
    {
        auto opened = ServiceRecords::Open(path);
        if (!opened) {
            std::fprintf(stderr, "records_bench: %s\n", opened.reason.c_str());
            return 2;
        }
        ServiceRecords& records = **opened.value;
        if (!Fill(records))
            return 2;
        met = MeasureHistory(records, "history of one machine", "printer7");
        met = MeasureHistory(records, "history of the busy machine", "busy") && met;
    }
    met = MeasureCliHistory(path, "busy") && met;
    met = MeasureRecording(path) && met;
    std::printf("the machine's load after: %s\n", LoadAverages().c_str());
    if (temporary)
        std::filesystem::remove_all(folder);
    return met ? 0 : 1;
}
