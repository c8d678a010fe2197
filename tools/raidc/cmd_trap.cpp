// trap listen / trap send: both ends of the trap event pipe.
#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>

using namespace cli;

namespace {

bool toWord(const std::string &s, uint32_t *out)
{
    int64_t v;
    if (!toInt64(s, &v) || v < 0 || v > UINT32_MAX)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// Waits until the pipe's descriptor is ready for `events` or ms passed
// (ms < 0: no limit).
void waitFor(const TrapEventPipe &p, short events, int ms)
{
    struct pollfd pfd = {p.Id, events, 0};
    while (poll(&pfd, 1, ms) < 0 && errno == EINTR) {
    }
}

long long monotonicMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// A received record holds strings[0] .. strings[stringCount], or none.
uint32_t receivedStrings(const TrapEventData &r)
{
    return r.strings[0] ? r.stringCount + 1 : 0;
}

void printEvent(const Args &a, const TrapEventData &r)
{
    uint32_t n = receivedStrings(r);
    if (a.json) {
        printf("%s,\"process_id\":%u,\"message_count\":%u,\"word3\":%u,\"word4\":%u,\"strings\":[", jsonStart().c_str(),
               r.processId, r.messageCount, r.word3, r.word4);
        for (uint32_t i = 0; i < n; ++i)
            printf("%s%s", i ? "," : "", jsonString(r.strings[i]).c_str());
        printf("]}\n");
    } else {
        printf("pid=%u msg=%u word3=0x%08x word4=0x%08x strings=%u", r.processId, r.messageCount, r.word3, r.word4, n);
        for (uint32_t i = 0; i < n; ++i)
            printf(" %s", jsonString(r.strings[i]).c_str());
        printf("\n");
    }
    fflush(stdout);
}

int listen(const Args &a)
{
    int count = -1, timeout = -1;
    const char *c = a.option("count"), *t = a.option("timeout");
    if (a.pos.size() != 1)
        return usageError(a, "listen takes no further words");
    if (!a.strings.empty())
        return usageError(a, "-s is for send");
    if (c && (!toInt(c, &count) || count < 1))
        return usageError(a, "--count wants a number above 0");
    if (t && (!toInt(t, &timeout) || timeout < 0))
        return usageError(a, "--timeout wants seconds (0 or more)");

    TrapEventPipe p;
    initTrapEventPipe(&p, 1);
    if (openTrapEventPipe(&p) != RAIDC_TRAP_DONE)
        return fail("cannot open the trap pipe %s", RAIDC_TRAP_PIPE_PATH);
    // Steps instead of RaidC_GetTrapEventData: a get waits for a half-sent
    // message up to the pipe's idle limit, far beyond a short --timeout.
    long long deadline = timeout < 0 ? -1 : monotonicMs() + timeout * 1000LL;
    int got = 0, rc = EXIT_OK;
    while (count < 0 || got < count) {
        if (!p.record) {
            p.record = static_cast<TrapEventData *>(calloc(1, sizeof(TrapEventData)));
            if (!p.record) {
                rc = fail("out of memory");
                break;
            }
            initTrapData(p.record);
        }
        int r = receiveTrapEvent(&p);
        if (r == RAIDC_TRAP_DONE) {
            printEvent(a, *p.record);
            RaidC_FreeTrapEventData(&p);
            ++got;
            continue;
        }
        if (r == RAIDC_TRAP_IDLE) {
            // A quiet pipe is normal for a listener. Opening again restarts
            // its clock without closing, which could discard waiting events.
            openTrapEventPipe(&p);
            continue;
        }
        if (r == RAIDC_TRAP_NO_MEMORY) {
            fprintf(stderr, "raidc: dropped a malformed trap message\n");
            initTrapData(p.record);
            continue;
        }
        if (r != RAIDC_TRAP_NO_MESSAGE && r != RAIDC_TRAP_RECV_AGAIN) {
            rc = fail("reading the trap pipe %s failed (result %d)", RAIDC_TRAP_PIPE_PATH, r);
            break;
        }
        long long left = deadline < 0 ? -1 : deadline - monotonicMs();
        if (deadline >= 0 && left <= 0) {
            rc = count < 0 ? EXIT_OK : EXIT_NO_DATA;
            break;
        }
        waitFor(p, POLLIN, left < 0 || left > 1000 ? 1000 : static_cast<int>(left));
    }
    RaidC_FreeTrapEventData(&p);
    closeTrapEventPipe(&p);
    return rc;
}

int send(const Args &a)
{
    uint32_t w3, w4;
    if (!a.options.empty())
        return usageError(a, "--%s is for listen", a.options[0].first.c_str());
    if (a.pos.size() != 3 || !toWord(a.pos[1], &w3) || !toWord(a.pos[2], &w4))
        return usageError(a, "send wants two event words (0 .. 0xffffffff)");
    if (a.strings.size() > RAIDC_TRAP_MAX_STRINGS)
        return usageError(a, "at most %d strings", RAIDC_TRAP_MAX_STRINGS);
    TrapEventData rec;
    initTrapData(&rec);
    rec.word3 = w3;
    rec.word4 = w4;
    uint32_t need = 0;
    for (const std::string &s : a.strings) {
        rec.strings[rec.stringCount++] = const_cast<char *>(s.c_str()); // only read
        need += static_cast<uint32_t>(s.size() + 1);
    }
    if (need > rec.dataSize)
        rec.dataSize = need;

    TrapEventPipe p;
    initTrapEventPipe(&p, 0);
    p.record = &rec;
    int r = transmitTrapEvent(&p);
    while (r == RAIDC_TRAP_SEND_AGAIN) {
        waitFor(p, POLLOUT, 1000);
        r = transmitTrapEvent(&p);
    }
    closeTrapEventPipe(&p);
    if (r != RAIDC_TRAP_DONE)
        return fail("sending the trap event failed (result %d)", r);
    if (a.json)
        printf("%s,\"result\":0,\"bytes\":%u}\n", jsonStart().c_str(), RAIDC_TRAP_HEADER_LEN + rec.dataSize);
    else
        printf("sent %u bytes to %s\n", RAIDC_TRAP_HEADER_LEN + rec.dataSize, RAIDC_TRAP_PIPE_PATH);
    return EXIT_OK;
}

int trap(const Args &a)
{
    if (!a.pos.empty() && a.pos[0] == "listen")
        return listen(a);
    if (!a.pos.empty() && a.pos[0] == "send")
        return send(a);
    return usageError(a, "expected 'listen' or 'send'");
}

Register r1({"trap", "listen [--json] [--count N] [--timeout SEC] | send W3 W4 [-s STRING]...",
             "print trap events as they arrive, or send one", trap, "json count= timeout= s=", 1, 3});

} // namespace
