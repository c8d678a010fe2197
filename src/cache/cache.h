// Library frame, device tree cache and the generic parameter lookup that
// every query family shares.
#pragma once

#include "raidcommon.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace raidc {

// ---- the library-wide lock ------------------------------------------------

class CacheLock {
public:
    CacheLock() noexcept { pthread_mutex_lock(&RaidC_ThreadMutex); }
    ~CacheLock() { pthread_mutex_unlock(&RaidC_ThreadMutex); }
    CacheLock(const CacheLock &) = delete;
    CacheLock &operator=(const CacheLock &) = delete;
};

// Runs a worker under the cache lock: the whole body of every locking
// public function.
template <typename F, typename... A> inline auto locked(F &&worker, A &&...args) noexcept
{
    CacheLock hold;
    return worker(std::forward<A>(args)...);
}

// ---- nodes ----------------------------------------------------------------

inline bool isNamed(const XMLNode *n, const char *name) noexcept
{
    // Most children differ in the first letter: no call for them.
    return n->localName && n->localName[0] == name[0] && strcmp(n->localName, name) == 0;
}

// Whether a (possibly null) text equals a name exactly.
inline bool textIs(const char *text, const char *name) noexcept
{
    return text && strcmp(text, name) == 0;
}

// An element's value: the text of its first child, or null.
inline const char *textOf(const XMLNode *n) noexcept
{
    return n && n->firstChild ? n->firstChild->nodeValue : nullptr;
}

// The value of an element's first attribute, or null.
inline const char *firstAttrValue(const XMLNode *n) noexcept
{
    return n && n->attributes ? n->attributes->nodeValue : nullptr;
}

// The first child named `name`, or null.
XMLNode *firstChildNamed(const XMLNode *parent, const char *name) noexcept;
// Child number `ordinal` (0-based) among the children named `name`, or null.
XMLNode *nthChildNamed(const XMLNode *parent, const char *name, int ordinal) noexcept;
int countChildrenNamed(const XMLNode *parent, const char *name) noexcept;

// ---- list access ----------------------------------------------------------

inline int countOf(const NodeList *l) noexcept
{
    return l ? l->count : 0;
}

// Entry `idx` of a list, or null outside it.
inline XMLNode *entryOf(const NodeList *l, int idx) noexcept
{
    return l && idx >= 0 && idx < l->count ? l->nodes[idx] : nullptr;
}

// The per-controller list `lists[ctrlIdx]` (may be null = empty).
inline NodeList *ctrlSlot(NodeList **lists, int ctrlIdx) noexcept
{
    return lists && ctrlIdx >= 0 && ctrlIdx < countOf(ctrlList) ? lists[ctrlIdx] : nullptr;
}

inline bool cacheHasControllers() noexcept
{
    return systemNode && ctrlList;
}

inline bool ctrlInRange(int ctrlIdx) noexcept
{
    return ctrlIdx >= 0 && ctrlIdx < countOf(ctrlList);
}

// The checks every controller-level query starts with: a cache (5), an
// index inside the controller list (4), an entry there (7). 0 with *ctrl set.
int pickController(int ctrlIdx, XMLNode **ctrl) noexcept;

// ---- the parameter lookup -------------------------------------------------

// "-" and -1 into whichever outputs are given.
void presetOutputs(char *strBuf, int64_t *intOut) noexcept;

// Copies a value bounded by bufLen: 3 when it did not fit, else 2.
int copyValue(char *strBuf, const char *value, unsigned int bufLen) noexcept;

// The lookup every query ends with: the first child named paramName answers
// as text into strBuf, or, with only intOut, the first such child whose text
// is a number answers as integer. 4 when nothing answers.
int lookupParam(const XMLNode *elem, const char *paramName, char *strBuf, unsigned int bufLen,
                int64_t *intOut) noexcept;

// A value as an integer, base detected, when it holds no letters.
bool numberOf(const char *text, int64_t *out) noexcept;

// Whether an enclosure processor's product text matches the pattern compiled
// at load (false when it could not be compiled).
bool matchesProcessorPattern(const char *text) noexcept;

// ---- refresh internals ------------------------------------------------------

// Releases the per-controller lists, the controller list and the relation map.
void releaseControllerState() noexcept;

enum class Rebuild {
    Done,          // every list and the relation map stand for the cached tree
    NoControllers, // no controller list or no room for the arrays: a tree without controllers
    ListMissing,   // a controller's list could not be built: nothing stands
};

// Replaces the per-controller state with one built from `systemNode`. On
// failure the state is released and every pointer to it is null.
Rebuild rebuildControllerState() noexcept;

} // namespace raidc
