// The process's own standard streams, and what became of its standard output: the first write
// to it that failed is remembered, nothing more is written after it, and it is told once at
// the end.
#pragma once

#include "cli/console.h"

namespace kelo::cli {

// The process's own standard output and standard error.
Console SystemConsole();

// At the end of the program: closes standard output and, when a write to it or the close
// failed, says "kelo-cli: standard output: REASON" and turns a status of 0 into 1, as GNU
// tools do, so that a result lost on a full disk is no success.
int FinishStandardOutput(int status);

// Forgets a failed write: a host list's forked run writes to a pipe of its own, whatever
// became of the list's standard output.
void ForgetStandardOutputError();

}  // namespace kelo::cli
