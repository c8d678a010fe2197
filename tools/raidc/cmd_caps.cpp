// caps, mib
#include "cli.h"

#include <json-c/json.h>

#include <cstdio>
#include <cstring>

using namespace cli;

namespace {

int caps(const Args &a)
{
    int idx = 0;
    if (a.pos.size() > 1)
        return usageError(a, "expected at most a controller index");
    if (a.pos.size() == 1 && !toInt(a.pos[0], &idx))
        return usageError(a, "controller index '%s' is not a number", a.pos[0].c_str());
    if (!loadCache())
        return EXIT_FAIL;
    if (int rc = findController(idx))
        return rc;
    string_t text;
    string_init(text);
    int st = RaidC_getCtrlInfo2("RAIDCapabilities", idx, text, nullptr);
    int rc = EXIT_OK;
    if (st != RAIDC_SUCCESS_STRING) {
        fprintf(stderr, "raidc: controller %d: %s (status %d)\n", idx, RaidC_AccessStatusToString(st), st);
        rc = exitFor(st) == EXIT_OK ? EXIT_NO_DATA : exitFor(st);
    } else if (json_object *doc = a.pretty ? json_tokener_parse(string_get_cstr(text)) : nullptr) {
        printf("%s\n", json_object_to_json_string_ext(doc, JSON_C_TO_STRING_PRETTY));
        json_object_put(doc);
    } else {
        printf("%s\n", string_get_cstr(text));
    }
    string_clear(text);
    return rc;
}

struct MibObject {
    const char *name;
    int (*map)(const char *, int32_t *);
};

int stripeSize(const char *text, int32_t *value)
{
    std::string copy = text;
    return mibMapper_getLdStripeSize(copy.data(), value);
}

const MibObject kMibObjects[] = {
    {"ctrl-status", mibMapper_getCtrlStatus},
    {"ctrl-interface", mibMapper_getCtrlInterface},
    {"ld-write-mode", mibMapper_getLdWriteMode},
    {"ld-read-mode", mibMapper_getLdReadMode},
    {"ld-cache-mode", mibMapper_getLdCacheMode},
    {"ld-disk-cache-mode", mibMapper_getLdDiskCacheMode},
    {"ld-init-status", mibMapper_getLdInitStatus},
    {"ld-status", mibMapper_getLdStatus},
    {"ld-status-ex", mibMapper_getLdStatusEx},
    {"ld-raid-level", mibMapper_getLdRaidLevelNum},
    {"ld-stripe-size", stripeSize},
    {"pd-power-status", mibMapper_getPdPowerStatus},
    {"pd-status", mibMapper_getPdStatus},
    {"pd-status-ex", mibMapper_getPdStatusEx},
    {"pd-interface", mibMapper_getPdInterface},
    {"pd-device-type", mibMapper_getPdDeviceType},
    {"pd-foreign-config", mibMapper_getPdForeignConfig},
    {"svr-status", mibMapper_getSvrStatus},
};

void listMibObjects(FILE *out)
{
    fprintf(out, "objects:");
    for (const MibObject &o : kMibObjects)
        fprintf(out, " %s", o.name);
    fputc('\n', out);
}

int mib(const Args &a)
{
    if (a.option("list") || (a.pos.size() == 1 && a.pos[0] == "list")) {
        listMibObjects(stdout);
        return EXIT_OK;
    }
    const MibObject *obj = nullptr;
    for (const MibObject &o : kMibObjects)
        obj = !obj && a.pos.size() == 2 && a.pos[0] == o.name ? &o : obj;
    if (!obj) {
        int rc = a.pos.size() == 2 ? usageError(a, "unknown object '%s'", a.pos[0].c_str())
                                   : usageError(a, "expected an object and a text");
        listMibObjects(stderr);
        return rc;
    }
    // Four objects write nothing for texts they do not know: two calls with
    // different presets tell a written value from an untouched output.
    const char *text = a.pos[1].c_str();
    int32_t first = 0, second = 1;
    obj->map(text, &first);
    obj->map(text, &second);
    bool written = first == second;
    if (a.json) {
        printf("%s,\"object\":%s,\"text\":%s,\"value\":", jsonStart().c_str(), jsonString(obj->name).c_str(),
               jsonString(text).c_str());
        written ? printf("%d}\n", first) : printf("null}\n");
    } else if (written) {
        printf("%d\n", first);
    } else {
        fprintf(stderr, "raidc: %s: '%s' has no value\n", obj->name, text);
    }
    return written ? EXIT_OK : EXIT_NO_DATA;
}

Register r1({"caps", "[CTRL] [--pretty]", "print a controller's RAID capabilities as JSON", caps, "pretty", 0, 1});
Register r2({"mib", "OBJECT TEXT [--json] | list", "print the MIB integer of a status or mode text", mib, "json list",
             0, 2});

} // namespace
