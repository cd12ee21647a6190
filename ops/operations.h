// The four service operations, each one exchange over a transport: it opens the port, writes,
// reads, closes it on every path, shows the messages the user is told along the way, and
// returns what happened with what it read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/transport.h"

namespace kelo::ops {

enum class Status {
    kOk,
    kCancelled,  // Cancel was pressed (or what stands for it: a signal, a deadline)
    kFailed,
    kTimedOut,  // failed while the dialog's timer had run out: a status read went unanswered
};

struct Outcome {
    Status status = Status::kFailed;
    // The last message the operation showed, "" for none: a failure without a word is a reply
    // that came damaged or incomplete.
    std::string message;
    // Its string-table id; 0 for a text of its own or none.
    int messageId = 0;

    bool ok() const { return status == Status::kOk; }
    bool failedSilently() const { return status == Status::kFailed && message.empty(); }
};

struct Report {
    Outcome outcome;
    std::string text;
};

struct Parameters {
    Outcome outcome;
    std::vector<uint8_t> bytes;
};

struct Write {
    Outcome outcome;
    // The upgrade sent the update command but not the whole image: the machine may still
    // wait for one.
    bool firmwareAwaited = false;
    // Put Parameters sent its closing command, or the upgrade the whole image: the machine
    // has everything, and what is left is the wait for its restart.
    bool machineHasAll = false;
};

Report GetReport(Transport& transport);
// At most capacity bytes of the set are kept.
Parameters GetParameters(Transport& transport, int capacity);
// Writes a parameter set (the non-"all" form: the machine keeps the rest), then restarts
// the machine; "Done." when it went through.
Write PutParameters(Transport& transport, const uint8_t* data, int length);
Write UpgradeFirmware(Transport& transport, const uint8_t* data, int size);

}  // namespace kelo::ops
