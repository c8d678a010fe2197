// The public functions that read or rebuild the cache: each one takes the
// library-wide lock around its worker and nothing more.
#include "../cache/cache.h"
#include "../devmap/devmap.h"
#include "../query/query.h"

using raidc::locked;
namespace q = raidc::query;
namespace dm = raidc::devmap;

extern "C" {

// clang-format off
// Cache and controller parameters.
int RaidC_updateCache(void) noexcept { return locked(raidc_Internal_UpdateCache); }
int RaidC_getCtrlInfo(const char *p, int c, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getCtrlInfo, p, c, s, n, i);
}
int RaidC_getCtrlInfo2(const char *p, int c, string_ptr s, int64_t *i) noexcept
{
    return locked(raidInternal_getCtrlInfo2, p, c, s, i);
}

// Relation queries and identifier conversions.
int RaidC_get_LdIdxList_from_PdIdx(int c, int d, RaidCIdxList **l) noexcept
{
    return locked(raidInternal_get_LdIdxList_from_PdIdx, c, d, l);
}
int RaidC_get_PdIdxList_from_LdIdx(int c, int d, RaidCIdxList **l) noexcept
{
    return locked(raidInternal_get_PdIdxList_from_LdIdx, c, d, l);
}
int RaidC_get_PdIdxList_from_ArrayIdx(int c, int d, RaidCIdxList **l) noexcept
{
    return locked(raidInternal_get_PdIdxList_from_ArrayIdx, c, d, l);
}
int RaidC_get_LdIdxList_from_ArrayIdx(int c, int d, RaidCIdxList **l) noexcept
{
    return locked(raidInternal_get_LdIdxList_from_ArrayIdx, c, d, l);
}
int RaidC_get_ldLayout(int c, int d, RaidCLdDev **l) noexcept { return locked(dm::ldLayout, c, d, l); }
int RaidC_convert_PdId_2_PdIdx(int c, int in, int *out) noexcept { return locked(dm::pdIdToIdx, c, in, out); }
int RaidC_convert_LdId_2_LdIdx(int c, int in, int *out) noexcept { return locked(dm::ldIdToIdx, c, in, out); }
int RaidC_convert_ArrayId_2_ArrayIdx(int c, int in, int *out) noexcept { return locked(dm::arrayIdToIdx, c, in, out); }
int RaidC_convert_PdIdx_2_PdId(int c, int in, int *out) noexcept { return locked(dm::pdIdxToId, c, in, out); }
int RaidC_convert_LdIdx_2_LdId(int c, int in, int *out) noexcept { return locked(dm::ldIdxToId, c, in, out); }
int RaidC_convert_ArrayIdx_2_ArrayId(int c, int in, int *out) noexcept { return locked(dm::arrayIdxToId, c, in, out); }

// Drive queries.
int RaidC_getLDInfo(const char *p, int c, int d, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getLDInfo, p, c, d, s, n, i);
}
int RaidC_getPDInfo(const char *p, int c, int d, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getPDInfo, p, c, d, s, n, i);
}
int RaidC_getPDInfo_snmpExt(const char *p, int c, int nr, unsigned int port, unsigned int dev, char *s,
                            unsigned int n, int64_t *i) noexcept
{
    return locked(q::getPDInfoSnmpExt, p, c, nr, port, dev, s, n, i);
}
int RaidC_getHighestPdNumForCtrl(int c, int64_t *i) noexcept { return locked(q::highestPdNum, c, i); }

// Enclosure queries.
int RaidC_getEncInfo(const char *p, int c, int e, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getEncInfo, p, c, e, s, n, i);
}
int RaidC_getEncProcInfo(const char *p, int c, int e, int pr, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getEncProcInfo, p, c, e, pr, s, n, i);
}
int RaidC_getEncFanInfo(const char *p, int c, int e, int pr, int k, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getEncFanInfo, p, c, e, pr, k, s, n, i);
}
int RaidC_getEncPwrInfo(const char *p, int c, int e, int pr, int k, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getEncPwrInfo, p, c, e, pr, k, s, n, i);
}
int RaidC_getEncTempInfo(const char *p, int c, int e, int pr, int k, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getEncTempInfo, p, c, e, pr, k, s, n, i);
}

// Battery, array, port and status queries.
int RaidC_getBBUInfo(const char *p, int c, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getBBUInfo, p, c, s, n, i);
}
int RaidC_getArrayInfo(const char *p, int c, int d, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getArrayInfo, p, c, d, s, n, i);
}
int RaidC_getPortInfo(const char *p, int c, int d, char *s, unsigned int n, int64_t *i) noexcept
{
    return locked(raidInternal_getPortInfo, p, c, d, s, n, i);
}
int RaidC_getStatusInfo(const char *p, char *s, unsigned int n) noexcept { return locked(q::statusInfo, p, s, n); }

// Counts and controller predicates.
int RaidC_getCtrlsNumber(int64_t *i) noexcept { return locked(q::ctrlsNumber, i); }
int RaidC_getLdsTotalNumber(int64_t *i) noexcept { return locked(q::ldsTotal, i); }
int RaidC_getLdsNumberForCtrl(int c, int64_t *i) noexcept { return locked(q::ldsForCtrl, c, i); }
int RaidC_getEncTotalNumber(int64_t *i) noexcept { return locked(q::encTotal, i); }
int RaidC_getEncNumberForCtrl(int c, int64_t *i) noexcept { return locked(raidinternal_getEnclNumberForCtrl, c, i); }
int RaidC_getPdsTotalNumber(int64_t *i) noexcept { return locked(q::pdsTotal, i); }
int RaidC_getPdsNumberForCtrl(int c, int64_t *i) noexcept { return locked(raidInternal_getPdsNumberForCtrl, c, i); }
int RaidC_getArraysNumberForCtrl(int c, int64_t *i) noexcept
{
    return locked(raidInternal_getArraysNumberForCtrl, c, i);
}
int RaidC_getPortsNumberForCtrl(int c, int64_t *i) noexcept { return locked(raidInternal_getPortsNumberForCtrl, c, i); }
int RaidC_getNvmePdsTotalNumber(int64_t *i) noexcept { return locked(q::nvmeTotal, i); }
int RaidC_getCtrlNvmePdsTotalNumber(int c, int64_t *i) noexcept { return locked(q::nvmeForCtrl, c, i); }
int RaidC_getEncryptedPdsNumberForCtrl(int c, int64_t *i) noexcept
{
    return locked(raidInternal_getEncryptedPdsNumberForCtrl, c, i);
}
int RaidC_getFailedPdsNumberForCtrl(int c, int64_t *f, int64_t *s) noexcept
{
    return locked(raidInternal_getFailedPdsNumberForCtrl, c, f, s);
}
int RaidC_getDegradedLdsNumberForCtrl(int c, int64_t *i) noexcept
{
    return locked(raidInternal_getDegradedLdsNumberForCtrl, c, i);
}
int RaidC_CtrlHasBBU(int c) noexcept { return locked(q::ctrlHasBBU, c); }
int RaidC_CtrlCanBeConfigured(int c) noexcept { return locked(q::ctrlCanBeConfigured, c); }
int RaidC_getCacheStatus(void) noexcept { return locked(q::cacheStatus); }

// Maximum temperatures.
int RaidC_getCtrlMaxTemperature(int c, int64_t *m) noexcept { return locked(q::ctrlMaxTemperature, c, m); }
int RaidC_getPdMaxTemperature(int c, int64_t *m) noexcept { return locked(q::pdMaxTemperature, c, m); }
int RaidC_getHDDMaxTemperature(int c, int64_t *m) noexcept { return locked(q::hddMaxTemperature, c, m); }
int RaidC_getSSDMaxTemperature(int c, int64_t *m) noexcept { return locked(q::ssdMaxTemperature, c, m); }
int RaidC_getNVMeMaxTemperature(int c, int64_t *m) noexcept { return locked(q::nvmeMaxTemperature, c, m); }
int RaidC_getBBUMaxTemperature(int c, int64_t *m) noexcept { return locked(q::bbuMaxTemperature, c, m); }
int RaidC_getProcMaxTemperature(int c, int64_t *m) noexcept { return locked(q::procMaxTemperature, c, m); }

// Enclosure information structure and fixed-layout records.
RaidCEncInfo *RaidC_getEncInfoStructure(int c, int e) noexcept { return locked(q::encInfoStructure, c, e); }
void RaidC_freeEncInfoStructure(RaidCEncInfo *info) noexcept { locked(q::freeEncInfoStructure, info); }
int32_t RaidC_LoadCtrlInfo(int c, RaidCCtrlInfo *r) noexcept { return locked(q::loadCtrlInfo, c, r); }
int32_t RaidC_LoadPdlInfo(int c, int d, RaidCPdInfo *r) noexcept { return locked(q::loadPdInfo, c, d, r); }
int32_t RaidC_LoadLdInfo(int c, int d, RaidCLdInfo *r) noexcept { return locked(q::loadLdInfo, c, d, r); }
int32_t RaidC_LoadEncInfo(int c, int e, RaidCEncInfo *r) noexcept { return locked(q::loadEncInfo, c, e, r); }
int32_t RaidC_LoadBbuInfo(int c, RaidCBbuInfo *r) noexcept { return locked(q::loadBbuInfo, c, r); }
// clang-format on

} // extern "C"
