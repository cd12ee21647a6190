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

// How long a machine may take to answer again after the write's own wait: a restart after a
// parameter set or an image takes the machines well under half a minute (type 4, the slowest,
// is given 10 s before its first look by the upgrade), so a minute leaves room for a slow
// network without holding a host list long on a machine that is gone.
constexpr int kAnswerAgainSeconds = 60;
// The wait between two looks.
constexpr int kAnswerRetryMs = 2000;

// Whether the machine answers again within kAnswerAgainSeconds, looking every kAnswerRetryMs:
// types 3 and 4 a connection to their packet port, types 1 and 2 a status read (network: the
// port is the network, whose status read needs no opening). Says nothing either way.
bool AnswersAgain(Transport& transport, bool network);

}  // namespace kelo::ops
