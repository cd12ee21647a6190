// kelo-cli-completion TEMPLATE OUTPUT: writes kelo-cli's bash completion from its template,
// for the build. The output appears whole or not at all.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/completion.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelo-cli-completion TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream scriptTemplate;
    if (!in.is_open() || !(scriptTemplate << in.rdbuf())) {
        std::perror(argv[1]);
        return 1;
    }
    const std::string partial = std::string(argv[2]) + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << kelo::cli::CompletionScript(scriptTemplate.str());
        if (!out.flush()) {
            std::perror(partial.c_str());
            return 1;
        }
    }
    if (std::rename(partial.c_str(), argv[2]) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
