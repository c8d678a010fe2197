// raidc-snmp end to end: each test starts its own snmpd (a generated
// configuration in a temporary folder, its SNMP, AgentX and trap sockets
// there) and the subagent against it, and asks with the net-snmp clients
// through RAIDC-MIB.
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
        // All on unix sockets in the folder, where the community is mapped by com2secunix.
        std::ofstream(dir_ + "/snmpd.conf")
            << "master agentx\nagentXSocket " << dir_ << "/agentx\nagentaddress unix:" << dir_
            << "/snmp\ntrap2sink unix:" << dir_ << "/trap public\n"
            << "com2secunix local default public\ngroup all v2c local\n"
               "view all included .1\naccess all \"\" any noauth exact all none none\n";
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

    // Exit status after SIGTERM, or SIGKILL when that takes too long.
    static int stop(pid_t &pid)
    {
        int st = 0;
        auto reaped = [&] { return waitpid(pid, &st, WNOHANG) == pid; };
        if (pid <= 0)
            return -1;
        kill(pid, SIGTERM);
        bool ended = poll(reaped) || (kill(pid, SIGKILL) == 0 && poll(reaped));
        pid = -1;
        return !ended ? -1 : WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }

    void startMaster()
    {
        unlink((dir_ + "/agentx").c_str());
        master_ = spawn({"snmpd", "-f", "-Lo", "-C", "-c", dir_ + "/snmpd.conf", "-p", dir_ + "/snmpd.pid"},
                        dir_ + "/snmpd.log");
        ASSERT_TRUE(poll([&] { return access((dir_ + "/agentx").c_str(), F_OK) == 0; })) << "snmpd did not start";
    }

    void startBoth()
    {
        startMaster();
        sub_ = spawn(testutil::toolArgv("raidc-snmp", {"-f", "-x", dir_ + "/agentx", "-i", "1", "-w", "0.2"}), log());
        ASSERT_TRUE(poll([&] { return served(); })) << "raidc-snmp did not register";
    }

    bool served() { return get("raidcCtrlCount.0").find("No Such") == std::string::npos; }

    std::string log() const { return dir_ + "/raidc-snmp.log"; }
    std::string traps() const { return dir_ + "/traps.log"; }

    // "name.index = value" lines of a net-snmp client, enums as numbers.
    Mib ask(const std::string &tool, const std::string &oids)
    {
        std::string out;
        testutil::runCommand(tool + " -v2c -c public -t 2 -r 1 -OQUes -M " + kMibDirs + " -m RAIDC-MIB unix:" + dir_ +
                                 "/snmp " + oids + " 2>&1",
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

    // Once `count` of ours have reached snmptrapd (numeric, one per line,
    // without sysUpTime and the snmpTrapOID's name), they are the first
    // `count` of `expected`, in order.
    void expectNotifications(const std::vector<std::string> &expected, size_t count)
    {
        const std::string trapOid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ";
        std::vector<std::string> got;
        poll(
            [&] {
                got.clear();
                std::istringstream in(testutil::readFile(traps()));
                for (std::string line; std::getline(in, line);) {
                    size_t at = line.find(trapOid);
                    if (line.starts_with("TRAP ") && at != std::string::npos && line.find(".32473.0.", at) != line.npos)
                        got.push_back(line.substr(at + trapOid.size()));
                }
                return got.size() >= count;
            },
            5000);
        EXPECT_EQ(got, std::vector<std::string>(expected.data(), expected.data() + count));
    }

    std::string dir_;
    pid_t master_ = -1, sub_ = -1, trapd_ = -1, agent_ = -1;
};

// The liveness scalars change with the clock and the agent, not the tree.
Mib withoutLiveness(Mib m)
{
    for (const char *k : {"raidcAgentStatus.0", "raidcTreeModified.0", "raidcTreeAge.0"})
        m.erase(k);
    return m;
}

// Every column of the tables for testTree(): its rows (the counts of each
// index level) and the values in index order, '|' between them, "v*n" for
// n rows of v. Enums are numbers, texts cut to a DisplayString.
const std::vector<int> kCtrl{2}, kPd{2, 12}, kLd{2, 3}, kEnc{2, 1}, kSensor{2, 1, 2, 2}, kBbu{1};
const struct Column {
    const char *oid;
    const std::vector<int> &rows;
    const char *values;
} kColumns[] = {
    {"raidcCtrlName", kCtrl, "RAID Controller 0|RAID Controller 1"},
    {"raidcCtrlStatus", kCtrl, "2*2"},
    {"raidcCtrlFamily", kCtrl, "MR*2"},
    {"raidcCtrlInterface", kCtrl, "6*2"},
    {"raidcCtrlChipTemperature", kCtrl, "73|56"},
    {"raidcCtrlPdCount", kCtrl, "12*2"},
    {"raidcCtrlLdCount", kCtrl, "3*2"},
    {"raidcCtrlFailedPdCount", kCtrl, "1*2"},
    {"raidcCtrlSmartPdCount", kCtrl, "1*2"},
    {"raidcCtrlDegradedLdCount", kCtrl, "3|1"},
    {"raidcCtrlBatteryPresent", kCtrl, "1|2"},
    {"raidcCtrlConfigurable", kCtrl, "1*2"},
    {"raidcPdNumber", kPd, "1|2|3|4|5|6|7|8|9|10|11|0|1|2|3|4|5|6|7|8|9|10|11|0"},
    {"raidcPdPort", kPd, "0*11|2|0*11|2"},
    {"raidcPdDeviceNumber", kPd, "10|11|12|13|14|15|16|17|18|19|20|21|10|11|12|13|14|15|16|17|18|19|20|21"},
    {"raidcPdInterface", kPd, "5*11|1|5*11|1"},
    {"raidcPdDeviceType", kPd, "2*24"},
    {"raidcPdStatus", kPd, "4|4|4|10|4|4|4|4|4|6|7|4|7|4|4|4|6|4|4|4|6|4|4|10"}, // 10 Failed, 7 Global Hotspare
    {"raidcPdPowerStatus", kPd, "1*24"},
    {"raidcPdForeignConfig", kPd, "1*24"},
    {"raidcPdSize", kPd, "1907729*11|1831420|7630885|1907729*10|1831420"},
    {"raidcPdTemperature", kPd, "33|41|27|46|41|38|37|28|37|42|34|49|33|35|39|43|40|38|32|45|44|38|37|50"},
    {"raidcPdRotationClass", kPd, "5.4*11|0|7.2|5.4*10|0"},
    {"raidcPdSerialNumber", kPd,
     "B40C433E600F|903D5AB29623|AA3604202455|C008E3BFACBD|0992261E4D41|0A614E5662D5|0CF7A2B953CC|08CBC9816DAA|"
     "6A6CA6070D13|E693FB51F90F|7E1A05F079B6|34D42E2B1706|C65F6EC57BF5|1A3CC816E933|2CDF1B52EFA4|ABEBE7431B8F|"
     "F84C490DCF2D|7ED05488077E|2D2223F9E668|6B8A0B542D15|D0E28D218986|F09C06DBEE28|0754AACBB058|548515101575"},
    {"raidcPdVendor", kPd, "-|ALDER*10|NORTHSTOR|ALDER*11|NORTHSTOR"}, // the first is set below
    {"raidcPdProduct", kPd, "AL2000LP*11|NS1920-U2|AL8000NE|AL2000LP*10|NS1920-U2"},
    {"raidcLdNumber", kLd, "0|1|2|0|1|2"},
    {"raidcLdName", kLd, "LogicalDrive_0|LogicalDrive_1|LogicalDrive_2|LogicalDrive_0|LogicalDrive_1|LogicalDrive_2"},
    {"raidcLdRaidLevel", kLd, "6|6|13|6|6|9"},
    {"raidcLdStatus", kLd, "4|4|3|5|5|4"}, // 3 Partially Degraded, 5 Failed
    {"raidcLdStripeSize", kLd, "131072|65536|131072|262144|131072|65536"},
    {"raidcLdReadMode", kLd, "4|4|3|4|3|3"},
    {"raidcLdWriteMode", kLd, "2|3|2|2|3|2"},
    {"raidcLdCacheMode", kLd, "3|3|2|2|2|2"},
    {"raidcLdDiskCacheMode", kLd, "4|4|2|3|3|3"},
    {"raidcLdInitState", kLd, "2*6"},
    {"raidcLdSize", kLd, "2747130|2747130|5723187|2747130|2747130|7630916"},
    {"raidcEncNumber", kEnc, "1*2"},
    {"raidcEncName", kEnc, "Enclosure 1*2"},
    {"raidcEncProduct", kEnc, "JBOD-12S*2"},
    {"raidcEncVendor", kEnc, "Zephyr Storage Systems*2"},
    {"raidcEncSerialNumber", kEnc, "EN674031C43E|EN832F821D51"},
    {"raidcEncStatus", kEnc, "OK*2"},
    {"raidcEncProcessorCount", kEnc, "2*2"},
    {"raidcEncTempName", kSensor,
     "Temperature Sensor 0|Temperature Sensor 1|Temperature Sensor 0|"
     "Temperature Sensor 1|Temperature Sensor 0|Temperature Sensor 1|"
     "Temperature Sensor 0|Temperature Sensor 1"},
    {"raidcEncTempLocation", kSensor, "Inlet|Midplane|Inlet|Midplane|Inlet|Midplane|Inlet|Midplane"},
    {"raidcEncTempTemperature", kSensor, "26|24|28|44|42|34|46|34"},
    {"raidcEncTempWarningHigh", kSensor, "55*8"},
    {"raidcEncTempCriticalHigh", kSensor, "65*8"},
    {"raidcEncTempWarningLow", kSensor, "5*8"},
    {"raidcEncTempCriticalLow", kSensor, "0*8"},
    {"raidcEncTempStatus", kSensor, "OK*8"},
    {"raidcBbuName", kBbu, "BBU"},
    {"raidcBbuType", kBbu, "SuperCap"},
    {"raidcBbuStatus", kBbu, "OK"},
    {"raidcBbuTemperature", kBbu, "32"},
    {"raidcBbuVoltage", kBbu, "9393 mV"},
    {"raidcBbuDesignCapacity", kBbu, "1215"},
    {"raidcBbuRemainingCapacity", kBbu, "547"},
    {"raidcBbuSerialNumber", kBbu, "CV171622DA"},
};

// The walk of testTree() without the liveness scalars: the tables above and
// the scalars (SSDs here are NVMe drives, and only the expanders' sensors
// count for the processors).
Mib expectedWalk()
{
    Mib m{{"raidcCtrlCount.0", "2"},        {"raidcCtrlMaxTemp.0", "73"},      {"raidcCtrlMaxTempStatus.0", "1"},
          {"raidcPdMaxTemp.0", "46"},       {"raidcPdMaxTempStatus.0", "1"},   {"raidcHddMaxTemp.0", "46"},
          {"raidcHddMaxTempStatus.0", "1"}, {"raidcSsdMaxTemp.0", "0"},        {"raidcSsdMaxTempStatus.0", "7"},
          {"raidcNvmeMaxTemp.0", "50"},     {"raidcNvmeMaxTempStatus.0", "1"}, {"raidcBbuMaxTemp.0", "32"},
          {"raidcBbuMaxTempStatus.0", "1"}, {"raidcProcMaxTemp.0", "42"},      {"raidcProcMaxTempStatus.0", "1"}};
    for (const Column &c : kColumns) {
        std::vector<std::string> index{""};
        for (int n : c.rows) {
            std::vector<std::string> deeper;
            for (const std::string &prefix : index)
                for (int i = 1; i <= n; ++i)
                    deeper.push_back(prefix + "." + std::to_string(i));
            index = deeper;
        }
        size_t row = 0;
        std::istringstream in(c.values);
        for (std::string v; std::getline(in, v, '|');) {
            size_t star = v.find('*');
            int times = star == std::string::npos ? 1 : atoi(v.c_str() + star + 1);
            for (v = v.substr(0, star); times-- > 0 && row < index.size();)
                m[c.oid + index[row++]] = v;
        }
        EXPECT_EQ(row, index.size()) << c.oid;
    }
    m["raidcPdVendor.1.1"] = std::string(255, 'V'); // cut to a DisplayString
    EXPECT_EQ(m.size(), 15u + 512u); // 2 controllers, 24 drives, 6 logical drives, 2 enclosures, 1 battery
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

TEST_F(Subagent, WalksAndGetsFollowTheRewrittenTree)
{
    testutil::installFile(testutil::examplePath("one-controller.xml"));
    startBoth();
    EXPECT_EQ(get("raidcCtrlCount.0"), "1");
    testutil::installTree(testTree());
    EXPECT_TRUE(poll([&] { return get("raidcCtrlCount.0") == "2"; }, 3000)) << "shows after the next refresh";

    time_t before = time(nullptr);
    Mib walked = ask("snmpwalk", "raidcMIB");
    time_t after = time(nullptr);
    EXPECT_EQ(withoutLiveness(ask("snmpbulkwalk", "raidcMIB")), withoutLiveness(walked));
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_EQ(walked["raidcAgentStatus.0"], "2") << "no agent listens";
    EXPECT_EQ(walked["raidcTreeModified.0"], std::to_string(st.st_mtime));
    // The age is taken while the walk runs, however slowly.
    long long age = atoll(walked["raidcTreeAge.0"].c_str());
    EXPECT_GE(age, before - st.st_mtime);
    EXPECT_LE(age, after - st.st_mtime);
    const Mib expected = expectedWalk();
    walked = withoutLiveness(walked);
    for (const auto &[name, value] : expected)
        EXPECT_EQ(walked.count(name) ? walked[name] : "(missing)", value) << name;
    EXPECT_EQ(walked.size(), expected.size()) << "nothing more, as no second battery";

    // A get answers existing instances only.
    Mib m = ask("snmpget", "raidcCtrlName.2 raidcPdStatus.2.12 raidcEncTempName.1.1.2.1 raidcBbuName.2 "
                           "raidcPdStatus.1.13 raidcCtrlName.3 raidcCtrlCount.1 .1.3.6.1.4.1.32473.1.3.1.99.1.1");
    for (const char *present : {"raidcCtrlName.2", "raidcPdStatus.2.12", "raidcEncTempName.1.1.2.1"})
        EXPECT_EQ(m[present], expected.at(present)) << present;
    for (const char *missing : {"raidcBbuName.2", "raidcPdStatus.1.13", "raidcCtrlName.3", "raidcCtrlCount.1"})
        EXPECT_EQ(m[missing], "No Such Instance currently exists at this OID") << missing;
    EXPECT_EQ(m["raidcPdEntry.99.1.1"], "No Such Object available on this agent at this OID");
}

TEST_F(Subagent, KeepsTheLastStateReconnectsAndEndsCleanly)
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
        std::string lines;
        testutil::runCommand("grep -c 'cannot refresh' " + log(), &lines);
        return atoi(lines.c_str());
    };
    int before = failures(); // the start without a file
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

    // The master restarts: the subagent registers again.
    EXPECT_EQ(stop(master_), 0);
    startMaster();
    EXPECT_TRUE(poll([&] { return served(); }, 15000));
    EXPECT_EQ(get("raidcCtrlName.1"), "RAID Controller 0");

    EXPECT_EQ(stop(sub_), 0) << "SIGTERM ends it cleanly";
    EXPECT_FALSE(served()) << "its registration ends with it";

    // As a daemon: the starting process returns at once, the daemon writes
    // its pid file, serves, and removes the file when told to stop.
    std::string pidFile = dir_ + "/raidc-snmp.pid";
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-snmp") + " -x " + dir_ + "/agentx -i 1 -p " + pidFile +
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

// A small tree whose every kind of device can change status, installed
// through the agent simulator.
void installNotifyTree(const char *ctrl, const char *ld, const char *pd1, const char *bbu, const char *enc)
{
    auto pd = [](int id, const char *status) {
        return "<PhysicalDrive Nr=\"" + std::to_string(id) + "\"><Product>P</Product><Name>D" + std::to_string(id) +
               "</Name><Status>" + status + "</Status></PhysicalDrive>";
    };
    std::string xml = testutil::wrapSystem(
        {std::string("<AdapterNumber>0</AdapterNumber><CtrlId>0</CtrlId><Name>C0</Name><Status>") + ctrl +
         "</Status><LogicalDrive Nr=\"0\"><Name>L0</Name><RAIDLevel>RAID-1</RAIDLevel><Status>" + ld +
         "</Status></LogicalDrive>" + pd(0, "Operational") + pd(1, pd1) + "<Battery Nr=\"0\"><Name>B0</Name><Status>" +
         bbu +
         "</Status></Battery><Port Nr=\"0\"><Enclosure Nr=\"0\"><EnclosureNumber>0</EnclosureNumber>"
         "<Name>E0</Name><Status>" +
         enc + "</Status></Enclosure></Port>"});
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " install /dev/stdin >/dev/null <<'EOF'\n" +
                                   xml + "EOF"),
              0);
}

TEST_F(Subagent, NotificationsArriveOnceWithTheirVarbinds)
{
    if (testutil::runCommand("command -v snmptrapd >/dev/null") != 0)
        GTEST_SKIP() << "needs snmptrapd";
    testutil::makePathDirs();
    installNotifyTree("OK", "Operational", "Operational", "OK", "OK");
    // Debian's snmptrapd, one line per notification: its varbinds, numeric.
    std::ofstream(dir_ + "/snmptrapd.conf") << "disableAuthorization yes\n";
    trapd_ = spawn({"snmptrapd", "-f", "-Lf", traps(), "-C", "-c", dir_ + "/snmptrapd.conf", "-p",
                    dir_ + "/snmptrapd.pid", "-On", "-F", "TRAP %V|%v\n", "unix:" + dir_ + "/trap"},
                   dir_ + "/snmptrapd.out");
    ASSERT_TRUE(poll([&] { return testutil::readFile(traps()).find("NET-SNMP") != std::string::npos; }));
    // The agent simulator serving the command socket: the RAID agent is up.
    auto startAgent = [&] {
        agent_ = spawn(testutil::toolArgv("raidc-agent-sim", {"serve"}), dir_ + "/agent.out");
        ASSERT_TRUE(poll([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
    };
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
    installNotifyTree("Degraded", "Degraded", "Failed", "Failed", "Critical");
    expectNotifications(expected, 5);
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " trap 5 0xffffffff -s 'disk 3' -s ''"), 0);
    expectNotifications(expected, 6);
    EXPECT_EQ(stop(agent_), 0);
    expectNotifications(expected, 7);
    startAgent();
    expectNotifications(expected, 8);
    kill(sub_, SIGUSR1);
    expectNotifications(expected, 9);
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // nothing more may come
    expectNotifications(expected, 9);

    // The module is listed in the master's sysORTable.
    std::string out;
    testutil::runCommand("snmpwalk -v2c -c public -On unix:" + dir_ + "/snmp .1.3.6.1.2.1.1.9.1.2", &out);
    EXPECT_NE(out.find("OID: .1.3.6.1.4.1.32473\n"), std::string::npos) << out;
}

TEST(SnmpMib, PassesSmilint)
{
    std::string out;
    if (testutil::runCommand("command -v smilint >/dev/null") != 0)
        GTEST_SKIP() << "needs smilint";
    // The SMIv2 base modules come from the system where it has them.
    EXPECT_EQ(testutil::runCommand("SMIPATH=/usr/share/snmp/mibs/ietf:" + kMibDirs +
                                       " smilint -l 3 " RAIDC_SOURCE_DIR "/mib/RAIDC-MIB.txt 2>&1",
                                   &out),
              0);
    EXPECT_EQ(out, "");
}

} // namespace
