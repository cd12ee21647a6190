// The process's own standard streams, and what became of its standard output: the first write
// to it that failed is remembered, nothing more is written after it, and it is told once at
// the end.
#pragma once

#include "cli/console.h"

namespace kelo::cli {

class StandardOutput {
  public:
    // The process's own standard output and standard error, as a run writes to them.
    Console MakeConsole();

    // At the end of the program: closes standard output and, when a write to it or the close
    // failed, says "kelo-cli: standard output: REASON" and turns a status of 0 into 1, as GNU
    // tools do, so that a result lost on a full disk is no success.
    int Finish(int status);

  private:
    // The first failed write to standard output (an errno value), or 0.
    int error_ = 0;
};

}  // namespace kelo::cli
