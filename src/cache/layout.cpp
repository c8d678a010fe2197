// The document model and the relation map are shared with callers, so their
// layouts are fixed: every field a pointer-sized slot (XMLNode) or a 32-bit
// integer or pointer in declared order. The checks hold for 4- and 8-byte
// pointers alike.
#include "raidcommon.h"

#include <cstddef>

namespace {

constexpr size_t kPtr = sizeof(void *);
// Offset of a pointer that follows `bytes` of 32-bit fields.
constexpr size_t ptrAfter(size_t bytes)
{
    return (bytes + alignof(void *) - 1) / alignof(void *) * alignof(void *);
}

#define SLOT(m, i) static_assert(offsetof(XMLNode, m) == (i) * kPtr, "XMLNode::" #m " moved")
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

} // namespace
