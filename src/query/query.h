// Component queries, counts, maximum temperatures, the enclosure record tree
// and the fixed-layout records. The exported raidInternal_ workers are
// declared in the public header; these are the bodies of the public
// functions that lock and work inline.
#pragma once

#include "raidcommon.h"

namespace raidc::query {

int getPDInfoSnmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber,
                     unsigned int deviceNumber, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept;
int highestPdNum(int ctrlIdx, int64_t *intOut) noexcept;
int statusInfo(const char *paramName, char *strBuf, unsigned int bufLen) noexcept;

int ctrlsNumber(int64_t *intOut) noexcept;
int ldsTotal(int64_t *intOut) noexcept;
int ldsForCtrl(int ctrlIdx, int64_t *intOut) noexcept;
int encTotal(int64_t *intOut) noexcept;
int pdsTotal(int64_t *intOut) noexcept;
int nvmeTotal(int64_t *intOut) noexcept;
int nvmeForCtrl(int ctrlIdx, int64_t *intOut) noexcept;
int ctrlHasBBU(int ctrlIdx) noexcept;
int ctrlCanBeConfigured(int ctrlIdx) noexcept;
int cacheStatus() noexcept;

int ctrlMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int pdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int hddMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int ssdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int nvmeMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int bbuMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int procMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;

RaidCEncInfo *encInfoStructure(int ctrlIdx, int encIdx) noexcept;
void freeEncInfoStructure(RaidCEncInfo *info) noexcept;

int32_t loadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) noexcept;
int32_t loadPdInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept;
int32_t loadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept;
int32_t loadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept;
int32_t loadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept;

} // namespace raidc::query
