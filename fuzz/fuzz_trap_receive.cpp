// Arbitrary bytes from a trap producer, in arbitrary chunks, through the
// receive step. (The consumer's get keeps stepping while a message is
// incomplete, so the step itself is driven here.)
#include "raidcommon.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {
TrapEventData *freshRecord()
{
    auto *r = static_cast<TrapEventData *>(calloc(1, sizeof(TrapEventData)));
    initTrapData(r);
    return r;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    signal(SIGPIPE, SIG_IGN); // the library may close its end before all bytes are written
    int p[2];
    if (pipe(p) != 0)
        return 0;
    fcntl(p[0], F_SETFL, O_NONBLOCK);
    fcntl(p[1], F_SETFL, O_NONBLOCK);
    TrapEventPipe tp;
    initTrapEventPipe(&tp, 0);
    tp.Id = p[0];
    tp.isOpen = tp.isCreated = 1;
    tp.record = freshRecord();

    size_t chunk = (data[0] % 61) + 1;
    size_t off = 1;
    for (int rounds = 0; rounds < 100000; ++rounds) {
        if (off < size) {
            size_t n = size - off < chunk ? size - off : chunk;
            ssize_t w = write(p[1], data + off, n);
            if (w > 0)
                off += static_cast<size_t>(w);
        }
        int r = receiveTrapEvent(&tp);
        if (r == RAIDC_TRAP_DONE) {
            RaidC_FreeTrapEventData(&tp);
            tp.record = freshRecord();
        } else if (r == RAIDC_TRAP_IO_FAILED || (off >= size && r != RAIDC_TRAP_RECV_AGAIN)) {
            break;
        } else if (off >= size && r == RAIDC_TRAP_RECV_AGAIN && rounds > static_cast<int>(size) * 2 + 16) {
            break; // the rest of an incomplete message never comes
        }
    }
    RaidC_FreeTrapEventData(&tp);
    free(tp.readBuffer);
    free(tp.writeBuffer);
    if (tp.isOpen)
        close(p[0]);
    close(p[1]);
    return 0;
}
