// Installing and touching the device tree file the way the agent does:
// under the same file lock that the library's refresh takes.
#include "sim.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int makeParents(const char *path)
{
    std::string p = path;
    for (size_t i = 1; i < p.size(); ++i) {
        if (p[i] != '/')
            continue;
        std::string dir = p.substr(0, i);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return -1;
    }
    return 0;
}

// Moves the file's modification time at least one whole second past what
// it was, so that a reader comparing whole seconds sees the change.
int bumpTime(int fd, const struct stat &before)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    time_t t = now.tv_sec > before.st_mtime ? now.tv_sec : before.st_mtime + 1;
    struct timespec times[2] = {{t, 0}, {t, 0}};
    return futimens(fd, times);
}

} // namespace

int simInstall(int argc, char **argv)
{
    if (argc != 1) {
        fprintf(stderr, "usage: raidc-agent-sim install FILE\n");
        return 2;
    }
    FILE *in = fopen(argv[0], "rb");
    if (!in) {
        fprintf(stderr, "raidc-agent-sim: %s: %s\n", argv[0], strerror(errno));
        return 1;
    }
    std::string data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0)
        data.append(buf, n);
    fclose(in);

    const char *path = RAIDC_DEVICE_TREE_PATH;
    if (makeParents(path) != 0) {
        fprintf(stderr, "raidc-agent-sim: cannot create the folders of %s: %s\n", path, strerror(errno));
        return 1;
    }
    int fd = open(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0) {
        fprintf(stderr, "raidc-agent-sim: %s: %s\n", path, strerror(errno));
        if (fd >= 0)
            close(fd);
        return 1;
    }
    struct stat before = {};
    fstat(fd, &before);
    bool ok = ftruncate(fd, 0) == 0 && pwrite(fd, data.data(), data.size(), 0) == static_cast<ssize_t>(data.size());
    ok = ok && bumpTime(fd, before) == 0;
    lockf(fd, F_ULOCK, 0);
    close(fd);
    if (!ok) {
        fprintf(stderr, "raidc-agent-sim: writing %s failed: %s\n", path, strerror(errno));
        return 1;
    }
    printf("installed %s as %s (%zu bytes)\n", argv[0], path, data.size());
    return 0;
}

int simTouch(int argc, char **)
{
    if (argc != 0) {
        fprintf(stderr, "usage: raidc-agent-sim touch\n");
        return 2;
    }
    int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR);
    struct stat before;
    if (fd < 0 || fstat(fd, &before) != 0 || bumpTime(fd, before) != 0) {
        fprintf(stderr, "raidc-agent-sim: %s: %s\n", RAIDC_DEVICE_TREE_PATH, strerror(errno));
        if (fd >= 0)
            close(fd);
        return 1;
    }
    close(fd);
    return 0;
}
