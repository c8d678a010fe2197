#include "health.h"

#include "cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <strings.h>

namespace health {

namespace {

Value count(int (*fn)(int, int64_t *), int c)
{
    Value v;
    v.known = fn(c, &v.value) == RAIDC_SUCCESS_INT;
    return v;
}

void walkEnclosure(Visitor &v, int c, int e, const RaidCEncInfo &enc)
{
    v.enclosure(c, e, enc);
    for (int p = 0; enc.Processors && p < enc.ProcessorCount; ++p) {
        const RaidCEncProcInfo &pr = enc.Processors[p];
        v.processor(c, e, p, pr);
        for (int k = 0; pr.Fans && k < pr.FanCount; ++k)
            v.fan(c, e, p, k, pr.Fans[k]);
        for (int k = 0; pr.PowerSupplies && k < pr.PowerSupplyCount; ++k)
            v.powerSupply(c, e, p, k, pr.PowerSupplies[k]);
        for (int k = 0; pr.TempSensors && k < pr.TempSensorCount; ++k)
            v.sensor(c, e, p, k, pr.TempSensors[k]);
    }
}

void walkController(Visitor &v, int c)
{
    Controller ctrl;
    ctrl.index = c;
    ctrl.present = RaidC_LoadCtrlInfo(c, &ctrl.info) == 1;
    ctrl.pds = count(RaidC_getPdsNumberForCtrl, c);
    ctrl.lds = count(RaidC_getLdsNumberForCtrl, c);
    ctrl.encs = count(RaidC_getEncNumberForCtrl, c);
    ctrl.nvme = count(RaidC_getCtrlNvmePdsTotalNumber, c);
    ctrl.encrypted = count(RaidC_getEncryptedPdsNumberForCtrl, c);
    ctrl.degraded = count(RaidC_getDegradedLdsNumberForCtrl, c);
    bool counted = RaidC_getFailedPdsNumberForCtrl(c, &ctrl.failed.value, &ctrl.smart.value) == RAIDC_SUCCESS_INT;
    ctrl.failed.known = ctrl.smart.known = counted;
    for (int k = 0; k < kTempClassCount; ++k) {
        Value &t = ctrl.temps[k];
        int st = kTempClasses[k].query(c, &t.value);
        // An external controller still reports the hottest drive it found.
        t.known = st == RAIDC_SUCCESS_INT || (st == RAIDC_DEVICE_EXTERN && t.value > 0);
    }
    ctrl.hasBattery = RaidC_CtrlHasBBU(c) == 1;
    v.controller(ctrl);

    for (int d = 0; d < ctrl.lds.value; ++d) {
        RaidCLdInfo ld;
        if (RaidC_LoadLdInfo(c, d, &ld) == 1)
            v.logicalDrive(c, d, ld);
    }
    for (int d = 0; d < ctrl.pds.value; ++d) {
        RaidCPdInfo pd;
        if (RaidC_LoadPdlInfo(c, d, &pd) == 1)
            v.physicalDrive(c, d, pd);
    }
    RaidCBbuInfo bbu;
    if (ctrl.hasBattery && RaidC_LoadBbuInfo(c, &bbu) == 1)
        v.battery(c, bbu);
    for (int e = 0; e < ctrl.encs.value; ++e) {
        std::unique_ptr<RaidCEncInfo, void (*)(RaidCEncInfo *)> enc(RaidC_getEncInfoStructure(c, e),
                                                                    RaidC_freeEncInfoStructure);
        if (enc && RaidC_LoadEncInfo(c, e, enc.get()) == 1)
            walkEnclosure(v, c, e, *enc);
    }
}

} // namespace

bool walk(Visitor &v, std::string *why)
{
    int r = RaidC_updateCache();
    if (r != RAIDC_UPDATE_OK) {
        *why = std::string(RAIDC_DEVICE_TREE_PATH) + ": " + cli::updateResultText(r);
        return false;
    }
    int64_t n = 0;
    int st = RaidC_getCtrlsNumber(&n);
    if (st != RAIDC_SUCCESS_INT) {
        *why = std::string("controllers cannot be counted: ") + RaidC_AccessStatusToString(st);
        return false;
    }
    for (int c = 0; c < n; ++c)
        walkController(v, c);
    return true;
}

namespace {

// A whole number or decimal bound; false for anything else.
bool bound(const std::string &s, double *out)
{
    if (s.empty() || isspace(static_cast<unsigned char>(s[0])))
        return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(s.c_str(), &end);
    if (errno || *end || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

std::string number(double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

bool Range::parse(const std::string &t)
{
    *this = Range();
    text = t;
    std::string r = t;
    if (!r.empty() && r[0] == '@') {
        inside = true;
        r.erase(0, 1);
    }
    size_t colon = r.find(':');
    if (colon == std::string::npos) {
        hasLow = hasHigh = true;
        return bound(r, &high) && high >= 0;
    }
    std::string lo = r.substr(0, colon), hi = r.substr(colon + 1);
    if (lo.empty())
        hasLow = true; // ":N" starts at 0, as "N" does
    else if (lo != "~" && !(hasLow = bound(lo, &low)))
        return false;
    if (!hi.empty() && !(hasHigh = bound(hi, &high)))
        return false;
    return (hasLow || hasHigh || lo == "~") && !(hasLow && hasHigh && low > high);
}

bool Range::alerts(double v) const
{
    bool in = (!hasLow || v >= low) && (!hasHigh || v <= high);
    return inside ? in : !in;
}

std::string Range::reason(double v) const
{
    if (!inside)
        return hasHigh && v > high ? "above " + number(high) : "below " + number(low);
    if (!hasHigh)
        return "at " + number(hasLow ? low : v);
    if (!hasLow)
        return "at most " + number(high);
    return "between " + number(low) + " and " + number(high);
}

Range atLeast(int64_t n)
{
    Range r;
    std::string text = "@";
    r.parse(text.append(std::to_string(n)).append(":"));
    return r;
}

std::string ageText(long long s)
{
    if (s < 120)
        return std::to_string(s) + " s";
    if (s < 120 * 60)
        return std::to_string(s / 60) + " min";
    if (s < 48 * 3600)
        return std::to_string(s / 3600) + " h";
    return std::to_string(s / 86400) + " days";
}

std::string utcText(time_t t)
{
    struct tm tm;
    char buf[64];
    if (!gmtime_r(&t, &tm) || !strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm))
        return "-";
    return buf;
}

bool isOk(const std::string &status)
{
    return strcasecmp(status.c_str(), "OK") == 0;
}

std::string validUtf8(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char b = p[i];
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        bool ok = len && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k)
            ok = (p[i + k] & 0xC0) == 0x80;
        if (ok && len > 1) {
            // Overlong forms, surrogates and code points past U+10FFFF.
            uint32_t cp = b & (0x7F >> len);
            for (size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
            static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok && b != 0) {
            out.append(s, i, len);
            i += len;
        } else {
            out += '?';
            i++;
        }
    }
    return out;
}

} // namespace health
