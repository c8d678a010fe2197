// Every structure the public header shares with callers has a fixed layout:
// callers on the 32-bit target and on development hosts must agree on every
// byte. Each offset and size is pinned here, so that a change to the header
// fails the build instead of silently breaking callers. The checks hold for
// 4- and 8-byte pointers alike.
//
// The document model: every field a pointer-sized slot (XMLNode). The
// relation map: 32-bit integers and pointers in declared order. The
// fixed-layout records: int32 and char arrays only, except the count and
// pointer pairs of the enclosure tree, whose offsets follow from the pointer
// size and alignment.
#include "raidcommon.h"

#include <cstddef>

namespace {

constexpr size_t kPtr = sizeof(void *);

// Where a pointer lands after 32-bit fields that end at `end`.
constexpr size_t ptrAfter(size_t end)
{
    return (end + alignof(void *) - 1) / alignof(void *) * alignof(void *);
}

#define SLOT(m, i) static_assert(offsetof(XMLNode, m) == (i)*kPtr, "XMLNode::" #m " moved")
SLOT(nodeType, 0);
SLOT(nodeName, 1);
SLOT(nodeValue, 2);
SLOT(attributes, 3);
SLOT(namespaceURI, 4);
SLOT(prefix, 5);
SLOT(localName, 6);
SLOT(parentNode, 7);
SLOT(firstChild, 8);
SLOT(lastChild, 9);
SLOT(previousSibling, 10);
SLOT(nextSibling, 11);
#undef SLOT
static_assert(sizeof(XMLNode) == 12 * kPtr);
static_assert(sizeof(XMLDoc) == 2 * kPtr && offsetof(XMLDoc, nsDeclList) == kPtr);
static_assert(sizeof(NSDecl) == 4 * kPtr && offsetof(NSDecl, node) == 2 * kPtr && offsetof(NSDecl, next) == 3 * kPtr);
static_assert(offsetof(NodeList, count) == RAIDC_NODELIST_MAX * kPtr);

static_assert(offsetof(RaidCPdDev, ldIdList) == ptrAfter(12));
static_assert(offsetof(RaidCPdDev, arrayNumber) == ptrAfter(12) + kPtr);
static_assert(offsetof(RaidCContainerDev, pdIdList) == ptrAfter(12));
static_assert(sizeof(RaidCContainerDev) == ptrAfter(12) + kPtr);
static_assert(offsetof(RaidCLdDev, containerList) == ptrAfter(12));
static_assert(offsetof(RaidCLdDev, arrayNumber) == ptrAfter(12) + kPtr);
static_assert(offsetof(RaidCArrayDev, pdIdList) == ptrAfter(16));
static_assert(offsetof(RaidCArrayDev, ldMax) == ptrAfter(16) + kPtr);
static_assert(offsetof(RaidCArrayDev, ldIdList) == ptrAfter(ptrAfter(16) + kPtr + 4));
static_assert(offsetof(RaidCCtrlDev, pdList) == ptrAfter(20));
static_assert(offsetof(RaidCCtrlDev, ldMax) == ptrAfter(20) + kPtr);
static_assert(offsetof(RaidCCtrlDev, ldList) == ptrAfter(ptrAfter(20) + kPtr + 4));
static_assert(offsetof(RaidCCtrlDev, arrayMax) == ptrAfter(ptrAfter(20) + kPtr + 4) + kPtr);
static_assert(offsetof(RaidCDevMap, ctrlList) == ptrAfter(8));
static_assert(sizeof(RaidCIdxList) == ptrAfter(4) + kPtr);

#define AT(R, m, off) static_assert(offsetof(R, m) == (off), #R "::" #m " moved")

AT(RaidCCtrlInfo, AdapterNumber, 0);
AT(RaidCCtrlInfo, CtrlId, 4);
AT(RaidCCtrlInfo, Type, 8);
AT(RaidCCtrlInfo, Name, 136);
AT(RaidCCtrlInfo, Vendor, 264);
AT(RaidCCtrlInfo, Product, 776);
AT(RaidCCtrlInfo, SerialNumber, 904);
AT(RaidCCtrlInfo, SASAddress, 1032);
AT(RaidCCtrlInfo, PCIBus, 1160);
AT(RaidCCtrlInfo, PCIDevice, 1164);
AT(RaidCCtrlInfo, PCIFunction, 1168);
AT(RaidCCtrlInfo, DriverName, 1172);
AT(RaidCCtrlInfo, DriverVersion, 1300);
AT(RaidCCtrlInfo, UEFIDriverVersion, 1428);
AT(RaidCCtrlInfo, Protocol, 1556);
AT(RaidCCtrlInfo, FWPackageVersion, 1684);
AT(RaidCCtrlInfo, FirmwareVersion, 1812);
AT(RaidCCtrlInfo, FirmwareBuildTime, 1940);
AT(RaidCCtrlInfo, BIOSVersion, 2068);
AT(RaidCCtrlInfo, BIOSBuildTime, 2196);
AT(RaidCCtrlInfo, MemorySize, 2324);
AT(RaidCCtrlInfo, PortCount, 2328);
AT(RaidCCtrlInfo, Status, 2332);
AT(RaidCCtrlInfo, HostName, 2460);
AT(RaidCCtrlInfo, PCISegment, 2588);
AT(RaidCCtrlInfo, ChipTemperature, 2592);
AT(RaidCCtrlInfo, NVRAMSize, 2596);
AT(RaidCCtrlInfo, MemorySize2, 2600);
AT(RaidCCtrlInfo, FlashROMSize, 2604);
AT(RaidCCtrlInfo, AlarmPresent, 2608);
AT(RaidCCtrlInfo, PatrolReadMode, 2736);
AT(RaidCCtrlInfo, PatrolRdIterations, 2864);
AT(RaidCCtrlInfo, SMARTSupport, 2868);
AT(RaidCCtrlInfo, CoercionMode, 2996);
AT(RaidCCtrlInfo, CorrErrorCount, 3124);
AT(RaidCCtrlInfo, UncorrErrorCount, 3128);
AT(RaidCCtrlInfo, VendorID, 3132);
AT(RaidCCtrlInfo, SubVendorID, 3260);
AT(RaidCCtrlInfo, DeviceID, 3388);
AT(RaidCCtrlInfo, SubDeviceID, 3516);
static_assert(sizeof(RaidCCtrlInfo) == 3644);

AT(RaidCPdInfo, Product, 0);
AT(RaidCPdInfo, PdAllowedLocate, 128);
AT(RaidCPdInfo, PortNumber, 256);
AT(RaidCPdInfo, DeviceNumber, 260);
AT(RaidCPdInfo, Vendor, 264);
AT(RaidCPdInfo, TransferSpeed, 776);
AT(RaidCPdInfo, Type, 780);
AT(RaidCPdInfo, MediaType, 908);
AT(RaidCPdInfo, MediaErrorCount, 1036);
AT(RaidCPdInfo, MiscErrors, 1040);
AT(RaidCPdInfo, Status, 1044);
AT(RaidCPdInfo, FirmwareVersion, 1172);
AT(RaidCPdInfo, SerialNumber, 1300);
AT(RaidCPdInfo, ForeignConfig, 1428);
AT(RaidCPdInfo, PhysicalSize, 1556);
AT(RaidCPdInfo, EnclosureNumber, 1560);
AT(RaidCPdInfo, Slot, 1564);
AT(RaidCPdInfo, RemainingTime, 1568);
AT(RaidCPdInfo, RebuildProgress, 1696);
AT(RaidCPdInfo, Name, 1700);
AT(RaidCPdInfo, PowerStatus, 1828);
AT(RaidCPdInfo, Temperature, 1956);
AT(RaidCPdInfo, RPM, 1960);
static_assert(sizeof(RaidCPdInfo) == 2088);

AT(RaidCLdInfo, LogDriveNumber, 0);
AT(RaidCLdInfo, LdAllowedLocate, 4);
AT(RaidCLdInfo, RAIDLevel, 132);
AT(RaidCLdInfo, Stripesize, 260);
AT(RaidCLdInfo, WriteMode, 388);
AT(RaidCLdInfo, Status, 516);
AT(RaidCLdInfo, Name, 644);
AT(RaidCLdInfo, LogicalSize, 772);
AT(RaidCLdInfo, PhysicalSize, 776);
AT(RaidCLdInfo, OSDevice, 780);
AT(RaidCLdInfo, ReadMode, 908);
AT(RaidCLdInfo, CacheMode, 1036);
AT(RaidCLdInfo, DiskCacheMode, 1164);
AT(RaidCLdInfo, InitState, 1292);
static_assert(sizeof(RaidCLdInfo) == 1420);

AT(RaidCBbuInfo, Name, 0);
AT(RaidCBbuInfo, Vendor, 128);
AT(RaidCBbuInfo, ManufactureDate, 640);
AT(RaidCBbuInfo, DesignCapacity, 768);
AT(RaidCBbuInfo, DesignVoltage, 772);
AT(RaidCBbuInfo, Type, 900);
AT(RaidCBbuInfo, IntelligentBBU, 1028);
AT(RaidCBbuInfo, SerialNumber, 1156);
AT(RaidCBbuInfo, Status, 1284);
AT(RaidCBbuInfo, NextLearnTime, 1412);
AT(RaidCBbuInfo, DeviceName, 1540);
AT(RaidCBbuInfo, ModuleVersion, 1668);
AT(RaidCBbuInfo, AutoLearnMode, 1796);
AT(RaidCBbuInfo, AutoLearnPeriod, 1924);
AT(RaidCBbuInfo, Voltage, 1928);
AT(RaidCBbuInfo, Temperature, 2056);
AT(RaidCBbuInfo, Capacitance, 2060);
AT(RaidCBbuInfo, RemainingCapacity, 2064);
static_assert(sizeof(RaidCBbuInfo) == 2068);

AT(RaidCEncFanInfo, Name, 0);
AT(RaidCEncFanInfo, Location, 128);
AT(RaidCEncFanInfo, FanSpeed, 256);
AT(RaidCEncFanInfo, Status, 384);
static_assert(sizeof(RaidCEncFanInfo) == 512);

AT(RaidCEncPwrInfo, SerialNumber, 0);
AT(RaidCEncPwrInfo, HardwareVersion, 128);
AT(RaidCEncPwrInfo, Name, 256);
AT(RaidCEncPwrInfo, PartNumber, 384);
AT(RaidCEncPwrInfo, Status, 512);
static_assert(sizeof(RaidCEncPwrInfo) == 640);

AT(RaidCEncTempInfo, Name, 0);
AT(RaidCEncTempInfo, Location, 128);
AT(RaidCEncTempInfo, WarningTemperatureL, 256);
AT(RaidCEncTempInfo, CriticalTemperatureL, 260);
AT(RaidCEncTempInfo, WarningTemperatureH, 264);
AT(RaidCEncTempInfo, CriticalTemperatureH, 268);
AT(RaidCEncTempInfo, Temperature, 272);
AT(RaidCEncTempInfo, Status, 276);
static_assert(sizeof(RaidCEncTempInfo) == 404);

AT(RaidCEncProcInfo, PortNumber, 0);
AT(RaidCEncProcInfo, DeviceNumber, 4);
AT(RaidCEncProcInfo, EnclosureNumber, 8);
AT(RaidCEncProcInfo, Name, 12);
AT(RaidCEncProcInfo, Type, 140);
AT(RaidCEncProcInfo, Vendor, 268);
AT(RaidCEncProcInfo, Product, 396);
AT(RaidCEncProcInfo, SerialNumber, 524);
AT(RaidCEncProcInfo, PartNumber, 652);
AT(RaidCEncProcInfo, HardwareVersion, 780);
AT(RaidCEncProcInfo, FirmwareVersion, 908);
AT(RaidCEncProcInfo, Status, 1036);
AT(RaidCEncProcInfo, SASAddress, 1164);
AT(RaidCEncProcInfo, FanCount, 1292);
AT(RaidCEncProcInfo, Fans, ptrAfter(1296));
AT(RaidCEncProcInfo, PowerSupplyCount, offsetof(RaidCEncProcInfo, Fans) + kPtr);
AT(RaidCEncProcInfo, PowerSupplies, ptrAfter(offsetof(RaidCEncProcInfo, PowerSupplyCount) + 4));
AT(RaidCEncProcInfo, TempSensorCount, offsetof(RaidCEncProcInfo, PowerSupplies) + kPtr);
AT(RaidCEncProcInfo, TempSensors, ptrAfter(offsetof(RaidCEncProcInfo, TempSensorCount) + 4));
static_assert(sizeof(RaidCEncProcInfo) == ptrAfter(offsetof(RaidCEncProcInfo, TempSensors) + kPtr));
static_assert(sizeof(RaidCEncProcInfo) == (kPtr == 8 ? 1336 : 1316));

AT(RaidCEncInfo, EnclosureNumber, 0);
AT(RaidCEncInfo, EnclosureChainNumber, 4);
AT(RaidCEncInfo, EncAllowedLocate, 8);
AT(RaidCEncInfo, Product, 136);
AT(RaidCEncInfo, Vendor, 264);
AT(RaidCEncInfo, HardwareVersion, 392);
AT(RaidCEncInfo, SerialNumber, 520);
AT(RaidCEncInfo, Name, 648);
AT(RaidCEncInfo, LogicalID, 776);
AT(RaidCEncInfo, Status, 904);
AT(RaidCEncInfo, ProcessorCount, 1032);
AT(RaidCEncInfo, Processors, ptrAfter(1036));
static_assert(sizeof(RaidCEncInfo) == ptrAfter(offsetof(RaidCEncInfo, Processors) + kPtr));
static_assert(sizeof(RaidCEncInfo) == (kPtr == 8 ? 1048 : 1040));
#undef AT

} // namespace
