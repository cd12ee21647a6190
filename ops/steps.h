// What the operations share inside ops/: the line protocol through which machine types 1
// and 2 answer, and the frame of the two writing operations.
#pragma once

#include <cstdint>
#include <string>

#include "link/transport.h"
#include "ops/operations.h"
#include "platform/messages.h"

namespace kelo::ops::detail {

// The report's line count, then its lines; false when a status read failed or the count is
// past any report.
bool ReadReportLines(Transport& transport, std::string& report);
// The parameter set's line count, then its lines into buffer (at most capacity bytes): the
// count of bytes, or -1.
int ReadParamLines(Transport& transport, uint8_t* buffer, int capacity);

// The outcome of an operation that ran while watch looked on.
Outcome Ended(bool succeeded, const Transport& transport, const platform::MessageWatch& watch);

// The frame of the writing operations: the progress shown from 0; the progress full; then
// hidden, the port closed and "Done." on success.
void BeginWrite(Transport& transport);
void ShowWriteComplete(Transport& transport);
void EndWrite(Transport& transport, bool succeeded);

}  // namespace kelo::ops::detail
