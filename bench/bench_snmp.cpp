// The physical drive table of the 8x1000 tree through SNMP: a full
// snmpbulkwalk against a private snmpd with raidc-snmp behind it, against the
// same values read with the library's public queries in this process. Both
// report wall time per value (varbind); compare them as a ratio.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const char *const kPdTable = ".1.3.6.1.4.1.32473.1.3"; // RAIDC-MIB::raidcPdTable

std::string output(const std::string &cmd)
{
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        out = benchutil::readStream(p);
        pclose(p);
    }
    return out;
}

// snmpd and raidc-snmp, both as daemons, in a folder of their own; started
// once for the program and stopped when it ends.
class Agents {
public:
    Agents()
    {
        char tmpl[] = "/tmp/raidc-bench-snmp-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("SNMPCONFPATH", dir_.c_str(), 1);
        setenv("SNMP_PERSISTENT_DIR", dir_.c_str(), 1);
        setenv("MIBS", "", 1);
        port_ = 20000 + getpid() % 20000;
        std::ofstream(dir_ + "/snmpd.conf") << "master agentx\nagentXSocket " << dir_ << "/agentx\n"
                                            << "agentaddress udp:127.0.0.1:" << port_ << "\n"
                                            << "rocommunity public 127.0.0.1\n";
        std::string start = "snmpd -C -c $D/snmpd.conf -p $D/snmpd.pid -Lf $D/snmpd.log && " RAIDC_TOOLS_DIR
                            "/raidc-snmp -x $D/agentx -p $D/sub.pid -Lf $D/sub.log";
        if (system(("D=" + dir_ + "; " + start).c_str()) != 0)
            return;
        ok_ = waitFor([&] { return controllers() != ""; });
    }
    ~Agents()
    {
        for (const char *pid : {"/sub.pid", "/snmpd.pid"}) {
            FILE *f = fopen((dir_ + pid).c_str(), "r");
            int n = 0;
            if (f && fscanf(f, "%d", &n) == 1 && n > 0)
                kill(n, SIGTERM);
            if (f)
                fclose(f);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        system(("rm -rf " + dir_).c_str());
    }

    bool ok() const { return ok_; }

    // RAIDC-MIB::raidcCtrlCount.0, "" while nobody answers it.
    std::string controllers()
    {
        std::string out = client("snmpget", ".1.3.6.1.4.1.32473.1.1.1.0");
        size_t eq = out.find(" = ");
        if (eq == std::string::npos || out.find("No Such") != std::string::npos)
            return "";
        return out.substr(eq + 3, out.find('\n') - eq - 3);
    }

    std::string client(const char *tool, const std::string &args)
    {
        return output(std::string(tool) + " -v2c -c public -t 5 -r 0 -OQn 127.0.0.1:" + std::to_string(port_) + " " +
                      args + " 2>&1");
    }

    template <class F> static bool waitFor(F done)
    {
        for (int i = 0; i < 200; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    std::string dir_;
    int port_ = 0;
    bool ok_ = false;
};

size_t lines(const std::string &s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

void perValue(benchmark::State &state, size_t values)
{
    state.counters["values"] = static_cast<double>(values);
    state.counters["time_per_value"] = benchmark::Counter(
        static_cast<double>(values), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SnmpBulkwalkPdTable(benchmark::State &state)
{
    if (access(RAIDC_TOOLS_DIR "/raidc-snmp", X_OK) != 0 || system("command -v snmpd snmpbulkwalk >/dev/null") != 0) {
        state.SkipWithError("needs raidc-snmp, snmpd and snmpbulkwalk");
        return;
    }
    benchutil::installTree(benchutil::treeText(8, 1000));
    static Agents agents;
    if (!agents.ok() || !Agents::waitFor([] { return agents.controllers() == "8"; })) {
        state.SkipWithError("the agents did not start");
        return;
    }
    std::string repetitions = "-Cr" + std::to_string(state.range(0)) + " ";
    size_t varbinds = 0;
    for (auto _ : state)
        varbinds = lines(agents.client("snmpbulkwalk", repetitions + kPdTable));
    if (varbinds != 8000 * 14)
        state.SkipWithError("the walk did not return the whole table");
    perValue(state, varbinds);
}
BENCHMARK(BM_SnmpBulkwalkPdTable)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The same 14 values per drive, one public query (one lock hold) each.
void BM_LibraryPdTableValues(benchmark::State &state)
{
    benchutil::loadTree(8, 1000);
    struct Mapped {
        const char *param;
        int (*mapper)(const char *, int32_t *);
    };
    const Mapped texts[] = {{"Type", mibMapper_getPdInterface},
                            {"MediaType", mibMapper_getPdDeviceType},
                            {"Status", mibMapper_getPdStatusEx},
                            {"PowerStatus", mibMapper_getPdPowerStatus},
                            {"ForeignConfig", mibMapper_getPdForeignConfig},
                            {"RPM", nullptr},
                            {"SerialNumber", nullptr},
                            {"Vendor", nullptr},
                            {"Product", nullptr}};
    const char *const numbers[] = {"PortNumber", "DeviceNumber", "PhysicalSize", "Temperature"};
    size_t values = 0;
    for (auto _ : state) {
        values = 0;
        int64_t ctrls = 0;
        RaidC_getCtrlsNumber(&ctrls);
        for (int c = 0; c < ctrls; ++c) {
            int64_t drives = 0;
            RaidC_getPdsNumberForCtrl(c, &drives);
            for (int d = 0; d < drives; ++d) {
                int id = -1;
                RaidC_convert_PdIdx_2_PdId(c, d, &id);
                benchmark::DoNotOptimize(id);
                for (const char *p : numbers) {
                    int64_t v = -1;
                    RaidC_getPDInfo(p, c, d, nullptr, 0, &v);
                    benchmark::DoNotOptimize(v);
                }
                for (const Mapped &m : texts) {
                    char text[RAIDC_VENDOR_LEN];
                    int32_t v = 0;
                    RaidC_getPDInfo(m.param, c, d, text, sizeof text, nullptr);
                    if (m.mapper)
                        m.mapper(text, &v);
                    benchmark::DoNotOptimize(text);
                    benchmark::DoNotOptimize(v);
                }
                values += 14;
            }
        }
    }
    perValue(state, values);
}
BENCHMARK(BM_LibraryPdTableValues)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
