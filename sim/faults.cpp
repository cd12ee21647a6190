#include "sim/faults.h"

#include <iterator>

namespace kelo::sim {
namespace {

struct FaultEntry {
    const char* name;
    bool Faults::*flag;
};

constexpr FaultEntry kFaultTable[] = {
    {"bad-checksum", &Faults::badChecksum},
    {"bad-lead", &Faults::badLead},
    {"close-mid-header", &Faults::closeMidHeader},
    {"close-mid-body", &Faults::closeMidBody},
    {"length-65535", &Faults::length65535},
    {"never-answer", &Faults::neverAnswer},
    {"never-accept", &Faults::neverAccept},
    {"slow-trickle", &Faults::slowTrickle},
    {"lpd-nak", &Faults::lpdNak},
    {"snmp-error", &Faults::snmpError},
    {"snmp-silence", &Faults::snmpSilence},
    {"lines-repeated", &Faults::linesRepeated},
    {"lines-out-of-range", &Faults::linesOutOfRange},
    {"lines-odd-digits", &Faults::linesOddDigits},
    {"lines-before-count", &Faults::linesBeforeCount},
    {"lines-without-semicolon", &Faults::linesWithoutSemicolon},
    {"lines-empty", &Faults::linesEmpty},
    {"silent-after-restart", &Faults::silentAfterRestart},
};

}  // namespace

bool EnableFault(std::string_view name, Faults& faults) {
    for (const FaultEntry& entry : kFaultTable) {
        if (name == entry.name) {
            faults.*entry.flag = true;
            return true;
        }
    }
    return false;
}

std::vector<std::string> FaultNames() {
    std::vector<std::string> names;
    for (const FaultEntry& entry : kFaultTable)
        names.emplace_back(entry.name);
    return names;
}

std::string EnabledFaultNames(const Faults& faults) {
    std::string names;
    for (const FaultEntry& entry : kFaultTable) {
        if (!(faults.*entry.flag))
            continue;
        if (!names.empty())
            names += ',';
        names += entry.name;
    }
    return names;
}

}  // namespace kelo::sim
