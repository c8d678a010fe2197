// locate: read or set the locate indicator of a drive through the RAID agent.
#include "cli.h"

#include <cstdio>

using namespace cli;

namespace {

const char *resultText(int r)
{
    switch (r) {
    case RAIDC_SOCK_DONE: return "done";
    case RAIDC_SOCK_HEADER_IN_PAYLOAD: return "the agent's reply was malformed";
    case RAIDC_SOCK_WAIT_FAILED: return "drive or controller identifiers not found, or the wait for the reply failed";
    case RAIDC_SOCK_CREATE_FAILED: return "the socket could not be created";
    case RAIDC_SOCK_IDLE: return "idle time-out";
    case RAIDC_SOCK_TIMEOUT: return "no reply from the agent in time";
    case RAIDC_SOCK_SYSCALL_FAILED: return "the agent is not reachable or closed the connection";
    case RAIDC_SOCK_OPTION_FAILED: return "a socket option could not be set";
    case RAIDC_SOCK_NO_MEMORY: return "out of memory";
    default: return "unexpected result";
    }
}

// Whether the controller and the drive are in the cache at all: a locate
// call answers 4 alike for a drive that is not there and for one whose
// identifiers cannot be read.
bool present(bool pd, int ctrl, int dev)
{
    int64_t n = 0;
    if (RaidC_getCtrlsNumber(&n) != RAIDC_SUCCESS_INT || ctrl < 0 || ctrl >= n)
        return false;
    int st = pd ? RaidC_getPdsNumberForCtrl(ctrl, &n) : RaidC_getLdsNumberForCtrl(ctrl, &n);
    return st == RAIDC_SUCCESS_INT && dev >= 0 && dev < n;
}

int locate(const Args &a)
{
    size_t n = a.pos.size();
    if (n < 4 || n > 5)
        return usageError(a, "expected get|set, pd|ld, a controller index, a drive index and, for set, a value");
    const std::string &op = a.pos[0], &kind = a.pos[1];
    bool get = op == "get";
    if ((!get && op != "set") || (kind != "pd" && kind != "ld"))
        return usageError(a, "expected get or set, then pd or ld");
    if (n != (get ? 4u : 5u))
        return usageError(a, get ? "get takes no value" : "set needs a value");
    int ctrl, dev, value = 0;
    if (!toInt(a.pos[2], &ctrl) || !toInt(a.pos[3], &dev) || (!get && !toInt(a.pos[4], &value)))
        return usageError(a, "indices and value must be whole numbers");
    if (!loadCache())
        return EXIT_FAIL;

    bool pd = kind == "pd";
    int32_t r = get ? (pd ? RaidC_GetPhysicalDriveLocate : RaidC_GetLogicalDriveLocate)(ctrl, dev, &value)
                    : (pd ? RaidC_SetPhysicalDriveLocate : RaidC_SetLogicalDriveLocate)(ctrl, dev, value);
    if (a.json) {
        const char *device =
            raidcnames::name(pd ? raidcnames::Device::PhysicalDrive : raidcnames::Device::LogicalDrive).key;
        printf("%s,\"operation\":\"%s\",\"device_type\":\"%s\",\"controller\":%d,\"device_index\":%d,\"result\":%d,"
               "\"result_text\":%s",
               jsonStart().c_str(), op.c_str(), device, ctrl, dev, r, jsonString(resultText(r)).c_str());
        if (r == RAIDC_SOCK_DONE || !get)
            printf(",\"value\":%d", value);
        printf("}\n");
    } else if (r == RAIDC_SOCK_DONE) {
        printf("%d\n", value);
    }
    bool missing = r == RAIDC_SOCK_WAIT_FAILED && !present(pd, ctrl, dev);
    if (r != RAIDC_SOCK_DONE && !a.json)
        fprintf(stderr, "raidc: locate %s %s %d %d: %s (result %d)\n", op.c_str(), kind.c_str(), ctrl, dev,
                missing ? "no such controller or drive" : resultText(r), r);
    if (r == RAIDC_SOCK_DONE)
        return EXIT_OK;
    return missing ? EXIT_NO_DATA : EXIT_FAIL;
}

Register r({"locate", "get|set pd|ld CTRL DEV [VALUE] [--json]", "read or set a drive's locate indicator", locate,
            "json", 4, 5});

} // namespace
