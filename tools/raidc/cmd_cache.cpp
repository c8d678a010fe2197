// refresh, dump, ctrl, status-text
#include "cli.h"

#include <cstdio>
#include <cstring>

using namespace cli;

namespace {

int refresh(const Args &a)
{
    if (!a.pos.empty())
        return usageError(a, "refresh takes no arguments");
    int r = RaidC_updateCache();
    if (a.json)
        printf("{\"result\":%d,\"meaning\":%s}\n", r, jsonString(updateResultText(r)).c_str());
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
    Print_xmlNode(rootNode, "+", 1);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
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
        printf("{\"status\":%d,\"text\":%s}\n", n, jsonString(RaidC_AccessStatusToString(n)).c_str());
    else
        printf("%s\n", RaidC_AccessStatusToString(n));
    return EXIT_OK;
}

Register r1({"refresh", "", "refresh the cache and print the update result", refresh});
Register r2({"dump", "", "print the cached document tree", dump});
Register r3({"ctrl", "PARAM [CTRL] [--int]", "print a controller parameter", ctrl});
Register r4({"status-text", "N", "print the text of an access status", statusText});

} // namespace
