// check: RAID health for Nagios, Icinga and the like. One status line that
// names what is wrong, then "|" and performance data; the exit status is
// the plugin state (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN).
#include "cli.h"
#include "health.h"
#include "liveness.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace cli;

namespace {

enum State { OK = 0, WARNING = 1, CRITICAL = 2, UNKNOWN = 3 };
const char *const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// How many problems the status line names before "and N more".
constexpr size_t kShownProblems = 5;

// Temperature thresholds per class, and how the agent and the tree's age
// are judged.
struct Thresholds {
    health::Range warn[health::kTempClassCount], crit[health::kTempClassCount];
    State agentDown = WARNING; // OK: ignored
    long long maxAge = 0;      // seconds; 0: the age is not judged
};

struct Problem {
    State state;
    std::string text;
};

// A device tree text made safe for plugin output: "|" starts the
// performance data and a line break ends the status line.
std::string plain(const std::string &s)
{
    std::string out = health::validUtf8(s);
    for (char &ch : out) {
        if (ch == '|')
            ch = '/';
        else if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = ' ';
    }
    return out;
}

// "controller 0 drive 3 (SAS SSD 3)": where, and the device's own name.
std::string where(const std::string &place, const std::string &name)
{
    return name.empty() || name == "-" ? place : place + " (" + plain(name) + ")";
}

std::string counted(int64_t n, const char *what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

bool has(const std::string &s, const char *part)
{
    return s.find(part) != std::string::npos;
}

class Check : public health::Visitor {
public:
    explicit Check(const Thresholds &limits) : limits_(limits) {}

    // Judged before the devices, so that at the same state these problems
    // come first: they tell how far the rest can be trusted.
    void liveness(raidchealth::AgentState agent, const raidchealth::TreeAge &tree)
    {
        using raidchealth::AgentState;
        std::string written =
            tree.exists ? "device tree written " + health::ageText(tree.ageSeconds) + " ago" : "no device tree";
        if (agent == AgentState::Down && limits_.agentDown != OK)
            add(limits_.agentDown, "RAID agent not answering (" + written + ")");
        long long max = limits_.maxAge;
        if (tree.exists && max > 0 && tree.ageSeconds > max) {
            bool critical = tree.ageSeconds > 2 * max;
            add(critical ? CRITICAL : WARNING, written + (critical ? " (critical above " : " (warning above ") +
                                                   std::to_string(critical ? 2 * max : max) + " s)");
        }
        // 'agent_up'=1;1:;;0;1 says where a 0 alerts; an unknown answer is left out.
        if (agent != AgentState::Unknown) {
            const char *alert = limits_.agentDown == WARNING ? "1:;" : limits_.agentDown == CRITICAL ? ";1:" : ";";
            livePerf_ += std::string(" 'agent_up'=") + (agent == AgentState::Up ? "1;" : "0;") + alert + ";0;1";
        }
        if (tree.exists) {
            std::string w = max > 0 ? std::to_string(max) : "", c = max > 0 ? std::to_string(2 * max) : "";
            livePerf_ += " 'tree_age'=" + std::to_string(tree.ageSeconds) + "s;" + w + ";" + c + ";0";
        }
        info_ =
            "agent: " + std::string(raidchealth::agentStateName(agent)) + "\ndevice tree: " +
            (tree.exists ? "written " + health::utcText(tree.mtime) + ", " + health::ageText(tree.ageSeconds) + " ago"
                         : "missing");
    }

    // The state when the tree cannot be judged: UNKNOWN, naming the agent's
    // and the age's problems after the reason.
    int unknown(const std::string &why) const
    {
        std::string line = "RAID UNKNOWN - " + plain(why);
        for (const Problem &p : problems_)
            line += "; " + p.text;
        printf("%s\n", line.c_str());
        return UNKNOWN;
    }

    void controller(const health::Controller &c) override
    {
        std::string at = "controller " + std::to_string(c.index);
        if (!c.present)
            add(WARNING, at + ": cannot be read");
        else
            status(where(at, health::text(c.info.Name)), health::text(c.info.Status));
        // The all-drives class comes after HDD and SSD and judges only a
        // hottest drive that is neither: the others have their own limits.
        int64_t mediaMax = INT64_MIN;
        for (int k = 0; k < health::kTempClassCount; ++k) {
            const health::TempClass &t = health::kTempClasses[k];
            const health::Value &v = c.temps[k];
            bool judged = strcmp(t.key, "pd") != 0 || v.value > mediaMax;
            if (v.known && (!strcmp(t.key, "hdd") || !strcmp(t.key, "ssd")))
                mediaMax = std::max(mediaMax, v.value);
            const health::Range &w = limits_.warn[k], &cr = limits_.crit[k];
            double d = static_cast<double>(v.value);
            std::string hot = at + " " + t.label + " temperature " + std::to_string(v.value);
            if (v.known && judged && cr.alerts(d))
                add(CRITICAL, hot + " (critical " + cr.reason(d) + ")");
            else if (v.known && judged && w.alerts(d))
                add(WARNING, hot + " (warning " + w.reason(d) + ")");
            perf(c, std::string(t.key) + "_temp", v, w.text, cr.text.c_str(), nullptr);
        }
        const health::Value none;
        perf(c, "pds", c.pds, "", "", &none);
        perf(c, "pds_failed", c.failed, "", "0", &c.pds);
        perf(c, "pds_smart", c.smart, "0", "", &c.pds);
        perf(c, "lds", c.lds, "", "", &none);
        perf(c, "lds_degraded", c.degraded, "0", "", &c.lds);
        drives_ += c.pds.value;
        lds_ += c.lds.value;
        ctrls_++;
    }

    void logicalDrive(int c, int d, const RaidCLdInfo &ld) override
    {
        std::string at = "controller " + std::to_string(c) + " " +
                         raidcnames::name(raidcnames::Device::LogicalDrive).text + " " + std::to_string(d);
        status(where(at, health::text(ld.Name)), health::text(ld.Status));
    }

    void physicalDrive(int c, int d, const RaidCPdInfo &pd) override
    {
        std::string s = health::text(pd.Status);
        std::string at = where("controller " + std::to_string(c) + " " +
                                   raidcnames::name(raidcnames::Device::PhysicalDrive).text + " " + std::to_string(d),
                               health::text(pd.Name));
        // The same substrings as the library's failed and SMART counts, so
        // that the named drives and the performance data agree.
        if (has(s, "Failed") || s == "-")
            status(at, s);
        else if (has(s, "SMART Error") || has(s, "smart") || has(s, "Rebuilding"))
            add(WARNING, at + ": " + plain(s));
    }

    void battery(int c, const RaidCBbuInfo &b) override
    {
        std::string s = health::text(b.Status);
        if (!health::isOk(s))
            add(WARNING, "controller " + std::to_string(c) + " battery: " + (s == "-" ? "no status" : plain(s)));
    }

    // Enclosure parts have no MIB status; anything but OK is worth a look.
    void enclosure(int c, int e, const RaidCEncInfo &enc) override { part(at(c, e), enc.Name, enc.Status); }
    void processor(int c, int e, int p, const RaidCEncProcInfo &pr) override { part(at(c, e, p), pr.Name, pr.Status); }
    void fan(int c, int e, int p, int k, const RaidCEncFanInfo &f) override
    {
        part(at(c, e, p, " fan ", k), f.Name, f.Status);
    }
    void powerSupply(int c, int e, int p, int k, const RaidCEncPwrInfo &s) override
    {
        part(at(c, e, p, " power supply ", k), s.Name, s.Status);
    }
    void sensor(int c, int e, int p, int k, const RaidCEncTempInfo &t) override
    {
        part(at(c, e, p, " sensor ", k), t.Name, t.Status);
    }

    int finish() const
    {
        // A tree without controllers usually means the agent lost them; a
        // host that has none says so on the command line.
        if (ctrls_ == 0 && !allowNoControllers)
            return unknown("no RAID controllers in the device tree");
        std::vector<Problem> sorted = problems_;
        std::stable_sort(sorted.begin(), sorted.end(), [](auto &a, auto &b) { return a.state > b.state; });
        State worst = sorted.empty() ? OK : sorted.front().state;
        std::string line = std::string("RAID ") + kStateNames[worst] + " - ";
        if (sorted.empty()) {
            line += counted(ctrls_, "controller") + ", " + counted(drives_, "drive") + ", " +
                    counted(lds_, "logical drive");
        }
        for (size_t i = 0; i < sorted.size() && i < kShownProblems; ++i)
            line += (i ? "; " : "") + sorted[i].text;
        if (sorted.size() > kShownProblems)
            line += "; and " + std::to_string(sorted.size() - kShownProblems) + " more";
        printf("%s |%s%s\n", line.c_str(), perf_.c_str(), livePerf_.c_str());
        if (verbose) {
            for (const Problem &p : sorted)
                printf("%s: %s\n", kStateNames[p.state], p.text.c_str());
            printf("%s\n", info_.c_str());
        }
        return worst;
    }

    bool verbose = false;
    bool allowNoControllers = false;

private:
    void add(State s, std::string text) { problems_.push_back({s, std::move(text)}); }

    // "controller 0 enclosure 1 processor 0 fan 2"
    static std::string at(int c, int e, int p = -1, const char *what = nullptr, int k = 0)
    {
        std::string s = "controller " + std::to_string(c) + " enclosure " + std::to_string(e);
        if (p >= 0)
            s += " processor " + std::to_string(p);
        return what ? s + what + std::to_string(k) : s;
    }

    void part(const std::string &at, const char (&name)[RAIDC_TEXT_LEN], const char (&status)[RAIDC_TEXT_LEN])
    {
        std::string s = health::text(status);
        if (s != "-" && !health::isOk(s))
            add(WARNING, where(at, health::text(name)) + ": " + plain(s));
    }

    // Controllers and logical drives: failed is critical, (partially)
    // degraded a warning, a missing status a warning too.
    void status(const std::string &at, const std::string &s)
    {
        if (has(s, "Failed"))
            add(CRITICAL, at + ": " + plain(s));
        else if (has(s, "egraded"))
            add(WARNING, at + ": " + plain(s));
        else if (s == "-")
            add(WARNING, at + ": no status");
    }

    // 'c0_label'=value;warn;crit[;0[;max]], left out when the value is unknown.
    void perf(const health::Controller &c, const std::string &label, const health::Value &v, const std::string &warn,
              const char *crit, const health::Value *max)
    {
        if (!v.known)
            return;
        std::string p = std::to_string(v.value);
        p.append(";").append(warn).append(";").append(crit);
        if (max) {
            p.append(";0");
            if (max->known)
                p.append(";").append(std::to_string(max->value));
        }
        p.resize(p.find_last_not_of(';') + 1);
        perf_.append(" 'c").append(std::to_string(c.index)).append("_").append(label).append("'=").append(p);
    }

    const Thresholds &limits_;
    std::vector<Problem> problems_;
    std::string perf_, livePerf_, info_;
    int64_t ctrls_ = 0, drives_ = 0, lds_ = 0;
};

// Plugins answer a bad command line with UNKNOWN, not with a state that
// could page someone.
int badUsage(const std::string &why)
{
    printf("RAID UNKNOWN - %s\n", plain(why).c_str());
    fprintf(stderr, "usage: raidc %s %s\n", current->name, current->usage);
    return UNKNOWN;
}

int help()
{
    printf("usage: raidc %s %s\n\n%s", current->name, current->usage,
           "RAID health as a monitoring plugin: one status line, performance data after \"|\", and the exit\n"
           "status 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n\n"
           "  -w, --warning [CLASS=]RANGE   temperature warning range, for one class or every class\n"
           "  -c, --critical [CLASS=]RANGE  temperature critical range, likewise\n"
           "      --warn-temp[-CLASS] N     warning at N degrees or more (the range @N:)\n"
           "      --crit-temp[-CLASS] N     critical at N degrees or more\n"
           "      --agent-down STATE        critical, warning (default) or ignore when the RAID agent does not\n"
           "                                answer on its command socket\n"
           "      --max-age SECONDS         warning when the device tree is older, critical past twice that\n"
           "  -t, --timeout SECONDS         UNKNOWN when the check takes longer (default 10)\n"
           "      --allow-no-controllers    a tree without controllers is OK, not UNKNOWN\n"
           "  -v, --verbose                 one line per problem, then the agent's state and the tree's time\n"
           "  -h, --help                    this text\n"
           "  -V, --version                 the version\n\n"
           "RANGE: N alerts outside 0..N, N: below N, ~:N above N, N:M outside N..M, @N:M inside N..M.\n"
           "CLASS: ctrl, hdd, ssd, pd (other drives), nvme, bbu, proc (enclosure processors).\n"
           "Default warning (@N:) and critical thresholds:");
    for (const health::TempClass &t : health::kTempClasses)
        printf(" %s %lld/%lld", t.key, static_cast<long long>(t.warnDefault),
               static_cast<long long>(t.warnDefault + 10));
    printf("\n");
    return OK;
}

// The whole run is bounded: a device tree held locked by a hung writer
// must not hold the monitoring host's check slot. Only async-signal-safe
// calls in the handler; the text is made before the alarm is set.
char timeoutLine[96];
size_t timeoutLength;

void timedOut(int)
{
    ssize_t n = write(STDOUT_FILENO, timeoutLine, timeoutLength);
    static_cast<void>(n);
    _exit(UNKNOWN);
}

void bound(unsigned seconds)
{
    int n = snprintf(timeoutLine, sizeof timeoutLine, "RAID UNKNOWN - no result within %u s (-t)\n", seconds);
    timeoutLength = n > 0 ? static_cast<size_t>(n) : 0;
    struct sigaction sa = {};
    sa.sa_handler = timedOut;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    alarm(seconds);
}

int temperatureClass(const std::string &key)
{
    for (int k = 0; k < health::kTempClassCount; ++k)
        if (key == health::kTempClasses[k].key)
            return k;
    return -1;
}

// The thresholds as given: for every class (index kTempClassCount) or for
// one; a class's own threshold wins over the one for every class.
struct Given {
    bool set[2][health::kTempClassCount + 1] = {};
    health::Range range[2][health::kTempClassCount + 1];

    // "[CLASS=]RANGE" of -w or -c; an empty string when it is fine.
    std::string take(int level, const std::string &option, const std::string &text)
    {
        size_t eq = text.find('=');
        int k = health::kTempClassCount;
        if (eq != std::string::npos && (k = temperatureClass(text.substr(0, eq))) < 0)
            return option + ": no temperature class '" + text.substr(0, eq) + "'";
        health::Range r;
        if (!r.parse(eq == std::string::npos ? text : text.substr(eq + 1)))
            return option + " needs a range such as 50, 10:50, ~:50 or @50:60, not '" + text + "'";
        set[level][k] = true;
        range[level][k] = r;
        return "";
    }
};

int check(const Args &a)
{
    if (a.json || a.asInt || a.pretty || !a.strings.empty())
        return badUsage("check takes only options");
    for (const auto &o : a.options)
        if (o.first == "V" || o.first == "version")
            return printf("raidc check %s (library %s)\n", RAIDC_VERSION_STRING, RaidC_GetVersion()), OK;

    Thresholds limits;
    Given given;
    bool allowNone = false;
    int timeout = 10;
    auto setTimeout = [&](const std::string &v) { return toInt(v, &timeout) && timeout > 0 && timeout <= 86400; };
    for (const auto &[name, value] : a.options) {
        if (name == "allow-no-controllers") {
            if (!value.empty())
                return badUsage("--allow-no-controllers takes no value");
            allowNone = true;
        } else if (name == "V" || name == "version") {
        } else if (name == "warning" || name == "critical" || name == "w" || name == "c") {
            std::string opt = name.size() == 1 ? "-" + name : "--" + name;
            if (std::string why = given.take(name[0] == 'c', opt, value); !why.empty())
                return badUsage(why);
        } else if (name == "timeout" || name == "t") {
            if (!setTimeout(value))
                return badUsage("-t needs whole seconds from 1 to 86400, not '" + value + "'");
        } else if (name == "agent-down") {
            if (value == "warning" || value == "critical" || value == "ignore")
                limits.agentDown = value == "warning" ? WARNING : value == "critical" ? CRITICAL : OK;
            else
                return badUsage("--agent-down takes critical, warning or ignore, not '" + value + "'");
        } else if (name == "max-age") {
            int64_t v;
            if (!toInt64(value, &v) || v <= 0 || v > INT64_MAX / 4)
                return badUsage("--max-age needs a positive number of seconds, not '" + value + "'");
            limits.maxAge = v;
        } else {
            // --warn-temp N, --warn-temp-CLASS N and the same for crit.
            bool crit = name.rfind("crit-temp", 0) == 0;
            if (!crit && name.rfind("warn-temp", 0) != 0)
                return badUsage("unknown option --" + name);
            int k = health::kTempClassCount;
            if (name.size() > 9 && (name[9] != '-' || (k = temperatureClass(name.substr(10))) < 0))
                return badUsage("unknown option --" + name);
            int64_t v;
            if (!toInt64(value, &v))
                return badUsage("--" + name + " needs a whole number of degrees, not '" + value + "'");
            given.set[crit][k] = true;
            given.range[crit][k] = health::atLeast(v);
        }
    }
    for (int k = 0; k < health::kTempClassCount; ++k) {
        for (int level = 0; level < 2; ++level) {
            const int all = health::kTempClassCount;
            int from = given.set[level][k] ? k : given.set[level][all] ? all : -1;
            int64_t dflt = health::kTempClasses[k].warnDefault + 10 * level;
            (level ? limits.crit : limits.warn)[k] = from >= 0 ? given.range[level][from] : health::atLeast(dflt);
        }
    }

    bound(static_cast<unsigned>(timeout));
    Check c(limits);
    c.verbose = a.verbose;
    c.allowNoControllers = allowNone;
    c.liveness(raidchealth::probeAgent(), raidchealth::treeAge());
    std::string why;
    bool read = health::walk(c, &why);
    alarm(0); // from here on only the output is left
    return read ? c.finish() : c.unknown(why);
}

// A status line that cannot be written is UNKNOWN too.
Register r({"check",
            "[-w|-c [CLASS=]RANGE]... [--agent-down critical|warning|ignore] [--max-age SECONDS] [-t SECONDS] "
            "[--allow-no-controllers] [-v] [-h|-V]",
            "RAID health as a monitoring plugin: status line, perfdata, exit 0/1/2/3", check,
            "w= c= t= V version warning= critical= timeout= agent-down= max-age= warn-temp= warn-temp-*= crit-temp= "
            "crit-temp-*= allow-no-controllers verbose v",
            0, 0, UNKNOWN, [](const char *why) { return badUsage(why); }, help});

} // namespace
