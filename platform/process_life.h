// How a program of Kelo begins its life and how the processes it forks end theirs. Every main
// (kelo, kelo-cli, kelo-sim) calls StartProcessLife first, before it opens any file or socket;
// the stop-signal handlers of both programs and the host list's forked runs ask here.
//
// - A standard descriptor (0, 1 or 2) that was closed when the program started would be the
//   number the next open file or socket gets, and the program's messages or results would go
//   there: into a machine's connection, a trace file, the records. Each closed one is opened on
//   /dev/null for the direction its stream does not use, so that a read of standard input or a
//   write to standard output or error still fails with EBADF, as on the closed descriptor.
// - A signal that was ignored when the program started (nohup's SIGHUP, the SIGINT of a
//   shell script's background job) stays ignored: the programs install no handler for it.
// - A process forked to do part of the program's work ends when the program is gone.
#pragma once

#include <sys/types.h>

namespace kelo::platform {

// Opens the closed standard descriptors and notes which signals were ignored. False when
// /dev/null could not be opened: the program must not run on, since its next file would be
// one of its standard streams.
bool StartProcessLife();

// Whether the signal was ignored when StartProcessLife ran; false for every signal in a
// program that did not call it (the tests).
bool IgnoredAtStart(int signalNumber);

// In a forked child: the signal comes when the parent ends, and at once when it ended
// already (before the child could ask for it). Async-signal-safe.
void EndWithParent(pid_t parent, int signalNumber);

// True in a child given EndWithParent once its parent has ended. Async-signal-safe.
bool ParentGone();

// The exit status of a process that a signal ended: 128 + the signal, as a shell has it.
// Async-signal-safe.
constexpr int SignalExitStatus(int signalNumber) {
    return 128 + signalNumber;
}

}  // namespace kelo::platform
