// check: RAID health for Nagios, Icinga and the like. One status line that
// names what is wrong, then "|" and performance data; the exit status is
// the plugin state (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN).
#include "cli.h"
#include "health.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace cli;

namespace {

enum State { OK = 0, WARNING = 1, CRITICAL = 2, UNKNOWN = 3 };
const char *const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// How many problems the status line names before "and N more".
constexpr size_t kShownProblems = 5;

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
    explicit Check(const int64_t (&warn)[health::kTempClassCount]) : warn_(warn) {}

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
            if (v.known && judged && v.value >= warn_[k])
                add(WARNING, at + " " + t.label + " temperature " + std::to_string(v.value) + " (warning at " +
                                 std::to_string(warn_[k]) + ")");
            // The warning range "@N:" is "N or more", the rule applied here.
            std::string range = std::to_string(warn_[k]);
            range.insert(range.begin(), '@');
            range.push_back(':');
            perf(c, std::string(t.key) + "_temp", v, range, "", nullptr);
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
        std::string at = "controller " + std::to_string(c) + " " + raidcnames::name(raidcnames::Device::LogicalDrive).text +
                         " " + std::to_string(d);
        status(where(at, health::text(ld.Name)), health::text(ld.Status));
    }

    void physicalDrive(int c, int d, const RaidCPdInfo &pd) override
    {
        std::string s = health::text(pd.Status);
        std::string at =
            where("controller " + std::to_string(c) + " " + raidcnames::name(raidcnames::Device::PhysicalDrive).text +
                      " " + std::to_string(d),
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
    void processor(int c, int e, int p, const RaidCEncProcInfo &pr) override
    {
        part(at(c, e, p), pr.Name, pr.Status);
    }
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
        if (ctrls_ == 0 && !allowNoControllers) {
            printf("RAID UNKNOWN - no RAID controllers in the device tree\n");
            return UNKNOWN;
        }
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
        printf("%s |%s\n", line.c_str(), perf_.c_str());
        if (verbose)
            for (const Problem &p : sorted)
                printf("%s: %s\n", kStateNames[p.state], p.text.c_str());
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
    void perf(const health::Controller &c, const std::string &label, const health::Value &v,
              const std::string &warn, const char *crit, const health::Value *max)
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

    const int64_t (&warn_)[health::kTempClassCount];
    std::vector<Problem> problems_;
    std::string perf_;
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

int check(const Args &a)
{
    if (!a.pos.empty() || a.json || a.asInt || a.pretty || !a.strings.empty())
        return badUsage("check takes only options");
    // --warn-temp sets every class; a class's own option wins over it.
    int64_t warn[health::kTempClassCount];
    bool own[health::kTempClassCount] = {};
    health::Value all;
    bool allowNone = false;
    for (const auto &[name, value] : a.options) {
        if (name == "allow-no-controllers") {
            if (!value.empty())
                return badUsage("--allow-no-controllers takes no value");
            allowNone = true;
            continue;
        }
        int k = 0;
        while (k < health::kTempClassCount && name != std::string("warn-temp-") + health::kTempClasses[k].key)
            ++k;
        if (k == health::kTempClassCount && name != "warn-temp")
            return badUsage("unknown option --" + name);
        int64_t v;
        if (!toInt64(value, &v))
            return badUsage("--" + name + " needs a whole number of degrees, not '" + value + "'");
        if (k < health::kTempClassCount) {
            warn[k] = v;
            own[k] = true;
        } else {
            all = {true, v};
        }
    }
    for (int k = 0; k < health::kTempClassCount; ++k)
        if (!own[k])
            warn[k] = all.known ? all.value : health::kTempClasses[k].warnDefault;
    Check c(warn);
    c.verbose = a.verbose;
    c.allowNoControllers = allowNone;
    std::string why;
    if (!health::walk(c, &why)) {
        printf("RAID UNKNOWN - %s\n", plain(why).c_str());
        return UNKNOWN;
    }
    return c.finish();
}

// A status line that cannot be written is UNKNOWN too.
Register r({"check",
            "[--warn-temp N] [--warn-temp-ctrl|pd|hdd|ssd|nvme|bbu|proc N] [--allow-no-controllers] [--verbose]",
            "RAID health as a monitoring plugin: status line, perfdata, exit 0/1/2/3", check,
            "warn-temp= warn-temp-*= allow-no-controllers verbose v", 0, 0, UNKNOWN,
            [](const char *why) { return badUsage(why); }});

} // namespace
