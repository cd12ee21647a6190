// kelo-cli discover against kelo-sim machines, each test in a network namespace of its own:
// a subnet holding the four machine types, an SNMP agent that is no machine and an address
// with nothing; a broadcast across a bridge into a second namespace; Ctrl-C.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "records/service_records.h"
#include "tests/cli/cli_harness.h"
#include "testsupport/child_process.h"
#include "testsupport/cli_process.h"
#include "testsupport/sim_process.h"
#include "testsupport/temp_dir.h"

namespace cli_testing {
namespace {

using sim_testing::SimProcess;
using ::testing::ElementsAre;

constexpr char kSnmpd[] = "/usr/sbin/snmpd";

std::unique_ptr<SimProcess> StartMachine(int type, const std::string& address,
                                         std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"--type", std::to_string(type), "--bind", address};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto machine = std::make_unique<SimProcess>(arguments);
    EXPECT_TRUE(machine->Listening()) << machine->StandardError();
    return machine;
}

// Runs a shell command line to its end; true when it succeeded.
bool Shell(const std::string& commands) {
    kelo::test::ChildProcess shell({"/bin/sh", "-c", commands}, {});
    const int status = shell.Wait(10000);
    EXPECT_EQ(status, 0) << commands << "\n" << shell.Output();
    return status == 0;
}

TEST(Discover, SubnetListsExactlyTheFourMachinesAsJsonAndAsATable) {
    if (::access(kSnmpd, X_OK) != 0)
        GTEST_SKIP() << "net-snmp's snmpd is not installed";
    CliEnvironment env;
    std::vector<std::unique_ptr<SimProcess>> machines;
    for (int type = 1; type <= 4; ++type)
        machines.push_back(StartMachine(type, "127.0.7." + std::to_string(type)));
    // An agent without the status object (it answers its own sysName and sysDescr), and
    // nothing at all on 127.0.7.6.
    testing_support::TempDir folder;
    const std::string config = folder.File("snmpd.conf");
    std::ofstream(config) << "agentAddress udp:127.0.7.5:161\nrocommunity public\n";
    kelo::test::ChildProcess agent(
        {kSnmpd, "-f", "-Lo", "-C", "-c", config},
        {"MIBS=", "SNMPCONFPATH=" + folder.Path(), "SNMP_PERSISTENT_DIR=" + folder.File("p")});
    ASSERT_TRUE(agent.WaitForOutput("NET-SNMP version", 10000)) << agent.Output();

    // Each line with its round trip, a whole number of milliseconds, taken out.
    CliProcess json({"discover", "--subnet", "127.0.7.0/28", "--json"});
    ASSERT_EQ(json.Wait(), 0) << json.Err();
    const std::string status = "MFG:Generic;CMD:PJL,PCL,PS;MDL:Service Machine Type ";
    const std::string statusEnd = ";CLS:PRINTER;DES:Simulated service machine;";
    EXPECT_EQ(std::regex_replace(json.Out(), std::regex(R"(,"ms":[0-9]+\})"), "}"),
              R"({"address":"127.0.7.1","types":[1,2],"name":"kelo-sim-127.0.7.1",)"
              R"("description":"Kelo simulated machine, type 1","status":")" +
                  status + "1" + statusEnd + "\"}\n" +
                  R"({"address":"127.0.7.2","types":[1,2],"name":"kelo-sim-127.0.7.2",)"
                  R"("description":"Kelo simulated machine, type 2","status":")" +
                  status + "2" + statusEnd + "\"}\n" +
                  R"({"address":"127.0.7.3","types":[3],"name":"kelo-sim-127.0.7.3",)"
                  R"("description":"Kelo simulated machine, type 3","status":null})"
                  "\n"
                  R"({"address":"127.0.7.4","types":[4],"name":"kelo-sim-127.0.7.4",)"
                  R"("description":"Kelo simulated machine, type 4","status":null})"
                  "\n");
    // Each machine found is kept, as it was found.
    auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(kept) << kept.reason;
    const auto found = (*kept.value)->History({});
    ASSERT_EQ(found->size(), 4u);
    EXPECT_EQ(found->back().operation, "discover");
    EXPECT_EQ(found->back().machine.host, "127.0.7.1");
    EXPECT_EQ(found->back().machine.name, "kelo-sim-127.0.7.1");
    EXPECT_EQ(found->front().machine.type, 4);

    CliProcess table({"discover", "--subnet", "127.0.7.0/28", "--no-progress"});
    ASSERT_EQ(table.Wait(), 0) << table.Err();
    EXPECT_EQ(table.Out(),
              "ADDRESS    TYPES  NAME                DESCRIPTION\n"
              "127.0.7.1  1,2    kelo-sim-127.0.7.1  Kelo simulated machine, type 1\n"
              "127.0.7.2  1,2    kelo-sim-127.0.7.2  Kelo simulated machine, type 2\n"
              "127.0.7.3  3      kelo-sim-127.0.7.3  Kelo simulated machine, type 3\n"
              "127.0.7.4  4      kelo-sim-127.0.7.4  Kelo simulated machine, type 4\n");
    EXPECT_EQ(table.Err(), "");
}

// Starts a machine in the network namespace of the process pid: the thread enters it for the
// start, and the machine stays there.
std::unique_ptr<SimProcess> StartMachineIn(const std::string& pid, int type,
                                           const std::string& address) {
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/proc/" + pid + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::setns(there, CLONE_NEWNET), 0) << "cannot enter the namespace of " << pid;
    auto machine = StartMachine(type, address);
    ::setns(home, CLONE_NEWNET);
    ::close(there);
    ::close(home);
    return machine;
}

// This namespace has a bridge, 10.9.0.1/24; a veth pair joins it to a second namespace, in
// which a type 1 machine is bound to 10.9.0.2 and hears its network's broadcasts. Neither
// interface address was given a broadcast address, yet the status request goes to 10.9.0.255
// (not to 10.9.0.1 itself) and across the pair.
TEST(Discover, BroadcastAcrossABridgeFindsATypeOneMachine) {
    CliEnvironment env;
    kelo::test::ChildProcess other(
        {"/usr/bin/unshare", "--net", "/bin/sh", "-c", "echo \"namespace $$\"; exec sleep 600"},
        {});
    ASSERT_TRUE(other.WaitForOutput("\n", 10000)) << other.Output();
    std::string word, pid;
    std::istringstream(other.Output()) >> word >> pid;
    ASSERT_TRUE(
        Shell("ip link add br0 type bridge && ip addr add 10.9.0.1/24 dev br0 && "
              "ip link set br0 up && ip link add vA type veth peer name vB && "
              "ip link set vA master br0 && ip link set vA up && "
              "ip link set vB netns " +
              pid + " && nsenter --net=/proc/" + pid +
              "/ns/net sh -c 'ip addr add 10.9.0.2/24 dev vB && ip link set vB up'"));
    const auto machine = StartMachineIn(pid, 1, "10.9.0.2");

    CliProcess discover({"discover", "--json"});
    ASSERT_EQ(discover.Wait(), 0) << discover.Err();
    const nlohmann::json line = nlohmann::json::parse(discover.Out());
    EXPECT_EQ(line["address"], "10.9.0.2");
    EXPECT_EQ(line["types"], nlohmann::json::array({1, 2}));
    EXPECT_EQ(line["name"], "kelo-sim-10.9.0.2");
}

TEST(Discover, CtrlCEndsItAtOnceWith130) {
    CliEnvironment env;
    // A machine whose agent never answers keeps the request waiting for the whole time-out.
    const auto machine = StartMachine(1, "127.0.8.1", {"--fault", "snmp-silence"});
    CliProcess discover({"discover", "--subnet", "127.0.8.0/30", "--timeout", "600000"});
    ASSERT_NE(machine->WaitForEvent("snmp"), "");
    discover.Signal(SIGINT);
    EXPECT_EQ(discover.Wait(), 130);
    EXPECT_EQ(discover.Out(), "");
}

}  // namespace
}  // namespace cli_testing
