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
        EXPECT_EQ(kelo::platform::RefusedHostForm(host).value_or("taken"),
                  std::string(host) + ": write IPv4 addresses " + reason);
    }
    // Plain quads, names (a root dot too), and what the C library reads as no address at all.
    for (const char* host : {"10.0.0.10", "printer-3.example", "printer-3.example.", "1.2.3.4.5",
                             "10.0.0.256", "08.0.0.1", "0x", "4294967296", ""})
        EXPECT_EQ(kelo::platform::RefusedHostForm(host), std::nullopt) << host;
}

// A resolver takes a numeric form with a dot at its end for a name and may answer it with any
// address; IPv6 forms reach IPv4 machines through mapped addresses; and some addresses are
// every machine's or none.
TEST(HostAddress, RefusesTrailingDotsIPv6AndAddressesOfNoOneMachine) {
    const std::pair<const char*, const char*> refused[] = {
        {"10.1.2.3.",
         "10.1.2.3.: write IPv4 addresses without a dot at the end (did you mean "
         "10.1.2.3?)"},
        {"10.1.2.030.",
         "10.1.2.030.: write IPv4 addresses without leading zeros (did you mean "
         "10.1.2.30?)"},
        {"::ffff:127.0.0.2",
         "::ffff:127.0.0.2: Kelo speaks IPv4 only; give the machine's IPv4 "
         "address or name"},
        {"::ffff:7f00:2",
         "::ffff:7f00:2: Kelo speaks IPv4 only; give the machine's IPv4 "
         "address or name"},
        {"0.0.0.0", "0.0.0.0: 0.0.0.0 is the unspecified address, not a machine's"},
        {"255.255.255.255",
         "255.255.255.255: 255.255.255.255 is the broadcast address, not a "
         "machine's"},
        {"239.1.2.3", "239.1.2.3: 239.1.2.3 is a multicast address, not a machine's"},
        {"0",
         "0: write IPv4 addresses as four decimal numbers (this one reaches 0.0.0.0, the "
         "unspecified address, not a machine's)"},
        {"0.0.0.0.", "0.0.0.0.: 0.0.0.0 is the unspecified address, not a machine's"},
    };
    for (const auto& [host, reason] : refused)
        EXPECT_EQ(kelo::platform::RefusedHostForm(host).value_or("taken"), reason) << host;
    EXPECT_EQ(kelo::platform::RefusedHostForm("223.255.255.254"), std::nullopt);
    EXPECT_EQ(kelo::platform::RefusedHostForm("240.0.0.1"), std::nullopt);
}

}  // namespace
