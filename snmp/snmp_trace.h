// The protocol trace's reading of SNMP messages, through the codec's own parser: the PDU
// type, request-id, error-status and error-index, the object identifier and the value.
#pragma once

#include <memory>
#include <string>

#include "platform/trace.h"

namespace kelo {

// Says what an OCTET STRING value means to its reader (the status text's "REPORT:" field);
// "" when it means nothing in particular.
using SnmpValueDescriber = std::string (*)(const std::string& value);

std::unique_ptr<platform::TraceDecoder> MakeSnmpDecoder(SnmpValueDescriber describe = nullptr);

}  // namespace kelo
