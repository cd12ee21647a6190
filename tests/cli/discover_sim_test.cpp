// kelo-cli discover against kelo-sim machines, each test in a network namespace of its own:
// a subnet holding the four machine types, an SNMP agent that is no machine and an address
// with nothing; a broadcast across a bridge into a second namespace; Ctrl-C and usage errors.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/cli_process.h"
#include "tests/sim/sim_process.h"
#include "tests/snmp/child_process.h"
#include "tests/support/temp_dir.h"

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

    CliProcess json({"discover", "--subnet", "127.0.7.0/28", "--json"});
    ASSERT_EQ(json.Wait(), 0) << json.Err();
    std::vector<nlohmann::json> lines;
    std::istringstream out(json.Out());
    for (std::string line; std::getline(out, line);)
        lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 4u) << json.Out();
    for (int type = 1; type <= 4; ++type) {
        const nlohmann::json& line = lines[static_cast<size_t>(type - 1)];
        const std::string address = "127.0.7." + std::to_string(type);
        EXPECT_EQ(line["address"], address);
        const auto types =
            type <= 2 ? nlohmann::json::array({1, 2}) : nlohmann::json::array({type});
        EXPECT_EQ(line["types"], types);
        EXPECT_EQ(line["name"], "kelo-sim-" + address);
        EXPECT_EQ(line["description"], "Kelo simulated machine, type " + std::to_string(type));
        // Types 3 and 4 keep no status object; 1 and 2 show their status text.
        EXPECT_EQ(line["status"].is_null(), type > 2) << line;
        if (type <= 2) {
            EXPECT_THAT(line["status"].get<std::string>(),
                        ::testing::HasSubstr("MDL:Service Machine Type " + std::to_string(type)));
        }
        EXPECT_TRUE(line["ms"].is_number_integer()) << line;
    }

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

// Enters the network namespace of a process for as long as it lives; what the thread starts
// meanwhile runs there.
class NamespaceVisit {
  public:
    explicit NamespaceVisit(const std::string& pid)
        : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        const int there = ::open(("/proc/" + pid + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::setns(there, CLONE_NEWNET), 0) << "cannot enter the namespace of " << pid;
        ::close(there);
    }
    ~NamespaceVisit() {
        ::setns(home_, CLONE_NEWNET);
        ::close(home_);
    }

  private:
    int home_;
};

// This namespace has a bridge, 10.9.0.1/24; a veth pair joins it to a second namespace, in
// which a type 1 machine listens on every address as 10.9.0.2. Only the bridge can broadcast
// here, so the status request goes to 10.9.0.255 and across the pair.
TEST(Discover, BroadcastAcrossABridgeFindsATypeOneMachine) {
    kelo::test::ChildProcess other(
        {"/usr/bin/unshare", "--net", "/bin/sh", "-c", "echo \"namespace $$\"; exec sleep 600"},
        {});
    ASSERT_TRUE(other.WaitForOutput("\n", 10000)) << other.Output();
    std::string word, pid;
    std::istringstream(other.Output()) >> word >> pid;
    ASSERT_TRUE(
        Shell("ip link add br0 type bridge && ip addr add 10.9.0.1/24 brd + dev br0 && "
              "ip link set br0 up && ip link add vA type veth peer name vB && "
              "ip link set vA master br0 && ip link set vA up && "
              "ip link set vB netns " +
              pid + " && nsenter --net=/proc/" + pid +
              "/ns/net sh -c 'ip addr add 10.9.0.2/24 brd + dev vB && ip link set vB up'"));
    std::unique_ptr<SimProcess> machine;
    {
        NamespaceVisit visit(pid);
        machine = StartMachine(1, "0.0.0.0");
    }

    CliProcess discover({"discover", "--json"});
    ASSERT_EQ(discover.Wait(), 0) << discover.Err();
    const nlohmann::json line = nlohmann::json::parse(discover.Out());
    EXPECT_EQ(line["address"], "10.9.0.2");
    EXPECT_EQ(line["types"], nlohmann::json::array({1, 2}));
    EXPECT_EQ(line["name"], "kelo-sim-0.0.0.0");
}

TEST(Discover, CtrlCEndsItAtOnceWith130) {
    // A machine whose agent never answers keeps the request waiting for the whole time-out.
    const auto machine = StartMachine(1, "127.0.8.1", {"--fault", "snmp-silence"});
    CliProcess discover({"discover", "--subnet", "127.0.8.0/30", "--timeout", "600000"});
    ASSERT_NE(machine->WaitForEvent("snmp"), "");
    discover.Signal(SIGINT);
    EXPECT_EQ(discover.Wait(), 130);
    EXPECT_EQ(discover.Out(), "");
}

TEST(Discover, MoreThan1024AddressesIsAUsageError) {
    CliProcess discover({"discover", "--subnet", "10.0.0.0/21"});
    EXPECT_EQ(discover.Wait(), 2);
    EXPECT_EQ(
        discover.Err(),
        "kelo-cli: --subnet covers more than 1024 addresses in all (try 'kelo-cli --help')\n");
    EXPECT_EQ(discover.Out(), "");
}

}  // namespace
}  // namespace cli_testing
