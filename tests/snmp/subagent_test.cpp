// raidc-snmp end to end: each test starts its own snmpd (a generated
// configuration in a temporary folder, AgentX socket there, a free loopback
// UDP port) and the subagent against it, and asks with the net-snmp clients
// through RAIDC-MIB.
#include "testutil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Mib = std::map<std::string, std::string>;

const std::string kMibDirs = RAIDC_SOURCE_DIR "/tools/snmp/base-mibs:" RAIDC_SOURCE_DIR "/mib";

bool poll(const std::function<bool()> &done, int ms = 10000)
{
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Exit status, or -1 when the process is still running after `ms`.
int waitExit(pid_t pid, int ms)
{
    int st = 0;
    if (!poll([&] { return waitpid(pid, &st, WNOHANG) == pid; }, ms))
        return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

pid_t spawn(std::vector<std::string> args, const std::string &log)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int freeUdpPort()
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

class Subagent : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testutil::runCommand("command -v snmpd snmpwalk snmpbulkwalk snmpget >/dev/null") != 0 ||
            access(testutil::toolArgv("raidc-snmp").back().c_str(), X_OK) != 0)
            GTEST_SKIP() << "needs snmpd, the net-snmp clients and raidc-snmp";
        char tmpl[] = "/tmp/raidc-snmp-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // Nothing of the system's net-snmp configuration or state is read or written.
        setenv("SNMPCONFPATH", dir_.c_str(), 1);
        setenv("SNMP_PERSISTENT_DIR", (dir_ + "/state").c_str(), 1);
        setenv("MIBS", "", 1);
        socket_ = dir_ + "/agentx";
        port_ = freeUdpPort();
        trapPort_ = freeUdpPort();
        FILE *f = fopen((dir_ + "/snmpd.conf").c_str(), "w");
        fprintf(f,
                "master agentx\nagentXSocket %s\nagentaddress udp:127.0.0.1:%d\nrocommunity public 127.0.0.1\n"
                "trap2sink 127.0.0.1:%d public\n",
                socket_.c_str(), port_, trapPort_);
        fclose(f);
        testutil::removeTree();
    }

    void TearDown() override
    {
        if (sub_ > 0) { // a sanitizer's report ends it with another status
            EXPECT_EQ(stop(sub_), 0) << testutil::readFile(log());
        }
        stop(master_);
        stop(trapd_);
        stop(agent_);
        if (!dir_.empty())
            testutil::runCommand("rm -rf " + dir_);
    }

    static int stop(pid_t &pid)
    {
        if (pid <= 0)
            return -1;
        kill(pid, SIGTERM);
        int st = waitExit(pid, 10000);
        if (st < 0) {
            kill(pid, SIGKILL);
            st = waitExit(pid, 10000);
        }
        pid = -1;
        return st;
    }

    void startMaster()
    {
        unlink(socket_.c_str());
        master_ = spawn({"snmpd", "-f", "-Lo", "-C", "-c", dir_ + "/snmpd.conf", "-p", dir_ + "/snmpd.pid"},
                        dir_ + "/snmpd.log");
        struct stat st;
        ASSERT_TRUE(poll([&] { return stat(socket_.c_str(), &st) == 0; })) << "snmpd did not start";
    }

    // Debian's snmptrapd, one line per notification: its varbinds, numeric.
    void startTrapReceiver()
    {
        FILE *f = fopen((dir_ + "/snmptrapd.conf").c_str(), "w");
        fprintf(f, "disableAuthorization yes\n");
        fclose(f);
        trapd_ = spawn({"snmptrapd", "-f", "-Lf", traps(), "-C", "-c", dir_ + "/snmptrapd.conf", "-p",
                        dir_ + "/snmptrapd.pid", "-On", "-F", "TRAP %V|%v\n", "udp:127.0.0.1:" + std::to_string(trapPort_)},
                       dir_ + "/snmptrapd.out");
        ASSERT_TRUE(poll([&] { return testutil::readFile(traps()).find("NET-SNMP") != std::string::npos; }));
    }

    // The agent simulator serving the command socket: the RAID agent is up.
    void startAgent()
    {
        agent_ = spawn(testutil::toolArgv("raidc-agent-sim", {"serve"}), dir_ + "/agent.out");
        ASSERT_TRUE(poll([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
    }

    std::string traps() const { return dir_ + "/traps.log"; }

    void startSubagent()
    {
        sub_ = spawn(testutil::toolArgv("raidc-snmp", {"-f", "-x", socket_, "-i", "1", "-w", "0.2"}), log());
        ASSERT_TRUE(poll([&] { return served(); })) << "raidc-snmp did not register";
    }

    void startBoth()
    {
        startMaster();
        startSubagent();
    }

    bool served() { return get("raidcCtrlCount.0").find("No Such") == std::string::npos; }

    std::string log() const { return dir_ + "/raidc-snmp.log"; }

    // "name.index = value" lines of a net-snmp client, enums as numbers.
    Mib ask(const std::string &tool, const std::string &oids)
    {
        std::string out;
        testutil::runCommand(tool + " -v2c -c public -t 2 -r 1 -OQUes -M " + kMibDirs + " -m RAIDC-MIB 127.0.0.1:" +
                                 std::to_string(port_) + " " + oids + " 2>&1",
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

    std::string dir_, socket_;
    int port_ = 0, trapPort_ = 0;
    pid_t master_ = -1, sub_ = -1, trapd_ = -1, agent_ = -1;
};

// The liveness scalars change with the clock and the agent, not the tree.
Mib withoutLiveness(Mib m)
{
    for (const char *k : {"raidcAgentStatus.0", "raidcTreeModified.0", "raidcTreeAge.0"})
        m.erase(k);
    return m;
}

// What the subagent must answer, read in this process through the library's
// per-parameter queries (the subagent reads records).
using Query = std::function<int(const char *, char *, unsigned, int64_t *)>;
struct Col {
    const char *object;
    const char *param;
    char kind; // 't' text, 'i' integer, 'm' mapped text
    int (*mapper)(const char *, int32_t *) = nullptr;
    int32_t preset = 0;
};

std::string answer(const Query &q, const Col &c)
{
    char text[600];
    int64_t v = -1;
    if (c.kind == 'i') {
        q(c.param, nullptr, 0, &v);
        return std::to_string(static_cast<int32_t>(v));
    }
    q(c.param, text, sizeof text, nullptr);
    if (c.kind == 't')
        return std::string(text).substr(0, 255);
    int32_t m = c.preset;
    c.mapper(text, &m);
    return std::to_string(m);
}

void addRow(Mib &m, const char *table, const std::string &index, const Query &q, std::initializer_list<Col> cols)
{
    for (const Col &c : cols)
        m[std::string("raidc") + table + c.object + "." + index] = answer(q, c);
}

// One row's parameter query with the row's indices bound.
#define ROW(query) [&](const char *p, char *b, unsigned l, int64_t *v) { return query; }

int stripe(const char *text, int32_t *v)
{
    return mibMapper_getLdStripeSize(const_cast<char *>(text), v);
}

Mib expectedTables()
{
    Mib m;
    int64_t n = 0;
    RaidC_getCtrlsNumber(&n);
    for (int c = 0; c < n; ++c) {
        std::string ci = std::to_string(c + 1);
        int64_t pds = 0, lds = 0, encs = 0, failed = 0, smart = 0, degraded = 0;
        RaidC_getPdsNumberForCtrl(c, &pds);
        RaidC_getLdsNumberForCtrl(c, &lds);
        RaidC_getEncNumberForCtrl(c, &encs);
        RaidC_getFailedPdsNumberForCtrl(c, &failed, &smart);
        RaidC_getDegradedLdsNumberForCtrl(c, &degraded);
        addRow(m, "Ctrl", ci, ROW(RaidC_getCtrlInfo(p, c, b, l, v)),
               {{"Name", "Name", 't'}, {"Status", "Status", 'm', mibMapper_getCtrlStatus, 4},
                {"Family", "ControllerFamily", 't'}, {"Interface", "Protocol", 'm', mibMapper_getCtrlInterface, 1},
                {"ChipTemperature", "ChipTemperature", 'i'}});
        for (auto [obj, v] : {std::pair{"PdCount", pds}, {"LdCount", lds}, {"FailedPdCount", failed},
                              {"SmartPdCount", smart}, {"DegradedLdCount", degraded},
                              {"BatteryPresent", RaidC_CtrlHasBBU(c) == 1 ? 1 : 2},
                              {"Configurable", RaidC_CtrlCanBeConfigured(c) == 1 ? 1 : 2}})
            m[std::string("raidcCtrl") + obj + "." + ci] = std::to_string(v);
        for (int d = 0; d < pds; ++d) {
            std::string di = ci + "." + std::to_string(d + 1);
            int id = -1;
            RaidC_convert_PdIdx_2_PdId(c, d, &id);
            m["raidcPdNumber." + di] = std::to_string(id);
            addRow(m, "Pd", di, ROW(RaidC_getPDInfo(p, c, d, b, l, v)),
                   {{"Port", "PortNumber", 'i'}, {"DeviceNumber", "DeviceNumber", 'i'},
                    {"Interface", "Type", 'm', mibMapper_getPdInterface, 1},
                    {"DeviceType", "MediaType", 'm', mibMapper_getPdDeviceType, 99},
                    {"Status", "Status", 'm', mibMapper_getPdStatusEx, 1},
                    {"PowerStatus", "PowerStatus", 'm', mibMapper_getPdPowerStatus, 4},
                    {"ForeignConfig", "ForeignConfig", 'm', mibMapper_getPdForeignConfig, 3},
                    {"Size", "PhysicalSize", 'i'}, {"Temperature", "Temperature", 'i'}, {"RotationClass", "RPM", 't'},
                    {"SerialNumber", "SerialNumber", 't'}, {"Vendor", "Vendor", 't'}, {"Product", "Product", 't'}});
        }
        for (int d = 0; d < lds; ++d)
            addRow(m, "Ld", ci + "." + std::to_string(d + 1),
                   ROW(RaidC_getLDInfo(p, c, d, b, l, v)),
                   {{"Number", "LogDriveNumber", 'i'}, {"Name", "Name", 't'},
                    {"RaidLevel", "RAIDLevel", 'm', mibMapper_getLdRaidLevelNum, 1},
                    {"Status", "Status", 'm', mibMapper_getLdStatusEx, 1}, {"StripeSize", "Stripesize", 'm', stripe, 0},
                    {"ReadMode", "ReadMode", 'm', mibMapper_getLdReadMode, 1},
                    {"WriteMode", "WriteMode", 'm', mibMapper_getLdWriteMode, 1},
                    {"CacheMode", "CacheMode", 'm', mibMapper_getLdCacheMode, 1},
                    {"DiskCacheMode", "DiskCacheMode", 'm', mibMapper_getLdDiskCacheMode, 1},
                    {"InitState", "InitState", 'm', mibMapper_getLdInitStatus, 1}, {"Size", "LogicalSize", 'i'}});
        for (int e = 0; e < encs; ++e) {
            std::string ei = ci + "." + std::to_string(e + 1);
            addRow(m, "Enc", ei, ROW(RaidC_getEncInfo(p, c, e, b, l, v)),
                   {{"Number", "EnclosureNumber", 'i'}, {"Name", "Name", 't'}, {"Product", "Product", 't'},
                    {"Vendor", "Vendor", 't'}, {"SerialNumber", "SerialNumber", 't'}, {"Status", "Status", 't'}});
            RaidCEncInfo *tree = RaidC_getEncInfoStructure(c, e); // the sensor counts
            m["raidcEncProcessorCount." + ei] = std::to_string(tree->ProcessorCount);
            for (int proc = 0; proc < tree->ProcessorCount; ++proc)
                for (int s = 0; s < tree->Processors[proc].TempSensorCount; ++s)
                    addRow(m, "EncTemp", ei + "." + std::to_string(proc + 1) + "." + std::to_string(s + 1),
                           ROW(RaidC_getEncTempInfo(p, c, e, proc, s, b, l, v)),
                           {{"Name", "Name", 't'}, {"Location", "Location", 't'}, {"Temperature", "Temperature", 'i'},
                            {"WarningHigh", "WarningTemperatureH", 'i'}, {"CriticalHigh", "CriticalTemperatureH", 'i'},
                            {"WarningLow", "WarningTemperatureL", 'i'}, {"CriticalLow", "CriticalTemperatureL", 'i'},
                            {"Status", "Status", 't'}});
            RaidC_freeEncInfoStructure(tree);
        }
        if (RaidC_CtrlHasBBU(c) == 1)
            addRow(m, "Bbu", ci, ROW(RaidC_getBBUInfo(p, c, b, l, v)),
                   {{"Name", "Name", 't'}, {"Type", "Type", 't'}, {"Status", "Status", 't'},
                    {"Temperature", "Temperature", 'i'}, {"Voltage", "Voltage", 't'},
                    {"DesignCapacity", "DesignCapacity", 'i'}, {"RemainingCapacity", "RemainingCapacity", 'i'},
                    {"SerialNumber", "SerialNumber", 't'}});
    }
    return m;
}

// The two-controller sample without the second controller's battery and
// with a drive vendor longer than a DisplayString.
std::string testTree()
{
    std::string xml = testutil::readFile(testutil::examplePath("two-controllers.xml"));
    size_t b = xml.find("<Battery", xml.find("<Battery") + 1);
    xml.erase(b, xml.find("</Battery>", b) + 10 - b);
    size_t v = xml.find("<Vendor>", xml.find("<PhysicalDrive Nr")) + 8;
    xml.insert(v, std::string(300, 'V'));
    return xml;
}

TEST_F(Subagent, EveryTableMatchesTheDeviceTree)
{
    testutil::loadTree(testTree());
    startBoth();
    Mib walked = ask("snmpwalk", "raidcMIB");
    EXPECT_EQ(withoutLiveness(ask("snmpbulkwalk", "raidcMIB")), withoutLiveness(walked));

    Mib tables = expectedTables();
    EXPECT_EQ(tables.size(), 512u); // 2 controllers, 24 drives, 6 logical drives, 2 enclosures, 1 battery
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_EQ(walked["raidcAgentStatus.0"], "2") << "no agent listens";
    EXPECT_EQ(walked["raidcTreeModified.0"], std::to_string(st.st_mtime));
    EXPECT_NEAR(atoll(walked["raidcTreeAge.0"].c_str()), time(nullptr) - st.st_mtime, 2);
    Mib rest = withoutLiveness(walked);
    for (const auto &[name, value] : tables) {
        EXPECT_EQ(walked[name], value) << name;
        rest.erase(name);
    }
    // What is left are the scalars: SSDs here are NVMe drives, and only the
    // expanders' sensors count for the processors.
    EXPECT_EQ(rest, (Mib{{"raidcCtrlCount.0", "2"},       {"raidcCtrlMaxTemp.0", "73"},
                         {"raidcCtrlMaxTempStatus.0", "1"}, {"raidcPdMaxTemp.0", "46"},
                         {"raidcPdMaxTempStatus.0", "1"},   {"raidcHddMaxTemp.0", "46"},
                         {"raidcHddMaxTempStatus.0", "1"},  {"raidcSsdMaxTemp.0", "0"},
                         {"raidcSsdMaxTempStatus.0", "7"},  {"raidcNvmeMaxTemp.0", "50"},
                         {"raidcNvmeMaxTempStatus.0", "1"}, {"raidcBbuMaxTemp.0", "32"},
                         {"raidcBbuMaxTempStatus.0", "1"},  {"raidcProcMaxTemp.0", "42"},
                         {"raidcProcMaxTempStatus.0", "1"}}));
    // A few values read off the file itself.
    EXPECT_EQ(walked["raidcPdVendor.1.1"], std::string(255, 'V'));
    EXPECT_EQ(walked["raidcCtrlBatteryPresent.2"], "2");
    EXPECT_EQ(walked.count("raidcBbuName.2"), 0u);
    for (auto [name, value] : {std::pair{"raidcPdStatus.1.4", "10"}, // Failed
                               {"raidcPdStatus.1.11", "7"},          // Global Hotspare
                               {"raidcLdStatus.1.3", "3"},           // Partially Degraded
                               {"raidcLdStatus.2.1", "5"},           // Failed
                               {"raidcCtrlDegradedLdCount.1", "3"},  {"raidcCtrlSmartPdCount.2", "1"}})
        EXPECT_EQ(walked[name], value) << name;
}

TEST_F(Subagent, GetAnswersExistingInstancesOnly)
{
    testutil::installTree(testTree());
    startBoth();
    Mib m = ask("snmpget", "raidcCtrlName.2 raidcPdStatus.2.12 raidcEncTempName.1.1.2.1 raidcBbuName.2 "
                           "raidcPdStatus.1.13 raidcCtrlName.3 raidcCtrlCount.1 .1.3.6.1.4.1.32473.1.3.1.99.1.1");
    EXPECT_EQ(m["raidcCtrlName.2"], "RAID Controller 1");
    EXPECT_EQ(m["raidcPdStatus.2.12"], "10");
    EXPECT_EQ(m["raidcEncTempName.1.1.2.1"], "Temperature Sensor 0");
    for (const char *missing : {"raidcBbuName.2", "raidcPdStatus.1.13", "raidcCtrlName.3", "raidcCtrlCount.1"})
        EXPECT_EQ(m[missing], "No Such Instance currently exists at this OID") << missing;
    EXPECT_EQ(m["raidcPdEntry.99.1.1"], "No Such Object available on this agent at this OID");
}

TEST_F(Subagent, RewrittenTreeShowsAfterTheNextRefresh)
{
    testutil::installFile(testutil::examplePath("one-controller.xml"));
    startBoth();
    EXPECT_EQ(get("raidcCtrlCount.0"), "1");
    testutil::installTree(testTree());
    EXPECT_TRUE(poll([&] { return get("raidcCtrlCount.0") == "2"; }, 3000));
    EXPECT_EQ(get("raidcCtrlName.2"), "RAID Controller 1");
}

TEST_F(Subagent, MissingOrBrokenTreeKeepsTheLastState)
{
    startBoth();
    Mib empty = ask("snmpwalk", "raidcMIB");
    EXPECT_EQ(empty.size(), 18u) << "scalars only";
    EXPECT_EQ(empty["raidcTreeAge.0"], "-1") << "no file";
    EXPECT_EQ(empty["raidcCtrlCount.0"], "0");

    testutil::installFile(testutil::examplePath("one-controller.xml"));
    ASSERT_TRUE(poll([&] { return get("raidcCtrlCount.0") == "1"; }, 3000));
    Mib good = withoutLiveness(ask("snmpwalk", "raidcMIB"));
    auto failures = [&] {
        std::string text = testutil::readFile(log());
        size_t n = 0;
        for (size_t at = 0; (at = text.find("cannot refresh", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    size_t before = failures(); // the start without a file
    testutil::installTree("<?xml version=\"1.0\"?><RAIDStorageDeviceTree><System><Adapter>");
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600)); // past the next refresh
        EXPECT_EQ(withoutLiveness(ask("snmpwalk", "raidcMIB")), good);
    }
    testutil::removeTree();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(withoutLiveness(ask("snmpbulkwalk", "raidcMIB")), good);
    EXPECT_EQ(failures(), before + 2) << "each new failure is logged once";
    EXPECT_EQ(waitpid(sub_, nullptr, WNOHANG), 0) << "still running";
}

TEST_F(Subagent, ReconnectsWhenTheMasterRestarts)
{
    testutil::installFile(testutil::examplePath("one-controller.xml"));
    startBoth();
    EXPECT_EQ(stop(master_), 0);
    startMaster();
    EXPECT_TRUE(poll([&] { return served(); }, 15000));
    EXPECT_EQ(get("raidcCtrlName.1"), "RAID Controller 0");
}

TEST_F(Subagent, SigtermEndsItCleanly)
{
    testutil::installFile(testutil::examplePath("one-controller.xml"));
    startBoth();
    EXPECT_EQ(stop(sub_), 0);
    EXPECT_FALSE(served()) << "its registration ends with it";

    // As a daemon: the starting process returns at once, the daemon writes
    // its pid file, serves, and removes the file when told to stop.
    std::string pidFile = dir_ + "/raidc-snmp.pid";
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-snmp") + " -x " + socket_ + " -i 1 -p " + pidFile +
                                   " -Lf " + log()),
              0);
    pid_t daemon = 0;
    ASSERT_TRUE(poll([&] { return (daemon = atoi(testutil::readFile(pidFile).c_str())) > 0 && served(); }));
    kill(daemon, SIGTERM);
    EXPECT_TRUE(poll([&] {
        std::string stat = testutil::readFile("/proc/" + std::to_string(daemon) + "/stat");
        bool gone = stat.empty() || stat.find(") Z") != std::string::npos; // whoever adopted it may not reap it
        return gone && access(pidFile.c_str(), F_OK) != 0;
    }));

    for (const char *bad : {" -i 0", " -i x", " -w 0.01", " -w x", " extra", " -q"})
        EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc-snmp") + bad + " 2>/dev/null"), 2) << bad;
}

// A small tree whose every kind of device can change status.
std::string notifyTree(const char *ctrl, const char *ld, const char *pd1, const char *bbu, const char *enc)
{
    auto pd = [](int id, const char *status) {
        return "<PhysicalDrive Nr=\"" + std::to_string(id) + "\"><Product>P</Product><Name>D" + std::to_string(id) +
               "</Name><Status>" + status + "</Status></PhysicalDrive>";
    };
    return testutil::wrapSystem({std::string("<AdapterNumber>0</AdapterNumber><CtrlId>0</CtrlId><Name>C0</Name><Status>") +
                                 ctrl + "</Status><LogicalDrive Nr=\"0\"><Name>L0</Name><RAIDLevel>RAID-1</RAIDLevel>"
                                 "<Status>" + ld + "</Status></LogicalDrive>" + pd(0, "Operational") + pd(1, pd1) +
                                 "<Battery Nr=\"0\"><Name>B0</Name><Status>" + bbu + "</Status></Battery>"
                                 "<Port Nr=\"0\"><Enclosure Nr=\"0\"><EnclosureNumber>0</EnclosureNumber>"
                                 "<Name>E0</Name><Status>" + enc + "</Status></Enclosure></Port>"});
}

// Notifications as snmptrapd logged them, without sysUpTime and the
// snmpTrapOID's name: "NOTIFICATION|varbind|...", ours only.
std::vector<std::string> notifications(const std::string &log)
{
    std::vector<std::string> out;
    std::istringstream in(log);
    const std::string trapOid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ";
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find(trapOid);
        if (line.rfind("TRAP ", 0) == 0 && at != std::string::npos && line.find(".32473.0.", at) != std::string::npos)
            out.push_back(line.substr(at + trapOid.size()));
    }
    return out;
}

TEST_F(Subagent, NotificationsArriveOnceWithTheirVarbinds)
{
    if (testutil::runCommand("command -v snmptrapd >/dev/null") != 0)
        GTEST_SKIP() << "needs snmptrapd";
    testutil::makePathDirs();
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " install /dev/stdin >/dev/null <<'EOF'\n" +
                                   notifyTree("OK", "Operational", "Operational", "OK", "OK") + "EOF"),
              0);
    startTrapReceiver();
    startAgent();
    startBoth();
    EXPECT_EQ(get("raidcAgentStatus.0"), "1");

    const std::string n = ".1.3.6.1.4.1.32473.0.", o = "|.1.3.6.1.4.1.32473.3.";
    auto status = [&](int which, const char *dev, int oldValue, int newValue, const char *name) {
        return n + std::to_string(which) + o + "1.0 = INTEGER: 1" + (*dev ? o + "2.0 = INTEGER: " + dev : "") + o +
               "3.0 = INTEGER: " + std::to_string(oldValue) + o + "4.0 = INTEGER: " + std::to_string(newValue) + o +
               "5.0 = STRING: \"" + name + "\"";
    };
    const std::vector<std::string> expected = {
        status(1, "", 1, 2, "C0"),   // controller OK -> Degraded
        status(2, "1", 2, 4, "L0"),  // logical drive Operational -> Degraded
        status(3, "2", 4, 10, "D1"), // drive Operational -> Failed
        status(4, "", 1, 2, "B0"),   // battery OK -> Failed
        status(5, "1", 1, 2, "E0"),  // enclosure OK -> Critical
        n + "8" + o + "6.0 = Gauge32: 5" + o + "7.0 = Gauge32: 4294967295" + o + "8.0 = Gauge32: 2" + o +
            "9.1.2.1 = STRING: \"disk 3\"" + o + "9.1.2.2 = \"\"" /* net-snmp shows an empty string so */,
        n + "6|.1.3.6.1.4.1.32473.1.1.16.0 = INTEGER: 2",
        n + "7|.1.3.6.1.4.1.32473.1.1.16.0 = INTEGER: 1",
        n + "9" + o + "1.0 = INTEGER: 1" + o + "5.0 = STRING: \"C0\"",
    };
    auto arrived = [&](size_t count) {
        return poll([&] { return notifications(testutil::readFile(traps())).size() >= count; }, 5000);
    };
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " install /dev/stdin >/dev/null <<'EOF'\n" +
                                   notifyTree("Degraded", "Degraded", "Failed", "Failed", "Critical") + "EOF"),
              0);
    EXPECT_TRUE(arrived(5));
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " trap 5 0xffffffff -s 'disk 3' -s ''"), 0);
    EXPECT_TRUE(arrived(6));
    EXPECT_EQ(stop(agent_), 0);
    EXPECT_TRUE(arrived(7));
    startAgent();
    EXPECT_TRUE(arrived(8));
    kill(sub_, SIGUSR1);
    EXPECT_TRUE(arrived(9));
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // nothing more may come
    EXPECT_EQ(notifications(testutil::readFile(traps())), expected);

    // The module is listed in the master's sysORTable.
    std::string out;
    testutil::runCommand("snmpwalk -v2c -c public -On 127.0.0.1:" + std::to_string(port_) + " .1.3.6.1.2.1.1.9.1.2",
                         &out);
    EXPECT_NE(out.find("OID: .1.3.6.1.4.1.32473\n"), std::string::npos) << out;
}

TEST(SnmpMib, PassesSmilint)
{
    std::string out;
    if (testutil::runCommand("command -v smilint >/dev/null") != 0)
        GTEST_SKIP() << "needs smilint";
    // The SMIv2 base modules come from the system where it has them.
    EXPECT_EQ(testutil::runCommand("SMIPATH=/usr/share/snmp/mibs/ietf:" + kMibDirs + " smilint -l 3 " RAIDC_SOURCE_DIR
                                   "/mib/RAIDC-MIB.txt 2>&1",
                                   &out),
              0);
    EXPECT_EQ(out, "");
}

} // namespace
