// Writes a starting corpus for the file fuzzer: valid report files and parameter files of a
// few shapes, into the folder named on the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "platform/atomic_file.h"

namespace {

bool Write(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = folder + "/" + name;
    const platform::FileResult written =
        platform::WriteFileAtomically(path, bytes.data(), bytes.size());
    if (!written.ok)
        std::fprintf(stderr, "%s\n", written.ErrorText(path).c_str());
    return written.ok;
}

std::vector<std::string> SeedTexts() {
    std::string lines;
    for (int n = 0; lines.size() < 3000; ++n) {
        lines += "PARAM " + std::to_string(n) + " = " + std::to_string(n * 37 % 1000) +
                 std::string(static_cast<size_t>(n % 17), ' ') + "\r\n";
    }
    std::string varied;
    for (int i = 0; i < 600; ++i)
        varied += static_cast<char>(1 + (i * 131) % 255);
    return {"", "A", "STATUS OK\r\n", std::string(300, ' '), lines, varied};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int n = 0;
    bool ok = true;
    for (const std::string& text : SeedTexts()) {
        std::vector<uint8_t> file;
        ok = kelo::EncodeReportBlock(text, file) && ok;
        ok = Write(folder, "report-" + std::to_string(n) + ".kel", file) && ok;
        std::vector<uint8_t> parameters;
        if (kelo::EncodeParameterBlock(reinterpret_cast<const uint8_t*>(text.data()),
                                       static_cast<int>(text.size()), parameters)) {
            ok = Write(folder, "parameters-" + std::to_string(n), parameters) && ok;
        }
        ++n;
    }
    return ok ? 0 : 1;
}
