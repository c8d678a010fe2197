// TEMPORARY: weak placeholders for functions whose subsystems are not in yet.
// Every real definition overrides its placeholder; this file goes once all are in.
#include "raidcommon.h"
#include "query/query.h"
#include "devmap/devmap.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define W __attribute__((weak))
extern "C" {
W void libraidcommon_init(void) noexcept {  }
W void libraidcommon_fini(void) noexcept {  }
W const char * RaidC_AccessStatusToString(int status) noexcept { return nullptr; }
W int RaidC_forTest(void) noexcept { return 0; }
W void Print_NSDecl(NSDecl *decl, const char *indent, int recurse) noexcept {  }
W void Print_xmlNode(XMLNode *node, const char *indent, int recurse) noexcept {  }
W void Print_xmlDoc(XMLDoc *doc) noexcept {  }
W void Print_xmlNodeList(NodeList *list, const char *indent, int recurse) noexcept {  }
W int RaidC_updateCache(void) noexcept { return 0; }
W int raidc_Internal_UpdateCache(void) noexcept { return 0; }
W NodeList * raidInternal_getCtrlList(XMLNode *node) noexcept { return nullptr; }
W NodeList * raidInternal_getPdList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getLdList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getEncList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getArrayList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getPortList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getProcessorList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W NodeList * raidInternal_getBatteryList(NodeList *ctrls, int ctrlIdx) noexcept { return nullptr; }
W int RaidC_getCtrlInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getCtrlInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_checkIfContainsLetters(const char *text) noexcept { return 0; }
W int raidInternal_dynAllocDeviceMapStructure(RaidCDevMap *map) noexcept { return 0; }
W int raidInternal_getDeviceStructure(RaidCDevMap *map) noexcept { return 0; }
W void raidInternal_freeDeviceMapStructure(RaidCDevMap *map) noexcept {  }
W int RaidC_get_LdIdxList_from_PdIdx(int ctrlIdx, int pdIdx, RaidCIdxList **list) noexcept { return 0; }
W int RaidC_get_PdIdxList_from_LdIdx(int ctrlIdx, int ldIdx, RaidCIdxList **list) noexcept { return 0; }
W int RaidC_get_PdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept { return 0; }
W int RaidC_get_LdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept { return 0; }
W int raidInternal_get_LdIdxList_from_PdIdx(int ctrlIdx, int pdIdx, RaidCIdxList **list) noexcept { return 0; }
W int raidInternal_get_PdIdxList_from_LdIdx(int ctrlIdx, int ldIdx, RaidCIdxList **list) noexcept { return 0; }
W int raidInternal_get_PdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept { return 0; }
W int raidInternal_get_LdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept { return 0; }
W void RaidC_freeDeviceList(RaidCIdxList **list) noexcept {  }
W int RaidC_get_ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) noexcept { return 0; }
W int RaidC_convert_PdId_2_PdIdx(int ctrlIdx, int pdId, int *pdIdx) noexcept { return 0; }
W int RaidC_convert_LdId_2_LdIdx(int ctrlIdx, int ldId, int *ldIdx) noexcept { return 0; }
W int RaidC_convert_ArrayId_2_ArrayIdx(int ctrlIdx, int arrayId, int *arrayIdx) noexcept { return 0; }
W int RaidC_convert_PdIdx_2_PdId(int ctrlIdx, int pdIdx, int *pdId) noexcept { return 0; }
W int RaidC_convert_LdIdx_2_LdId(int ctrlIdx, int ldIdx, int *ldId) noexcept { return 0; }
W int RaidC_convert_ArrayIdx_2_ArrayId(int ctrlIdx, int arrayIdx, int *arrayId) noexcept { return 0; }
W void raidInternal_printDeviceStructure(RaidCDevMap *map) noexcept {  }
W int RaidC_getLDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getLDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getPDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getPDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getPDInfo_snmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber, unsigned int deviceNumber, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getHighestPdNumForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncInfo(const char *paramName, int ctrlIdx, int encIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncInfo(const char *paramName, int ctrlIdx, int encIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncProcInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncProcInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncFanInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncFanInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncPwrInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncPwrInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncTempInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncTempInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getBBUInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getBBUInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getArrayInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getArrayInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getPortInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getPortInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int RaidC_getStatusInfo(const char *paramName, char *strBuf, unsigned int bufLen) noexcept { return 0; }
W int RaidC_getCtrlsNumber(int64_t *intOut) noexcept { return 0; }
W int RaidC_getLdsTotalNumber(int64_t *intOut) noexcept { return 0; }
W int RaidC_getLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncTotalNumber(int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidinternal_getEnclNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getPdsTotalNumber(int64_t *intOut) noexcept { return 0; }
W int RaidC_getPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getArraysNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getArraysNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getPortsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getPortsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidinternal_getProcNumberForEncl(int ctrlIdx, int encIdx, int64_t *intOut) noexcept { return 0; }
W int raidinternal_getTempNumberForProc(int ctrlIdx, int encIdx, int procIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getNvmePdsTotalNumber(int64_t *intOut) noexcept { return 0; }
W int RaidC_getCtrlNvmePdsTotalNumber(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getEncryptedPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getEncryptedPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_getFailedPdsNumberForCtrl(int ctrlIdx, int64_t *failedOut, int64_t *smartOut) noexcept { return 0; }
W int raidInternal_getFailedPdsNumberForCtrl(int ctrlIdx, int64_t *failedOut, int64_t *smartOut) noexcept { return 0; }
W int RaidC_getDegradedLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getDegradedLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int RaidC_CtrlHasBBU(int ctrlIdx) noexcept { return 0; }
W int RaidC_CtrlCanBeConfigured(int ctrlIdx) noexcept { return 0; }
W int RaidC_getCacheStatus(void) noexcept { return 0; }
W int RaidC_getCtrlMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getPdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getHDDMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getSSDMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getNVMeMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getBBUMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int RaidC_getProcMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W RaidCEncInfo * RaidC_getEncInfoStructure(int ctrlIdx, int encIdx) noexcept { return nullptr; }
W void RaidC_freeEncInfoStructure(RaidCEncInfo *info) noexcept {  }
W int32_t RaidC_LoadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) noexcept { return 0; }
W int32_t RaidC_LoadPdlInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept { return 0; }
W int32_t RaidC_LoadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept { return 0; }
W int32_t RaidC_LoadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept { return 0; }
W int32_t RaidC_LoadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept { return 0; }
W int RaidC_getCtrlInfo2(const char *paramName, int ctrlIdx, string_ptr strOut, int64_t *intOut) noexcept { return 0; }
W int raidInternal_getCtrlInfo2(const char *paramName, int ctrlIdx, string_ptr strOut, int64_t *intOut) noexcept { return 0; }
W int mibMapper_getCtrlStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getCtrlInterface(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdWriteMode(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdReadMode(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdCacheMode(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdDiskCacheMode(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdInitStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdStatusEx(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdRaidLevelNum(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getLdStripeSize(char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdPowerStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdStatusEx(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdInterface(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdDeviceType(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getPdForeignConfig(const char *text, int32_t *mibValue) noexcept { return 0; }
W int mibMapper_getSvrStatus(const char *text, int32_t *mibValue) noexcept { return 0; }
W int32_t initData_RaidCCmdSocket(RaidCCmdSocket *sock, uint8_t isMaster) noexcept { return 0; }
W int32_t create_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t bind_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t listen_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t accept_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t connect_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t receiveData_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t sendData_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t close_RaidCCmdSocket(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t raidc_SendReceiveCmd(RaidCCmdSocket *sock) noexcept { return 0; }
W int32_t RaidC_GetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) noexcept { return 0; }
W int32_t RaidC_SetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) noexcept { return 0; }
W int32_t RaidC_GetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) noexcept { return 0; }
W int32_t RaidC_SetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) noexcept { return 0; }
W int32_t initTrapData(TrapEventData *record) noexcept { return 0; }
W int32_t RaidC_FreeTrapEventData(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t initTrapEventPipe(TrapEventPipe *pipe, uint8_t isMaster) noexcept { return 0; }
W int32_t createTrapEventPipe(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t openTrapEventPipe(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t closeTrapEventPipe(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t receiveTrapEvent(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t transmitTrapEvent(TrapEventPipe *pipe) noexcept { return 0; }
W int32_t RaidC_GetTrapEventData(TrapEventPipe *pipe) noexcept { return 0; }
W pthread_mutex_t RaidC_ConsumerCmd_Mutex = PTHREAD_MUTEX_INITIALIZER;
W pthread_mutex_t Raid_ConsumerTrap_Mutex = PTHREAD_MUTEX_INITIALIZER;
W XMLNode * rootNode;
W NodeList * nodeList;
W XMLNode * systemNode;
W NodeList * ctrlList;
W NodeList ** pdCtrlList;
W NodeList ** ldCtrlList;
W NodeList ** encCtrlList;
W NodeList ** arrayCtrlList;
W NodeList ** portCtrlList;
W RaidCDevMap ctrlDevStructure;
}
namespace raidc::query {
W RaidCEncInfo *encInfoStructure(int, int) noexcept { return nullptr; }
W int getPDInfoSnmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber, unsigned int deviceNumber, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept { return 0; }
W int highestPdNum(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int statusInfo(const char *paramName, char *strBuf, unsigned int bufLen) noexcept { return 0; }
W int ctrlsNumber(int64_t *intOut) noexcept { return 0; }
W int ldsTotal(int64_t *intOut) noexcept { return 0; }
W int ldsForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int encTotal(int64_t *intOut) noexcept { return 0; }
W int pdsTotal(int64_t *intOut) noexcept { return 0; }
W int nvmeTotal(int64_t *intOut) noexcept { return 0; }
W int nvmeForCtrl(int ctrlIdx, int64_t *intOut) noexcept { return 0; }
W int ctrlHasBBU(int ctrlIdx) noexcept { return 0; }
W int ctrlCanBeConfigured(int ctrlIdx) noexcept { return 0; }
W int cacheStatus() noexcept { return 0; }
W int ctrlMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int pdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int hddMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int ssdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int nvmeMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int bbuMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W int procMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept { return 0; }
W void freeEncInfoStructure(RaidCEncInfo *info) noexcept {  }
W int32_t loadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) noexcept { return 0; }
W int32_t loadPdInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept { return 0; }
W int32_t loadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept { return 0; }
W int32_t loadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept { return 0; }
W int32_t loadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept { return 0; }
}
namespace raidc::devmap {
W int ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) noexcept { return 0; }
W int pdIdToIdx(int ctrlIdx, int pdId, int *pdIdx) noexcept { return 0; }
W int ldIdToIdx(int ctrlIdx, int ldId, int *ldIdx) noexcept { return 0; }
W int arrayIdToIdx(int ctrlIdx, int arrayId, int *arrayIdx) noexcept { return 0; }
W int pdIdxToId(int ctrlIdx, int pdIdx, int *pdId) noexcept { return 0; }
W int ldIdxToId(int ctrlIdx, int ldIdx, int *ldId) noexcept { return 0; }
W int arrayIdxToId(int ctrlIdx, int arrayIdx, int *arrayId) noexcept { return 0; }
}
