#include "sim.h"

#include <cstdio>
#include <cstring>

namespace {

struct SimCommand {
    const char *name;
    const char *usage;
    int (*run)(int, char **);
};

const SimCommand kCommands[] = {
    {"install", "FILE                 install FILE as the device tree file (under the file lock)", simInstall},
    {"touch", "                       give the device tree file a new modification time", simTouch},
    {"serve", "[--once] [--silent] [--slow MS] [--garbage] [--close-mid] [--count N] [--log]  serve the command socket",
     simServe},
    {"trap", "[--count N] W3 W4 [-s STRING]...  send trap events", simTrap},
};

void usage(FILE *out)
{
    fprintf(out, "usage: raidc-agent-sim COMMAND [ARGS]\n");
    for (const SimCommand &c : kCommands)
        fprintf(out, "  %s %s\n", c.name, c.usage);
    fprintf(out, "paths: %s, %s, %s\n", RAIDC_DEVICE_TREE_PATH, RAIDC_CMD_SOCKET_PATH, RAIDC_TRAP_PIPE_PATH);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    for (const SimCommand &c : kCommands) {
        if (strcmp(c.name, argv[1]) == 0)
            return c.run(argc - 2, argv + 2);
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        usage(stdout);
        return 0;
    }
    fprintf(stderr, "raidc-agent-sim: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
