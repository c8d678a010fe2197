// Arbitrary bytes from the command socket peer, in arbitrary chunks, through
// the receive step.
#include "raidcommon.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    signal(SIGPIPE, SIG_IGN); // the library may close its end before all bytes are written
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 0;
    fcntl(sv[0], F_SETFL, O_NONBLOCK);
    fcntl(sv[1], F_SETFL, O_NONBLOCK);
    RaidCCmdSocket s;
    initData_RaidCCmdSocket(&s, 1);
    s.SocketFd = sv[0];
    s.isCreated = s.isConnected = 1;

    // The first byte picks the chunk size, so reads stop mid-header and mid-payload.
    size_t chunk = (data[0] % 97) + 1;
    size_t off = 1;
    int idle = 0;
    while (idle < 3) {
        if (off < size) {
            size_t n = size - off < chunk ? size - off : chunk;
            ssize_t w = write(sv[1], data + off, n);
            if (w > 0)
                off += static_cast<size_t>(w);
        } else if (sv[1] >= 0) {
            close(sv[1]); // the peer goes away at the end
            sv[1] = -1;
        }
        int r = receiveData_RaidCCmdSocket(&s);
        if (r == RAIDC_SOCK_DONE && s.data) {
            free(s.data);
            s.data = nullptr;
        }
        if (r == RAIDC_SOCK_SYSCALL_FAILED || r == RAIDC_SOCK_NO_MEMORY || r == RAIDC_SOCK_IDLE)
            break;
        idle = (off >= size && r == RAIDC_SOCK_RECV_AGAIN) ? idle + 1 : 0;
    }
    free(s.data);
    free(s.readBuffer);
    free(s.writeBuffer);
    close(sv[0]);
    if (sv[1] >= 0)
        close(sv[1]);
    return 0;
}
