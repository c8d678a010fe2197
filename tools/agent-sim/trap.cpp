// trap: the agent's side of the trap pipe, N events through the library.
#include "sim.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace {

int trapUsage()
{
    fprintf(stderr, "usage: raidc-agent-sim trap [--count N] W3 W4 [-s STRING]...\n");
    return 2;
}

bool parseWord(const char *text, unsigned long long max, unsigned long long *out)
{
    char *end = nullptr;
    errno = 0;
    *out = strtoull(text, &end, 0);
    return *text && *text != '-' && !*end && errno == 0 && *out <= max;
}

// Sends one event; a full pipe is waited out rather than dropping events.
int sendOne(TrapEventPipe *pipe)
{
    int r;
    do {
        struct pollfd pfd = {pipe->Id, POLLOUT, 0};
        while (pipe->isOpen && poll(&pfd, 1, 5000) < 0 && errno == EINTR) {
        }
        r = transmitTrapEvent(pipe);
    } while (r == RAIDC_TRAP_SEND_AGAIN);
    return r;
}

} // namespace

int simTrap(int argc, char **argv)
{
    unsigned long long count = 1, w[2];
    int words = 0;
    TrapEventData rec;
    initTrapData(&rec);
    uint32_t strings = 0, need = 0;
    for (int i = 0; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--count") && hasValue) {
            if (!parseWord(argv[++i], 1000000, &count) || count == 0)
                return trapUsage();
        } else if (!strcmp(argv[i], "-s") && hasValue) {
            if (strings == RAIDC_TRAP_MAX_STRINGS)
                return trapUsage();
            rec.strings[strings++] = argv[++i];
            need += static_cast<uint32_t>(strlen(argv[i]) + 1);
        } else if (words < 2 && parseWord(argv[i], 0xFFFFFFFFull, &w[words])) {
            ++words;
        } else {
            return trapUsage();
        }
    }
    if (words != 2)
        return trapUsage();
    rec.word3 = static_cast<uint32_t>(w[0]);
    rec.word4 = static_cast<uint32_t>(w[1]);
    rec.stringCount = strings;
    rec.dataSize = need > 24 ? need : 24;

    TrapEventPipe pipe;
    initTrapEventPipe(&pipe, 0);
    pipe.record = &rec;
    int r = openTrapEventPipe(&pipe);
    unsigned long long sent = 0;
    while (r == RAIDC_TRAP_DONE && sent < count) {
        r = sendOne(&pipe);
        sent += r == RAIDC_TRAP_DONE;
    }
    closeTrapEventPipe(&pipe);
    if (r != RAIDC_TRAP_DONE) {
        fprintf(stderr, "raidc-agent-sim: trap event %llu of %llu not sent (result %d)\n", sent + 1, count, r);
        return 1;
    }
    printf("sent %llu trap events to %s\n", sent, RAIDC_TRAP_PIPE_PATH);
    return 0;
}
