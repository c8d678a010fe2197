#include "treefile.h"

#include "raidcommon.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace treefile {

void makePathDirs()
{
    std::error_code ignored; // a folder that cannot be made fails the step that needs it
    for (const char *path : {RAIDC_DEVICE_TREE_PATH, RAIDC_CMD_SOCKET_PATH, RAIDC_TRAP_PIPE_PATH})
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

int install(const void *data, size_t size)
{
    // Times count up one second per install from a point that differs per
    // process, so consecutive installs always differ in whole seconds.
    static time_t next = 1000000000 + (getpid() % 100000) * 1000;
    makePathDirs();
    const int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return errno;
    int err = 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size))
        err = errno ? errno : EIO;
    const struct timespec t[2] = {{next, 0}, {next, 0}};
    next++;
    if (!err && futimens(fd, t) != 0)
        err = errno;
    close(fd);
    return err;
}

} // namespace treefile
