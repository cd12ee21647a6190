// The two SNMP exchanges with a machine's network interface.
#pragma once

#include <string>

#include "platform/cancel_dialog.h"
#include "snmp/snmp_trace.h"

namespace kelo {

// The status object of machine types 1 and 2 and the interface's restart object.
constexpr const char* kStatusOid = ".1.3.6.1.4.1.1229.2.2.2.1.24.1";
constexpr const char* kRestartOid = ".1.3.6.1.4.1.1229.2.8.1.0";

// One GetRequest of the status object. The value comes back as text; no answer within 200 ms
// is an empty text and still true. Failures show their message and return false.
// describeValue, when given, tells the protocol trace what the status text carries.
bool QueryStatus(const std::string& host, platform::CancelDialog& dialog, std::string& statusText,
                 SnmpValueDescriber describeValue = nullptr);

// Asks the interface to restart (SetRequest of the restart object to INTEGER 10), then waits
// 24 steps of 250 ms with the bar moving from 40 to 97 unless Cancel ends the wait. The
// dialog is the exchange's own: shown at the start, hidden at the end. True when the machine
// answered the request, so it restarts whether or not the wait ran to its end.
bool RestartInterface(const std::string& host, platform::CancelDialog& dialog);

}  // namespace kelo
