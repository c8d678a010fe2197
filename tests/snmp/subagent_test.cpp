// raidc-snmp end to end: each test starts its own snmpd (a generated
// configuration in a temporary folder, its SNMP, AgentX and trap sockets
// there) and the subagent against it, and asks with the net-snmp clients
// through RAIDC-MIB.
#include "../monitor/monitor.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace testutil;
using Mib = std::map<std::string, std::string>;

const std::string kMibDirs = RAIDC_SOURCE_DIR "/tools/snmp/base-mibs:" RAIDC_SOURCE_DIR "/mib";

class Subagent : public InTempDir {
protected:
    void SetUp() override
    {
        if (runCommand("command -v snmpd snmpwalk snmpbulkwalk snmpget >/dev/null") != 0 ||
            access(toolArgv("raidc-snmp").back().c_str(), X_OK) != 0)
            GTEST_SKIP() << "needs snmpd, the net-snmp clients and raidc-snmp";
        InTempDir::SetUp();
        // Nothing of the system's net-snmp configuration or state is read or written.
        setenv("SNMPCONFPATH", dir.c_str(), 1);
        setenv("SNMP_PERSISTENT_DIR", (dir + "/state").c_str(), 1);
        setenv("MIBS", "", 1);
        // All on unix sockets in the folder, where the community is mapped by com2secunix.
        std::ofstream(dir + "/snmpd.conf")
            << "master agentx\nagentXSocket " << dir << "/agentx\nagentaddress unix:" << dir
            << "/snmp\ntrap2sink unix:" << dir << "/trap public\n"
            << "com2secunix local default public\ngroup all v2c local\n"
               "view all included .1\naccess all \"\" any noauth exact all none none\n";
        removeTree();
    }

    void TearDown() override
    {
        if (sub_ > 0) { // a sanitizer's report ends it with another status
            EXPECT_EQ(stopChild(sub_), 0) << readFile(log());
        }
        for (pid_t *child : {&master_, &trapd_})
            stopChild(*child);
        InTempDir::TearDown();
    }

    void startMaster()
    {
        unlink((dir + "/agentx").c_str());
        master_ = spawn({"snmpd", "-f", "-Lo", "-C", "-c", dir + "/snmpd.conf", "-p", dir + "/snmpd.pid"},
                        dir + "/snmpd.log");
        ASSERT_TRUE(eventually([&] { return access((dir + "/agentx").c_str(), F_OK) == 0; })) << "snmpd did not start";
    }

    void startBoth()
    {
        startMaster();
        sub_ = spawn(toolArgv("raidc-snmp", {"-f", "-x", dir + "/agentx", "-i", "1", "-w", "0.2"}), log());
        ASSERT_TRUE(eventually([&] { return served(); })) << "raidc-snmp did not register";
    }

    bool served() { return get("raidcCtrlCount.0").find("No Such") == std::string::npos; }

    std::string log() const { return dir + "/raidc-snmp.log"; }
    std::string traps() const { return dir + "/traps.log"; }

    // "name.index = value" lines of a net-snmp client, enums as numbers.
    Mib ask(const std::string &tool, const std::string &oids)
    {
        std::string out;
        runCommand(tool + " -v2c -c public -t 2 -r 1 -OQUes -M " + kMibDirs + " -m RAIDC-MIB unix:" + dir + "/snmp " +
                       oids + " 2>&1",
                   &out);
        Mib m;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            size_t eq = line.find(" = ");
            m[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 3);
        }
        return m;
    }

    std::string get(const std::string &oid) { return ask("snmpget", oid)[oid]; }

    // Ours that reached snmptrapd, numeric, one a line from the
    // snmpTrapOID's value on, once `count` have or after 5 s.
    std::string notifications(long count)
    {
        const std::string ours =
            R"('s/^TRAP .*|\.1\.3\.6\.1\.6\.3\.1\.1\.4\.1\.0 = OID: \(\.1\.3\.6\.1\.4\.1\.32473\.0\..*\)/\1/p')";
        std::string got;
        eventually(
            [&] {
                return runCommand("sed -n " + ours + " " + traps(), &got) == 0 &&
                       std::ranges::count(got, '\n') >= count;
            },
            5000);
        return got;
    }

    pid_t master_ = -1, sub_ = -1, trapd_ = -1;
};

// The liveness scalars change with the clock and the agent, not the tree.
Mib withoutLiveness(Mib m)
{
    for (const char *k : {"raidcAgentStatus.0", "raidcTreeModified.0", "raidcTreeAge.0"})
        m.erase(k);
    return m;
}

TEST_F(Subagent, FollowsTheRewrittenTreeKeepsTheLastStateReconnectsAndEndsCleanly)
{
    startBoth();
    Mib empty = ask("snmpwalk", "raidcMIB");
    EXPECT_EQ(empty.size(), 18u) << "scalars only";
    EXPECT_EQ(empty["raidcTreeAge.0"], "-1") << "no file";
    EXPECT_EQ(empty["raidcCtrlCount.0"], "0");
    installFile(examplePath("one-controller.xml"));
    EXPECT_TRUE(eventually([&] { return get("raidcCtrlCount.0") == "1"; }, 3000)) << "shows after the next refresh";
    // The two-controller sample without the second controller's battery and
    // with a drive vendor longer than a DisplayString.
    std::string xml = readFile(examplePath("two-controllers.xml"));
    size_t b = xml.find("<Battery", xml.find("<Battery") + 1);
    xml.erase(b, xml.find("</Battery>", b) + 10 - b);
    xml.insert(xml.find("<Vendor>", xml.find("<PhysicalDrive Nr")) + 8, std::string(300, 'V'));
    installTree(xml);
    ASSERT_TRUE(eventually([&] { return get("raidcCtrlCount.0") == "2"; }, 3000));

    time_t before = time(nullptr);
    Mib walked = ask("snmpwalk", "raidcMIB");
    time_t after = time(nullptr);
    const Mib good = withoutLiveness(walked);
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_EQ(walked["raidcAgentStatus.0"], "2") << "no agent listens";
    EXPECT_EQ(walked["raidcTreeModified.0"], std::to_string(st.st_mtime));
    // The age is taken while the walk runs, however slowly.
    long long age = atoll(walked["raidcTreeAge.0"].c_str());
    EXPECT_GE(age, before - st.st_mtime);
    EXPECT_LE(age, after - st.st_mtime);
    // Enums as numbers: a drive's status 10 is Failed, 7 Global Hotspare; a
    // logical drive's 3 Partially Degraded, 5 Failed. The SSDs here are NVMe
    // drives, and only the expanders' sensors count for raidcProcMaxTemp.
    std::string text;
    for (const auto &[name, value] : good)
        text += name + " = " + value + "\n";
    expectGolden("snmp/golden/walk.txt", text);

    // A get answers existing instances only.
    Mib m = ask("snmpget", "raidcCtrlName.2 raidcPdStatus.2.12 raidcEncTempName.1.1.2.1 raidcBbuName.2 "
                           "raidcPdStatus.1.13 raidcCtrlName.3 raidcCtrlCount.1 .1.3.6.1.4.1.32473.1.3.1.99.1.1");
    for (const char *present : {"raidcCtrlName.2", "raidcPdStatus.2.12", "raidcEncTempName.1.1.2.1"})
        EXPECT_EQ(m[present], walked[present]) << present;
    for (const char *missing : {"raidcBbuName.2", "raidcPdStatus.1.13", "raidcCtrlName.3", "raidcCtrlCount.1"})
        EXPECT_EQ(m[missing], "No Such Instance currently exists at this OID") << missing;
    EXPECT_EQ(m["raidcPdEntry.99.1.1"], "No Such Object available on this agent at this OID");

    // A broken or missing tree keeps the last state, and each new failure
    // is logged once.
    auto failures = [&] {
        std::string lines;
        runCommand("grep -c 'cannot refresh' " + log(), &lines);
        return atoi(lines.c_str());
    };
    int failed = failures(); // the start without a file
    installTree("<?xml version=\"1.0\"?><RAIDStorageDeviceTree><System><Adapter>");
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600)); // past the next refresh
        EXPECT_EQ(withoutLiveness(ask("snmpwalk", "raidcMIB")), good);
    }
    removeTree();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(withoutLiveness(ask("snmpbulkwalk", "raidcMIB")), good);
    EXPECT_EQ(failures(), failed + 2);
    EXPECT_EQ(waitpid(sub_, nullptr, WNOHANG), 0) << "still running";

    // The master restarts: the subagent registers again.
    EXPECT_EQ(stopChild(master_), 0);
    startMaster();
    EXPECT_TRUE(eventually([&] { return served(); }, 15000));
    EXPECT_EQ(get("raidcCtrlName.1"), "RAID Controller 0");

    EXPECT_EQ(stopChild(sub_), 0) << "SIGTERM ends it cleanly";
    EXPECT_FALSE(served()) << "its registration ends with it";

    // As a daemon: the starting process returns at once, the daemon writes
    // its pid file, serves, and removes the file when told to stop.
    std::string pidFile = dir + "/raidc-snmp.pid";
    ASSERT_EQ(runCommand(toolPath("raidc-snmp") + " -x " + dir + "/agentx -i 1 -p " + pidFile + " -Lf " + log()), 0);
    pid_t daemon = 0;
    ASSERT_TRUE(eventually([&] { return (daemon = atoi(readFile(pidFile).c_str())) > 0 && served(); }));
    kill(daemon, SIGTERM);
    EXPECT_TRUE(eventually([&] {
        std::string stat = readFile("/proc/" + std::to_string(daemon) + "/stat");
        bool gone = stat.empty() || stat.find(") Z") != std::string::npos; // whoever adopted it may not reap it
        return gone && access(pidFile.c_str(), F_OK) != 0;
    }));

    for (const char *bad : {" -i 0", " -i x", " -w 0.01", " -w x", " extra", " -q"})
        EXPECT_EQ(runCommand(toolPath("raidc-snmp") + bad + " 2>/dev/null"), 2) << bad;
}

// The small tree with a battery and an enclosure, each kind of device in
// the given status, installed through the agent simulator.
void installNotifyTree(const char *ctrl, const char *ld, const char *pd1, const char *bbu, const char *enc)
{
    monitor::installAsAgent(monitor::smallTree(
        {{0, "Operational"}, {1, pd1}}, ld, ctrl,
        std::string("<Battery Nr=\"0\"><Name>B0</Name><Status>") + bbu + "</Status></Battery><Port Nr=\"0\">" +
            "<Enclosure Nr=\"0\"><EnclosureNumber>0</EnclosureNumber><Name>E0</Name><Status>" + enc +
            "</Status></Enclosure></Port>"));
}

TEST_F(Subagent, NotificationsArriveOnceWithTheirVarbinds)
{
    if (runCommand("command -v snmptrapd >/dev/null") != 0)
        GTEST_SKIP() << "needs snmptrapd";
    makePathDirs();
    installNotifyTree("OK", "Operational", "Operational", "OK", "OK");
    // Debian's snmptrapd, one line per notification: its varbinds, numeric.
    std::ofstream(dir + "/snmptrapd.conf") << "disableAuthorization yes\n";
    trapd_ = spawn({"snmptrapd", "-f", "-Lf", traps(), "-C", "-c", dir + "/snmptrapd.conf", "-p",
                    dir + "/snmptrapd.pid", "-On", "-F", "TRAP %V|%v\n", "unix:" + dir + "/trap"},
                   dir + "/snmptrapd.out");
    ASSERT_TRUE(eventually([&] { return readFile(traps()).find("NET-SNMP") != std::string::npos; }));
    std::optional<cmdtest::PeerProcess> agent(std::in_place, cmdtest::simulator()); // the RAID agent is up
    startBoth();
    EXPECT_EQ(get("raidcAgentStatus.0"), "1");

    installNotifyTree("Degraded", "Degraded", "Failed", "Failed", "Critical");
    notifications(5);
    EXPECT_EQ(runCommand(toolPath("raidc-agent-sim") + " trap 5 0xffffffff -s 'disk 3' -s ''"), 0);
    notifications(6);
    EXPECT_EQ(agent->stop(), 0);
    notifications(7);
    agent.emplace(cmdtest::simulator());
    notifications(8);
    kill(sub_, SIGUSR1);
    notifications(9);
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // nothing more may come
    // Each once, in order: the controller OK -> Degraded, the logical drive
    // Operational -> Degraded, the drive Operational -> Failed, the battery
    // OK -> Failed, the enclosure OK -> Critical (status changes 1 to 5); the
    // agent's event 8 (net-snmp shows the empty string as ""); the agent
    // gone (6) and back (7); the resend that SIGUSR1 asks for (9).
    expectGolden("snmp/golden/traps.txt", notifications(9));

    // The module is listed in the master's sysORTable.
    std::string out;
    runCommand("snmpwalk -v2c -c public -On unix:" + dir + "/snmp .1.3.6.1.2.1.1.9.1.2", &out);
    EXPECT_NE(out.find("OID: .1.3.6.1.4.1.32473\n"), std::string::npos) << out;
}

TEST(SnmpMib, PassesSmilint)
{
    std::string out;
    if (runCommand("command -v smilint >/dev/null") != 0)
        GTEST_SKIP() << "needs smilint";
    // The SMIv2 base modules come from the system where it has them.
    EXPECT_EQ(runCommand("SMIPATH=/usr/share/snmp/mibs/ietf:" + kMibDirs +
                             " smilint -l 3 " RAIDC_SOURCE_DIR "/mib/RAIDC-MIB.txt 2>&1",
                         &out),
              0);
    EXPECT_EQ(out, "");
}

} // namespace
