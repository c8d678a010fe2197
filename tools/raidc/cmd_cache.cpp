// refresh, dump, ctrl, status-text
#include "cli.h"

#include <cstdio>
#include <cstring>
#include <vector>

using namespace cli;

namespace {

// The deepest tree `dump` prints, in levels of nodes (the root element is
// level 1, the text of an element one level below it). Each level indents
// every line of the levels below by one more character, so a hostile tree
// nested a few hundred thousand levels deep would otherwise make gigabytes.
constexpr size_t kMaxDumpDepth = 64;

// Whether the tree below `root` goes deeper than `limit` levels. Walks with
// a stack of its own, as deep as the limit at most.
bool deeperThan(const XMLNode *root, size_t limit)
{
    std::vector<const XMLNode *> path; // the node of each level down to the current one
    for (const XMLNode *n = root; n;) {
        path.push_back(n);
        if (path.size() > limit)
            return true;
        n = n->firstChild;
        while (!n && !path.empty()) {
            const XMLNode *done = path.back();
            path.pop_back();
            n = path.empty() ? nullptr : done->nextSibling; // the root's siblings are not dumped
        }
    }
    return false;
}

int refresh(const Args &a)
{
    if (!a.pos.empty())
        return usageError(a, "refresh takes no arguments");
    int r = RaidC_updateCache();
    if (a.json)
        printf("%s,\"result\":%d,\"meaning\":%s}\n", jsonStart().c_str(), r, jsonString(updateResultText(r)).c_str());
    else
        printf("%d %s\n", r, updateResultText(r));
    return r == RAIDC_UPDATE_OK ? EXIT_OK : EXIT_FAIL;
}

int dump(const Args &a)
{
    if (!a.pos.empty())
        return usageError(a, "dump takes no arguments");
    if (!loadCache())
        return EXIT_FAIL;
    pthread_mutex_lock(&RaidC_ThreadMutex);
    bool tooDeep = deeperThan(rootNode, kMaxDumpDepth);
    if (!tooDeep)
        Print_xmlNode(rootNode, "+", 1);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    if (tooDeep)
        return fail("the device tree is nested deeper than %zu levels; not dumping it", kMaxDumpDepth);
    return EXIT_OK;
}

int ctrl(const Args &a)
{
    int idx = 0;
    if (a.pos.empty() || a.pos.size() > 2)
        return usageError(a, "expected a parameter name and an optional controller index");
    if (a.pos.size() == 2 && !toInt(a.pos[1], &idx))
        return usageError(a, "controller index '%s' is not a number", a.pos[1].c_str());
    if (!loadCache())
        return EXIT_FAIL;
    if (int rc = findController(idx))
        return rc;
    char buf[4096];
    int64_t value = -1;
    const char *p = a.pos[0].c_str();
    int st = a.asInt ? RaidC_getCtrlInfo(p, idx, nullptr, 0, &value)
                     : RaidC_getCtrlInfo(p, idx, buf, sizeof buf - 1, nullptr);
    buf[sizeof buf - 1] = '\0';
    return printAnswer(a, p, st, buf, value);
}

int statusText(const Args &a)
{
    int n;
    if (a.pos.size() != 1 || !toInt(a.pos[0], &n))
        return usageError(a, "expected one status number");
    if (a.json)
        printf("%s,\"status\":%d,\"text\":%s}\n", jsonStart().c_str(), n,
               jsonString(RaidC_AccessStatusToString(n)).c_str());
    else
        printf("%s\n", RaidC_AccessStatusToString(n));
    return EXIT_OK;
}

Register r1({"refresh", "[--json]", "refresh the cache and print the update result", refresh, "json"});
Register r2({"dump", "", "print the cached document tree", dump});
Register r3({"ctrl", "PARAM [CTRL] [--int] [--json]", "print a controller parameter", ctrl, "int json", 1, 2});
Register r4({"status-text", "N [--json]", "print the text of an access status", statusText, "json", 1, 1});

} // namespace
