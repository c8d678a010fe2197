/*
 * libzep_RaidCommon - one read-mostly view of the host's RAID storage.
 *
 * The RAID agent describes every controller, drive, array, port, enclosure
 * and battery in an XML device tree file. This library caches that file,
 * answers parameter queries on it, relates drives and logical drives, renders
 * controller capabilities as JSON, maps status texts to MIB integers, sends
 * locate commands to the agent and carries trap events.
 *
 * All functions are plain C, never throw, and report through integer results.
 */
#ifndef RAIDCOMMON_H
#define RAIDCOMMON_H

#include <ctype.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/un.h>
#include <time.h>

#if defined(RAIDC_BUILDING_LIBRARY)
#define RAIDC_API __attribute__((visibility("default")))
#else
#define RAIDC_API
#endif

#ifdef __cplusplus
#define RAIDC_NOEXCEPT noexcept
extern "C" {
#else
#define RAIDC_NOEXCEPT
#endif

/* ------------------------------------------------------------------------ */
/* Version of this header. The build writes the project's version here; the */
/* library that is loaded tells its own through RaidC_GetVersion().          */
/* ------------------------------------------------------------------------ */
#define RAIDC_VERSION_MAJOR 1
#define RAIDC_VERSION_MINOR 0
#define RAIDC_VERSION_PATCH 0
#define RAIDC_VERSION_STRING "1.0.0"

/* The version of the library that is loaded, "MAJOR.MINOR.PATCH" (static). */
RAIDC_API const char *RaidC_GetVersion(void) RAIDC_NOEXCEPT;

/* ------------------------------------------------------------------------ */
/* The three fixed paths. A test build may move them below a folder of its  */
/* own (CMake option RAIDC_PATH_PREFIX); the header it installs then names  */
/* that folder here, so that its users see the paths the library reads.     */
/* ------------------------------------------------------------------------ */
#ifndef RAIDC_PATH_PREFIX
#define RAIDC_PATH_PREFIX ""
#endif
#define RAIDC_DEVICE_TREE_PATH RAIDC_PATH_PREFIX "/var/RAIDStorageDeviceTree.xml"
#define RAIDC_CMD_SOCKET_PATH RAIDC_PATH_PREFIX "/var/tmp/raidcache.sock"
#define RAIDC_TRAP_PIPE_PATH RAIDC_PATH_PREFIX "/var/pipe/raid_trap_event"

/* ------------------------------------------------------------------------ */
/* Access status of every parameter query.                                   */
/* ------------------------------------------------------------------------ */
enum {
    RAIDC_SUCCESS_INT = 1,
    RAIDC_SUCCESS_STRING = 2,
    RAIDC_BUFFER_TOO_SMALL = 3,
    RAIDC_PARAM_NOT_FOUND = 4,
    RAIDC_CACHE_EMPTY = 5,
    RAIDC_INPUT_NOT_INITIALIZED = 6,
    RAIDC_DEVICE_NOT_FOUND = 7,
    RAIDC_DEVICE_EXTERN = 8,
    RAIDC_CACHE_UPDATE_FAILED = 9,
    RAIDC_NO_MEMORY = 10
};

/* Results of RaidC_updateCache. */
enum { RAIDC_UPDATE_OK = 0, RAIDC_UPDATE_UNUSABLE = 2, RAIDC_UPDATE_OPEN_FAILED = 3 };

/* Flags of RaidC_getCacheStatus: 0 for an empty cache, else PRESENT and the
 * controller families and sources found over all controllers. */
enum {
    RAIDC_CACHE_PRESENT = 1,
    RAIDC_CACHE_FAMILY_MR = 2,
    RAIDC_CACHE_SOURCE_IB = 4,
    RAIDC_CACHE_FAMILY_PCIESSD = 8,
    RAIDC_CACHE_FAMILY_MSCC = 16
};

/* Result of the drive and processor maximum-temperature queries when the
 * controller's device count cannot be read. Not an access status. */
#define RAIDC_MAXTEMP_NO_COUNT 17

/* ------------------------------------------------------------------------ */
/* Document model of the parsed device tree.                                 */
/* ------------------------------------------------------------------------ */
enum { XML_ELEMENT_NODE = 1, XML_ATTRIBUTE_NODE = 2, XML_TEXT_NODE = 3 };

typedef struct XMLNode XMLNode;
struct XMLNode {
    int nodeType;
    char *nodeName;
    char *nodeValue;
    XMLNode *attributes;
    char *namespaceURI;
    char *prefix;
    char *localName;
    XMLNode *parentNode;
    XMLNode *firstChild;
    XMLNode *lastChild;
    XMLNode *previousSibling;
    XMLNode *nextSibling;
};

typedef struct NSDecl NSDecl;
struct NSDecl {
    char *prefix;
    char *namespaceURI;
    XMLNode *node;
    NSDecl *next;
};

typedef struct XMLDoc {
    XMLNode *documentElement;
    NSDecl *nsDeclList;
} XMLDoc;

#define RAIDC_NODELIST_MAX 1024
typedef struct NodeList {
    XMLNode *nodes[RAIDC_NODELIST_MAX];
    int count;
} NodeList;

/* ------------------------------------------------------------------------ */
/* Relation map.                                                             */
/* ------------------------------------------------------------------------ */
typedef struct RaidCPdDev {
    int32_t pdId;
    int32_t ldCnt;
    int32_t ldMax;
    int32_t *ldIdList;
    int32_t arrayNumber;
} RaidCPdDev;

typedef struct RaidCContainerDev {
    int32_t containerId;
    int32_t pdCnt;
    int32_t pdMax;
    int32_t *pdIdList;
} RaidCContainerDev;

typedef struct RaidCLdDev {
    int32_t ldId;
    int32_t containerCnt;
    int32_t containerMax;
    RaidCContainerDev *containerList;
    int32_t arrayNumber;
} RaidCLdDev;

typedef struct RaidCArrayDev {
    int32_t arrayId;
    int32_t pdCnt;
    int32_t ldCnt;
    int32_t pdMax;
    int32_t *pdIdList;
    int32_t ldMax;
    int32_t *ldIdList;
} RaidCArrayDev;

typedef struct RaidCCtrlDev {
    int32_t ctrlId;
    int32_t pdCnt;
    int32_t ldCnt;
    int32_t arrayCnt;
    int32_t pdMax;
    RaidCPdDev *pdList;
    int32_t ldMax;
    RaidCLdDev *ldList;
    int32_t arrayMax;
    RaidCArrayDev *arrayList;
} RaidCCtrlDev;

typedef struct RaidCDevMap {
    int32_t ctrlCnt;
    int32_t ctrlNum;
    RaidCCtrlDev *ctrlList;
} RaidCDevMap;

typedef struct RaidCIdxList {
    int devCnt;
    int *devList;
} RaidCIdxList;

/* ------------------------------------------------------------------------ */
/* Fixed-layout records.                                                     */
/* ------------------------------------------------------------------------ */
#define RAIDC_TEXT_LEN 128
#define RAIDC_VENDOR_LEN 512

/* After each record, RAIDC_..._FIELDS(X) lists its fields in record order as
 * X(field), for code that walks a whole record: a char array field is a
 * text, any other a signed 32-bit integer. The enclosure tree's counts and
 * pointers are not listed. */

typedef struct RaidCCtrlInfo {
    int32_t AdapterNumber;
    int32_t CtrlId;
    char Type[RAIDC_TEXT_LEN];
    char Name[RAIDC_TEXT_LEN];
    char Vendor[RAIDC_VENDOR_LEN];
    char Product[RAIDC_TEXT_LEN];
    char SerialNumber[RAIDC_TEXT_LEN];
    char SASAddress[RAIDC_TEXT_LEN];
    int32_t PCIBus;
    int32_t PCIDevice;
    int32_t PCIFunction;
    char DriverName[RAIDC_TEXT_LEN];
    char DriverVersion[RAIDC_TEXT_LEN];
    char UEFIDriverVersion[RAIDC_TEXT_LEN];
    char Protocol[RAIDC_TEXT_LEN];
    char FWPackageVersion[RAIDC_TEXT_LEN];
    char FirmwareVersion[RAIDC_TEXT_LEN];
    char FirmwareBuildTime[RAIDC_TEXT_LEN];
    char BIOSVersion[RAIDC_TEXT_LEN];
    char BIOSBuildTime[RAIDC_TEXT_LEN];
    int32_t MemorySize;
    int32_t PortCount;
    char Status[RAIDC_TEXT_LEN];
    char HostName[RAIDC_TEXT_LEN];
    int32_t PCISegment;
    int32_t ChipTemperature;
    int32_t NVRAMSize;
    int32_t MemorySize2; /* "MemorySize" again */
    int32_t FlashROMSize;
    char AlarmPresent[RAIDC_TEXT_LEN];
    char PatrolReadMode[RAIDC_TEXT_LEN];
    int32_t PatrolRdIterations;
    char SMARTSupport[RAIDC_TEXT_LEN];
    char CoercionMode[RAIDC_TEXT_LEN];
    int32_t CorrErrorCount;
    int32_t UncorrErrorCount;
    char VendorID[RAIDC_TEXT_LEN];
    char SubVendorID[RAIDC_TEXT_LEN];
    char DeviceID[RAIDC_TEXT_LEN];
    char SubDeviceID[RAIDC_TEXT_LEN];
} RaidCCtrlInfo;
/* clang-format off */
#define RAIDC_CTRL_INFO_FIELDS(X) \
    X(AdapterNumber) X(CtrlId) X(Type) X(Name) X(Vendor) X(Product) X(SerialNumber) X(SASAddress) X(PCIBus) \
    X(PCIDevice) X(PCIFunction) X(DriverName) X(DriverVersion) X(UEFIDriverVersion) X(Protocol) X(FWPackageVersion) \
    X(FirmwareVersion) X(FirmwareBuildTime) X(BIOSVersion) X(BIOSBuildTime) X(MemorySize) X(PortCount) X(Status) \
    X(HostName) X(PCISegment) X(ChipTemperature) X(NVRAMSize) X(MemorySize2) X(FlashROMSize) X(AlarmPresent) \
    X(PatrolReadMode) X(PatrolRdIterations) X(SMARTSupport) X(CoercionMode) X(CorrErrorCount) X(UncorrErrorCount) \
    X(VendorID) X(SubVendorID) X(DeviceID) X(SubDeviceID)
/* clang-format on */

typedef struct RaidCPdInfo {
    char Product[RAIDC_TEXT_LEN];
    char PdAllowedLocate[RAIDC_TEXT_LEN];
    int32_t PortNumber;
    int32_t DeviceNumber;
    char Vendor[RAIDC_VENDOR_LEN];
    int32_t TransferSpeed;
    char Type[RAIDC_TEXT_LEN];
    char MediaType[RAIDC_TEXT_LEN];
    int32_t MediaErrorCount;
    int32_t MiscErrors;
    char Status[RAIDC_TEXT_LEN];
    char FirmwareVersion[RAIDC_TEXT_LEN];
    char SerialNumber[RAIDC_TEXT_LEN];
    char ForeignConfig[RAIDC_TEXT_LEN];
    int32_t PhysicalSize;
    int32_t EnclosureNumber;
    int32_t Slot;
    char RemainingTime[RAIDC_TEXT_LEN];
    int32_t RebuildProgress;
    char Name[RAIDC_TEXT_LEN];
    char PowerStatus[RAIDC_TEXT_LEN];
    int32_t Temperature;
    char RPM[RAIDC_TEXT_LEN];
} RaidCPdInfo;
/* clang-format off */
#define RAIDC_PD_INFO_FIELDS(X) \
    X(Product) X(PdAllowedLocate) X(PortNumber) X(DeviceNumber) X(Vendor) X(TransferSpeed) X(Type) X(MediaType) \
    X(MediaErrorCount) X(MiscErrors) X(Status) X(FirmwareVersion) X(SerialNumber) X(ForeignConfig) X(PhysicalSize) \
    X(EnclosureNumber) X(Slot) X(RemainingTime) X(RebuildProgress) X(Name) X(PowerStatus) X(Temperature) X(RPM)
/* clang-format on */

typedef struct RaidCLdInfo {
    int32_t LogDriveNumber;
    char LdAllowedLocate[RAIDC_TEXT_LEN];
    char RAIDLevel[RAIDC_TEXT_LEN];
    char Stripesize[RAIDC_TEXT_LEN];
    char WriteMode[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
    char Name[RAIDC_TEXT_LEN];
    int32_t LogicalSize;
    int32_t PhysicalSize;
    char OSDevice[RAIDC_TEXT_LEN];
    char ReadMode[RAIDC_TEXT_LEN];
    char CacheMode[RAIDC_TEXT_LEN];
    char DiskCacheMode[RAIDC_TEXT_LEN];
    char InitState[RAIDC_TEXT_LEN];
} RaidCLdInfo;
/* clang-format off */
#define RAIDC_LD_INFO_FIELDS(X) \
    X(LogDriveNumber) X(LdAllowedLocate) X(RAIDLevel) X(Stripesize) X(WriteMode) X(Status) X(Name) X(LogicalSize) \
    X(PhysicalSize) X(OSDevice) X(ReadMode) X(CacheMode) X(DiskCacheMode) X(InitState)
/* clang-format on */

typedef struct RaidCBbuInfo {
    char Name[RAIDC_TEXT_LEN];
    char Vendor[RAIDC_VENDOR_LEN];
    char ManufactureDate[RAIDC_TEXT_LEN];
    int32_t DesignCapacity;
    char DesignVoltage[RAIDC_TEXT_LEN];
    char Type[RAIDC_TEXT_LEN];
    char IntelligentBBU[RAIDC_TEXT_LEN];
    char SerialNumber[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
    char NextLearnTime[RAIDC_TEXT_LEN];
    char DeviceName[RAIDC_TEXT_LEN];
    char ModuleVersion[RAIDC_TEXT_LEN];
    char AutoLearnMode[RAIDC_TEXT_LEN];
    int32_t AutoLearnPeriod;
    char Voltage[RAIDC_TEXT_LEN];
    int32_t Temperature;
    int32_t Capacitance;
    int32_t RemainingCapacity;
} RaidCBbuInfo;
/* clang-format off */
#define RAIDC_BBU_INFO_FIELDS(X) \
    X(Name) X(Vendor) X(ManufactureDate) X(DesignCapacity) X(DesignVoltage) X(Type) X(IntelligentBBU) \
    X(SerialNumber) X(Status) X(NextLearnTime) X(DeviceName) X(ModuleVersion) X(AutoLearnMode) X(AutoLearnPeriod) \
    X(Voltage) X(Temperature) X(Capacitance) X(RemainingCapacity)
/* clang-format on */

/* Enclosure information tree. */
typedef struct RaidCEncFanInfo {
    char Name[RAIDC_TEXT_LEN];
    char Location[RAIDC_TEXT_LEN];
    char FanSpeed[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
} RaidCEncFanInfo;
/* clang-format off */
#define RAIDC_ENC_FAN_INFO_FIELDS(X) \
    X(Name) X(Location) X(FanSpeed) X(Status)
/* clang-format on */

typedef struct RaidCEncPwrInfo {
    char SerialNumber[RAIDC_TEXT_LEN];
    char HardwareVersion[RAIDC_TEXT_LEN];
    char Name[RAIDC_TEXT_LEN];
    char PartNumber[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
} RaidCEncPwrInfo;
/* clang-format off */
#define RAIDC_ENC_PWR_INFO_FIELDS(X) \
    X(SerialNumber) X(HardwareVersion) X(Name) X(PartNumber) X(Status)
/* clang-format on */

typedef struct RaidCEncTempInfo {
    char Name[RAIDC_TEXT_LEN];
    char Location[RAIDC_TEXT_LEN];
    int32_t WarningTemperatureL;
    int32_t CriticalTemperatureL;
    int32_t WarningTemperatureH;
    int32_t CriticalTemperatureH;
    int32_t Temperature;
    char Status[RAIDC_TEXT_LEN];
} RaidCEncTempInfo;
/* clang-format off */
#define RAIDC_ENC_TEMP_INFO_FIELDS(X) \
    X(Name) X(Location) X(WarningTemperatureL) X(CriticalTemperatureL) X(WarningTemperatureH) \
    X(CriticalTemperatureH) X(Temperature) X(Status)
/* clang-format on */

typedef struct RaidCEncProcInfo {
    int32_t PortNumber;
    int32_t DeviceNumber;
    int32_t EnclosureNumber;
    char Name[RAIDC_TEXT_LEN];
    char Type[RAIDC_TEXT_LEN];
    char Vendor[RAIDC_TEXT_LEN];
    char Product[RAIDC_TEXT_LEN];
    char SerialNumber[RAIDC_TEXT_LEN];
    char PartNumber[RAIDC_TEXT_LEN];
    char HardwareVersion[RAIDC_TEXT_LEN];
    char FirmwareVersion[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
    char SASAddress[RAIDC_TEXT_LEN];
    int32_t FanCount;
    RaidCEncFanInfo *Fans;
    int32_t PowerSupplyCount;
    RaidCEncPwrInfo *PowerSupplies;
    int32_t TempSensorCount;
    RaidCEncTempInfo *TempSensors;
} RaidCEncProcInfo;
/* clang-format off */
#define RAIDC_ENC_PROC_INFO_FIELDS(X) \
    X(PortNumber) X(DeviceNumber) X(EnclosureNumber) X(Name) X(Type) X(Vendor) X(Product) X(SerialNumber) \
    X(PartNumber) X(HardwareVersion) X(FirmwareVersion) X(Status) X(SASAddress)
/* clang-format on */

typedef struct RaidCEncInfo {
    int32_t EnclosureNumber;
    int32_t EnclosureChainNumber;
    char EncAllowedLocate[RAIDC_TEXT_LEN];
    char Product[RAIDC_TEXT_LEN];
    char Vendor[RAIDC_TEXT_LEN];
    char HardwareVersion[RAIDC_TEXT_LEN];
    char SerialNumber[RAIDC_TEXT_LEN];
    char Name[RAIDC_TEXT_LEN];
    char LogicalID[RAIDC_TEXT_LEN];
    char Status[RAIDC_TEXT_LEN];
    int32_t ProcessorCount;
    RaidCEncProcInfo *Processors;
} RaidCEncInfo;
/* clang-format off */
#define RAIDC_ENC_INFO_FIELDS(X) \
    X(EnclosureNumber) X(EnclosureChainNumber) X(EncAllowedLocate) X(Product) X(Vendor) X(HardwareVersion) \
    X(SerialNumber) X(Name) X(LogicalID) X(Status)
/* clang-format on */

/* ------------------------------------------------------------------------ */
/* Growable string for RaidC_getCtrlInfo2 (caller-owned).                    */
/* Used as: string_t s; string_init(s); ...; string_clear(s);                */
/* ------------------------------------------------------------------------ */
typedef struct raidc_string_s {
    size_t size;  /* bytes in use, without the terminator */
    size_t alloc; /* bytes allocated */
    char *ptr;    /* NUL-terminated text, or null while nothing was set */
} string_t[1];
typedef struct raidc_string_s *string_ptr;
typedef const struct raidc_string_s *string_srcptr;

static inline void string_init(string_ptr s)
{
    s->size = 0;
    s->alloc = 0;
    s->ptr = NULL;
}

static inline void string_clear(string_ptr s)
{
    free(s->ptr);
    string_init(s);
}

static inline const char *string_get_cstr(string_srcptr s)
{
    return s->ptr ? s->ptr : "";
}

static inline size_t string_size(string_srcptr s)
{
    return s->size;
}

/* Running out of memory here ends the process: the string cannot report it. */
static inline void raidc_string_fit(string_ptr s, size_t need, const char *func, int line)
{
    if (need + 1 <= s->alloc)
        return;
    size_t alloc = need + 1 < 16 ? 16 : need + 1 + (need + 1) / 2;
    if (alloc < need + 1)
        alloc = need + 1; /* the growth step wrapped around */
    char *p = (char *)realloc(s->ptr, alloc);
    if (!p) {
        fprintf(stderr, "ERROR(M*LIB): Cannot allocate %zu bytes of memory at (%s:%s:%d).\n", alloc, __FILE__, func,
                line);
        abort();
    }
    s->ptr = p;
    s->alloc = alloc;
}

static inline void string_set_str(string_ptr s, const char *text)
{
    size_t n = strlen(text);
    raidc_string_fit(s, n, __func__, __LINE__);
    memmove(s->ptr, text, n + 1);
    s->size = n;
}

/* Bytes removed from both ends by string_strim: controls and blanks, bytes
 * above 'z', and the five markup characters. */
static inline int raidc_string_is_trim(unsigned char c)
{
    return c < 0x21 || c > 0x7A || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>';
}

static inline void string_strim(string_ptr s)
{
    if (!s->ptr)
        return;
    size_t b = 0, e = s->size;
    while (b < e && raidc_string_is_trim((unsigned char)s->ptr[b]))
        b++;
    while (e > b && raidc_string_is_trim((unsigned char)s->ptr[e - 1]))
        e--;
    memmove(s->ptr, s->ptr + b, e - b);
    s->ptr[e - b] = '\0';
    s->size = e - b;
}

/* Case-insensitive comparison of the whole string with a text: 0 when equal. */
static inline int string_cmpi_str(string_srcptr s, const char *text)
{
    const unsigned char *a = (const unsigned char *)string_get_cstr(s);
    const unsigned char *b = (const unsigned char *)text;
    int ca, cb;
    do {
        ca = tolower(toupper(*a++));
        cb = tolower(toupper(*b++));
    } while (ca == cb && ca != 0);
    return ca - cb;
}

/* ------------------------------------------------------------------------ */
/* Command channel.                                                          */
/* ------------------------------------------------------------------------ */
typedef struct RaidCCmdHeader {
    uint32_t processId;
    uint32_t messageCount;
    uint32_t command;
    uint32_t arg1;
    uint32_t arg2;
    uint32_t arg3;
    uint32_t arg4;
    uint32_t arg5;
    uint32_t value;
    uint32_t dataLength;
} RaidCCmdHeader;

#define RAIDC_CMD_HEADER_LEN 81

/* Command codes of the locate commands. */
enum {
    RAIDC_CMD_GET_LD_LOCATE = 2,
    RAIDC_CMD_SET_LD_LOCATE = 3,
    RAIDC_CMD_GET_PD_LOCATE = 4,
    RAIDC_CMD_SET_PD_LOCATE = 5
};

/* Controller family codes a locate command carries in arg5. */
enum { RAIDC_CMD_FAMILY_OTHER = 0, RAIDC_CMD_FAMILY_MR = 10, RAIDC_CMD_FAMILY_PCIESSD = 11 };

/* Socket result codes. */
enum {
    RAIDC_SOCK_DONE = 0,
    RAIDC_SOCK_RECV_AGAIN = 1,
    RAIDC_SOCK_SEND_AGAIN = 2,
    RAIDC_SOCK_HEADER_IN_PAYLOAD = 3,
    RAIDC_SOCK_WAIT_FAILED = 4,
    RAIDC_SOCK_CREATE_FAILED = 7,
    RAIDC_SOCK_IDLE = 8,
    RAIDC_SOCK_TIMEOUT = 9,
    RAIDC_SOCK_SYSCALL_FAILED = 10,
    RAIDC_SOCK_OPTION_FAILED = 11,
    RAIDC_SOCK_NULL = 15,
    RAIDC_SOCK_NO_MEMORY = 18
};

typedef struct RaidCCmdSocket {
    int32_t ProcessId;
    int32_t lastErrno;
    uint8_t isMaster;
    int32_t usedThreadBufferIdx;
    struct sockaddr_un address;
    int32_t AcceptedSocket;
    int32_t SocketFd;
    char name[64];
    uint8_t isCreated;
    uint8_t isConnected;
    uint8_t isBound;
    uint8_t isListening;
    uint8_t isAccepted;
    char *data;
    char *writeBuffer;
    char *readBuffer;
    uint8_t headerPhase;
    uint32_t writeBufferSize;
    uint32_t writeCount;
    uint32_t readBufferSize;
    uint32_t readCount;
    uint32_t sendCounter;
    uint32_t receiveCounter;
    struct timespec LastAcessTime;
    struct timespec now;
    RaidCCmdHeader header;
} RaidCCmdSocket;

/* ------------------------------------------------------------------------ */
/* Trap event channel.                                                       */
/* ------------------------------------------------------------------------ */
#define RAIDC_TRAP_MAX_STRINGS 8
#define RAIDC_TRAP_HEADER_LEN 50

/* Trap result codes. */
enum {
    RAIDC_TRAP_DONE = 0,
    RAIDC_TRAP_RECV_AGAIN = 1,
    RAIDC_TRAP_SEND_AGAIN = 2,
    RAIDC_TRAP_NO_MESSAGE = 3,
    RAIDC_TRAP_IDLE = 6,
    RAIDC_TRAP_IO_FAILED = 7,
    RAIDC_TRAP_NULL = 10,
    RAIDC_TRAP_NO_MEMORY = 12
};

typedef struct __attribute__((packed)) TrapEventData {
    uint32_t processId;
    uint32_t messageCount;
    uint32_t word3;
    uint32_t word4;
    uint32_t stringCount;
    uint32_t dataSize;
    char *strings[RAIDC_TRAP_MAX_STRINGS];
} TrapEventData;

typedef struct TrapEventPipe {
    int32_t Id;
    char path[64];
    uint8_t isOpen;
    uint8_t isCreated;
    int32_t openFlags;
    uint8_t isMaster;
    char *writeBuffer;
    char *readBuffer;
    uint8_t headerPhase;
    uint32_t writeBufferSize;
    uint32_t writeCount;
    uint32_t readBufferSize;
    uint32_t readCount;
    uint32_t sendCounter;
    uint32_t receiveCounter;
    struct timespec LastAcessTime;
    struct timespec now;
    TrapEventData *record;
} TrapEventPipe;

/* ------------------------------------------------------------------------ */
/* Exported data objects.                                                    */
/* ------------------------------------------------------------------------ */
extern RAIDC_API pthread_mutex_t RaidC_ThreadMutex;       /* recursive; guards the cache */
extern RAIDC_API pthread_mutex_t RaidC_ConsumerCmd_Mutex; /* locate commands */
extern RAIDC_API pthread_mutex_t Raid_ConsumerTrap_Mutex; /* trap consumer */

extern RAIDC_API XMLNode *rootNode;
extern RAIDC_API NodeList *nodeList;
extern RAIDC_API XMLNode *systemNode;
extern RAIDC_API NodeList *ctrlList;
extern RAIDC_API NodeList **pdCtrlList;
extern RAIDC_API NodeList **ldCtrlList;
extern RAIDC_API NodeList **encCtrlList;
extern RAIDC_API NodeList **arrayCtrlList;
extern RAIDC_API NodeList **portCtrlList;
extern RAIDC_API RaidCDevMap ctrlDevStructure;

/* ------------------------------------------------------------------------ */
/* Frame.                                                                    */
/* ------------------------------------------------------------------------ */
RAIDC_API void libraidcommon_init(void) RAIDC_NOEXCEPT;
RAIDC_API void libraidcommon_fini(void) RAIDC_NOEXCEPT;
RAIDC_API const char *RaidC_AccessStatusToString(int status) RAIDC_NOEXCEPT;
RAIDC_API int RaidCPrint(const char *format, ...) RAIDC_NOEXCEPT __attribute__((format(printf, 1, 2)));
RAIDC_API int RaidCPrintError(const char *format, ...) RAIDC_NOEXCEPT __attribute__((format(printf, 1, 2)));
RAIDC_API int RaidPrint(const char *format, ...) RAIDC_NOEXCEPT __attribute__((format(printf, 1, 2)));
RAIDC_API int RaidPrintError(const char *format, ...) RAIDC_NOEXCEPT __attribute__((format(printf, 1, 2)));
RAIDC_API int RaidC_forTest(void) RAIDC_NOEXCEPT;

/* Document dump (standard output). */
RAIDC_API void Print_NSDecl(NSDecl *decl, const char *indent, int recurse) RAIDC_NOEXCEPT;
RAIDC_API void Print_xmlNode(XMLNode *node, const char *indent, int recurse) RAIDC_NOEXCEPT;
RAIDC_API void Print_xmlDoc(XMLDoc *doc) RAIDC_NOEXCEPT;
RAIDC_API void Print_xmlNodeList(NodeList *list, const char *indent, int recurse) RAIDC_NOEXCEPT;

/* Cache refresh and element lists. */
RAIDC_API int RaidC_updateCache(void) RAIDC_NOEXCEPT;
RAIDC_API int raidc_Internal_UpdateCache(void) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getCtrlList(XMLNode *node) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getPdList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getLdList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getEncList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getArrayList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getPortList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getProcessorList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API NodeList *raidInternal_getBatteryList(NodeList *ctrls, int ctrlIdx) RAIDC_NOEXCEPT;

/* Controller parameters and the letter test. */
RAIDC_API int RaidC_getCtrlInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                                int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getCtrlInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                                       int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_checkIfContainsLetters(const char *text) RAIDC_NOEXCEPT;

/* Relation map. */
RAIDC_API int raidInternal_dynAllocDeviceMapStructure(RaidCDevMap *map) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getDeviceStructure(RaidCDevMap *map) RAIDC_NOEXCEPT;
RAIDC_API void raidInternal_freeDeviceMapStructure(RaidCDevMap *map) RAIDC_NOEXCEPT;

/* Relation queries and identifier conversions. */
RAIDC_API int RaidC_get_LdIdxList_from_PdIdx(int ctrlIdx, int pdIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_get_PdIdxList_from_LdIdx(int ctrlIdx, int ldIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_get_PdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_get_LdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_get_LdIdxList_from_PdIdx(int ctrlIdx, int pdIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_get_PdIdxList_from_LdIdx(int ctrlIdx, int ldIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_get_PdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_get_LdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API void RaidC_freeDeviceList(RaidCIdxList **list) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_get_ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_PdId_2_PdIdx(int ctrlIdx, int pdId, int *pdIdx) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_LdId_2_LdIdx(int ctrlIdx, int ldId, int *ldIdx) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_ArrayId_2_ArrayIdx(int ctrlIdx, int arrayId, int *arrayIdx) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_PdIdx_2_PdId(int ctrlIdx, int pdIdx, int *pdId) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_LdIdx_2_LdId(int ctrlIdx, int ldIdx, int *ldId) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_convert_ArrayIdx_2_ArrayId(int ctrlIdx, int arrayIdx, int *arrayId) RAIDC_NOEXCEPT;
RAIDC_API void raidInternal_printDeviceStructure(RaidCDevMap *map) RAIDC_NOEXCEPT;

/* Drive queries. */
RAIDC_API int RaidC_getLDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                              int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getLDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                     int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                              int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getPDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                     int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPDInfo_snmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber,
                                      unsigned int deviceNumber, char *strBuf, unsigned int bufLen,
                                      int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getHighestPdNumForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;

/* Enclosure queries. */
RAIDC_API int RaidC_getEncInfo(const char *paramName, int ctrlIdx, int encIdx, char *strBuf, unsigned int bufLen,
                               int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncInfo(const char *paramName, int ctrlIdx, int encIdx, char *strBuf, unsigned int bufLen,
                                      int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncProcInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, char *strBuf,
                                   unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncProcInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, char *strBuf,
                                          unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncFanInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                  char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncFanInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                         char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncPwrInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                  char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncPwrInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                         char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncTempInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                   char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncTempInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                                          char *strBuf, unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;

/* Battery, array, port and status queries. */
RAIDC_API int RaidC_getBBUInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                               int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getBBUInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                                      int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getArrayInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                 int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getArrayInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf,
                                        unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPortInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getPortInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf,
                                       unsigned int bufLen, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getStatusInfo(const char *paramName, char *strBuf, unsigned int bufLen) RAIDC_NOEXCEPT;

/* Counts and controller predicates. */
RAIDC_API int RaidC_getCtrlsNumber(int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getLdsTotalNumber(int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncTotalNumber(int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidinternal_getEnclNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPdsTotalNumber(int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getArraysNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getArraysNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPortsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getPortsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidinternal_getProcNumberForEncl(int ctrlIdx, int encIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidinternal_getTempNumberForProc(int ctrlIdx, int encIdx, int procIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getNvmePdsTotalNumber(int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getCtrlNvmePdsTotalNumber(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getEncryptedPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getEncryptedPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getFailedPdsNumberForCtrl(int ctrlIdx, int64_t *failedOut, int64_t *smartOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getFailedPdsNumberForCtrl(int ctrlIdx, int64_t *failedOut, int64_t *smartOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getDegradedLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getDegradedLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_CtrlHasBBU(int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_CtrlCanBeConfigured(int ctrlIdx) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getCacheStatus(void) RAIDC_NOEXCEPT;

/* Maximum temperatures. */
RAIDC_API int RaidC_getCtrlMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getPdMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getHDDMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getSSDMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getNVMeMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getBBUMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;
RAIDC_API int RaidC_getProcMaxTemperature(int ctrlIdx, int64_t *maxOut) RAIDC_NOEXCEPT;

/* Enclosure information structure. */
RAIDC_API RaidCEncInfo *RaidC_getEncInfoStructure(int ctrlIdx, int encIdx) RAIDC_NOEXCEPT;
RAIDC_API void RaidC_freeEncInfoStructure(RaidCEncInfo *info) RAIDC_NOEXCEPT;

/* Fixed-layout records: 0 when the device does not exist, else 1. */
RAIDC_API int32_t RaidC_LoadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_LoadPdlInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_LoadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_LoadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_LoadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) RAIDC_NOEXCEPT;

/* Capabilities. */
RAIDC_API int RaidC_getCtrlInfo2(const char *paramName, int ctrlIdx, string_ptr strOut, int64_t *intOut) RAIDC_NOEXCEPT;
RAIDC_API int raidInternal_getCtrlInfo2(const char *paramName, int ctrlIdx, string_ptr strOut,
                                        int64_t *intOut) RAIDC_NOEXCEPT;

/* MIB value mapping: 1 for a null text (nothing written), else 0. */
RAIDC_API int mibMapper_getCtrlStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getCtrlInterface(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdWriteMode(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdReadMode(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdCacheMode(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdDiskCacheMode(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdInitStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdStatusEx(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdRaidLevelNum(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getLdStripeSize(char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdPowerStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdStatusEx(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdInterface(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdDeviceType(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getPdForeignConfig(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;
RAIDC_API int mibMapper_getSvrStatus(const char *text, int32_t *mibValue) RAIDC_NOEXCEPT;

/* Command socket. */
RAIDC_API int32_t initData_RaidCCmdSocket(RaidCCmdSocket *sock, uint8_t isMaster) RAIDC_NOEXCEPT;
RAIDC_API int32_t create_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t bind_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t listen_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t accept_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t connect_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t receiveData_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t sendData_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t close_RaidCCmdSocket(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;

/* Command exchange and drive locate. */
RAIDC_API int32_t raidc_SendReceiveCmd(RaidCCmdSocket *sock) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_GetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_SetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_GetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_SetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) RAIDC_NOEXCEPT;

/* Trap events. */
RAIDC_API int32_t initTrapData(TrapEventData *record) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_FreeTrapEventData(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t initTrapEventPipe(TrapEventPipe *pipe, uint8_t isMaster) RAIDC_NOEXCEPT;
RAIDC_API int32_t createTrapEventPipe(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t openTrapEventPipe(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t closeTrapEventPipe(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t receiveTrapEvent(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t transmitTrapEvent(TrapEventPipe *pipe) RAIDC_NOEXCEPT;
RAIDC_API int32_t RaidC_GetTrapEventData(TrapEventPipe *pipe) RAIDC_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* RAIDCOMMON_H */
