// The fault modes a simulated machine can be started with (--fault NAME), each making it
// misbehave in one way that a client must survive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelo::sim {

struct Faults {
    bool badChecksum = false;            // reply frames carry a wrong check byte
    bool badLead = false;                // reply frames start with 0x7F
    bool closeMidHeader = false;         // the connection closes after two bytes of a reply frame
    bool closeMidBody = false;           // the connection closes halfway through a reply body
    bool length65535 = false;            // reply frames announce and carry 65535 body bytes
    bool neverAnswer = false;            // no reply frames; no REPORT:/READ_PARAM: field
    bool neverAccept = false;            // LPD and packet listeners keep a full accept queue
    bool slowTrickle = false;            // TCP output goes a few bytes at a time with pauses
    bool lpdNak = false;                 // the LPD job command is answered 0x01
    bool snmpError = false;              // every SNMP answer carries error-status 2
    bool snmpSilence = false;            // SNMP requests are never answered
    bool linesRepeated = false;          // every line is offered twice in a row
    bool linesOutOfRange = false;        // line numbers beyond the count are offered as well
    bool linesOddDigits = false;         // every line carries one extra hexadecimal digit
    bool linesBeforeCount = false;       // the first lines are offered before the count
    bool linesWithoutSemicolon = false;  // every field first appears without its ';'
    bool linesEmpty = false;             // the count says one line, and that line is empty
    bool silentAfterRestart = false;     // after its first restart the machine never comes back
};

// Switches on the fault of that name; false for an unknown name.
bool EnableFault(std::string_view name, Faults& faults);

// Every fault name, in the order of the list above.
std::vector<std::string> FaultNames();

// The names of the faults switched on, separated by commas.
std::string EnabledFaultNames(const Faults& faults);

}  // namespace kelo::sim
