#include "snmp/status_query.h"

#include "platform/messages.h"

namespace kelo {

// Placeholder until the SNMP codec lands: the status read fails honestly.
bool QueryStatus(const std::string&, platform::CancelDialog&, std::string&) {
    platform::ShowMessage(platform::IDS_FAILED_CONNECT);
    return false;
}

void RestartInterface(const std::string&, platform::CancelDialog&) {
    platform::ShowMessage(platform::IDS_FAILED_CONNECT);
}

}  // namespace kelo
