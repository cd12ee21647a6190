// Hosts the C library would read as IPv4 addresses other than plain dotted quads.
#include <gtest/gtest.h>

#include "platform/host_address.h"

namespace {

TEST(HostAddress, RefusesEveryOtherNumericFormAndSaysWhatItReaches) {
    const std::pair<const char*, const char*> refused[] = {
        {"10.78.1.020", "without leading zeros (did you mean 10.78.1.20?)"},
        {"010.000.0.1", "without leading zeros (did you mean 10.0.0.1?)"},
        {"10.0.0.0300", "without leading zeros (this one reaches 10.0.0.192)"},
        {"10.78.257", "as four numbers (did you mean 10.78.1.1?)"},
        {"167772161", "as four numbers (did you mean 10.0.0.1?)"},
        {"0XA000001", "in decimal (did you mean 10.0.0.1?)"},
        {"10.0.0.1 x", "as four decimal numbers (this one reaches 10.0.0.1)"},
    };
    for (const auto& [host, reason] : refused) {
        EXPECT_EQ(platform::RefusedHostForm(host).value_or("taken"),
                  std::string(host) + ": write IPv4 addresses " + reason);
    }
    // Plain quads, names, IPv6, and what the C library reads as no address at all.
    for (const char* host : {"10.0.0.10", "0.0.0.0", "255.255.255.255", "printer-3.example",
                             "1.2.3.4.5", "10.0.0.256", "08.0.0.1", "0x", "4294967296", "::1", ""})
        EXPECT_EQ(platform::RefusedHostForm(host), std::nullopt) << host;
}

}  // namespace
