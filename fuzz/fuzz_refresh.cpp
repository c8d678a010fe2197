// Arbitrary bytes as the device tree file: refresh, then walk every query
// over whatever got cached, as an SNMP agent would.
#include "raidcommon.h"
#include "treefile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const char *const kParams[] = {"Name",       "Status",  "Temperature",     "Type",   "MediaType", "RPM", "DeviceNumber",
                               "PortNumber", "Product", "EnclosureNumber", "CtrlId", "NoSuch"};

void params(int (*q)(const char *, int, int, char *, unsigned int, int64_t *), int c, int d)
{
    char buf[128];
    int64_t v;
    for (const char *p : kParams) {
        q(p, c, d, buf, sizeof buf, nullptr);
        q(p, c, d, nullptr, 0, &v);
    }
}

void walk()
{
    int64_t n = 0, m = 0, f = 0, s = 0;
    char buf[128];
    RaidC_getCacheStatus();
    RaidC_getStatusInfo("Status", buf, sizeof buf);
    RaidC_getPdsTotalNumber(&n);
    RaidC_getNvmePdsTotalNumber(&n);
    if (RaidC_getCtrlsNumber(&n) != RAIDC_SUCCESS_INT)
        return;
    for (int c = 0; c < n + 1; ++c) {
        int64_t v;
        RaidC_getCtrlInfo("HostName", c, buf, sizeof buf, nullptr);
        RaidC_getCtrlInfo("Spec_MaxChannelInUse", c, nullptr, 0, &v);
        RaidC_getCtrlInfo("ChipTemperature", c, nullptr, 0, &v);
        string_t caps;
        string_init(caps);
        RaidC_getCtrlInfo2("RAIDCapabilities", c, caps, nullptr);
        string_clear(caps);
        RaidC_CtrlHasBBU(c);
        RaidC_CtrlCanBeConfigured(c);
        RaidC_getFailedPdsNumberForCtrl(c, &f, &s);
        RaidC_getDegradedLdsNumberForCtrl(c, &v);
        RaidC_getEncryptedPdsNumberForCtrl(c, &v);
        RaidC_getHighestPdNumForCtrl(c, &v);
        for (auto t : {RaidC_getCtrlMaxTemperature, RaidC_getPdMaxTemperature, RaidC_getHDDMaxTemperature,
                       RaidC_getSSDMaxTemperature, RaidC_getNVMeMaxTemperature, RaidC_getBBUMaxTemperature,
                       RaidC_getProcMaxTemperature})
            t(c, &v);
        RaidCCtrlInfo ci;
        RaidC_LoadCtrlInfo(c, &ci);
        RaidCBbuInfo bi;
        RaidC_LoadBbuInfo(c, &bi);
        RaidC_getBBUInfo("Status", c, buf, sizeof buf, nullptr);

        RaidCIdxList *list = nullptr;
        m = 0;
        RaidC_getPdsNumberForCtrl(c, &m);
        for (int d = 0; d < m + 1 && d < 64; ++d) {
            params(RaidC_getPDInfo, c, d);
            RaidCPdInfo pi;
            RaidC_LoadPdlInfo(c, d, &pi);
            RaidC_get_LdIdxList_from_PdIdx(c, d, &list);
            int id = 0, idx = 0;
            if (RaidC_convert_PdIdx_2_PdId(c, d, &id) == 0)
                RaidC_convert_PdId_2_PdIdx(c, id, &idx);
        }
        m = 0;
        RaidC_getLdsNumberForCtrl(c, &m);
        for (int d = 0; d < m + 1 && d < 64; ++d) {
            params(RaidC_getLDInfo, c, d);
            RaidCLdInfo li;
            RaidC_LoadLdInfo(c, d, &li);
            RaidC_get_PdIdxList_from_LdIdx(c, d, &list);
            RaidCLdDev *layout = nullptr;
            RaidC_get_ldLayout(c, d, &layout);
        }
        m = 0;
        RaidC_getArraysNumberForCtrl(c, &m);
        for (int d = 0; d < m + 1 && d < 64; ++d) {
            params(RaidC_getArrayInfo, c, d);
            RaidC_get_PdIdxList_from_ArrayIdx(c, d, &list);
            RaidC_get_LdIdxList_from_ArrayIdx(c, d, &list);
        }
        m = 0;
        RaidC_getPortsNumberForCtrl(c, &m);
        for (int d = 0; d < m + 1 && d < 64; ++d)
            params(RaidC_getPortInfo, c, d);
        RaidC_freeDeviceList(&list);
        m = 0;
        RaidC_getEncNumberForCtrl(c, &m);
        for (int e = 0; e < m + 1 && e < 16; ++e) {
            params(RaidC_getEncInfo, c, e);
            RaidC_getEncTempInfo("Temperature", c, e, 0, 0, nullptr, 0, &v);
            RaidC_getEncFanInfo("Status", c, e, 0, 1, buf, sizeof buf, nullptr);
            RaidC_getEncPwrInfo("Status", c, e, 1, 0, buf, sizeof buf, nullptr);
            RaidC_getEncProcInfo("Product", c, e, 0, buf, sizeof buf, nullptr);
            RaidCEncInfo *tree = RaidC_getEncInfoStructure(c, e);
            if (tree) {
                RaidC_LoadEncInfo(c, e, tree);
                RaidC_freeEncInfoStructure(tree);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    treefile::install(data, size);
    if (RaidC_updateCache() == 0)
        walk();
    return 0;
}
