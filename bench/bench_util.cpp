#include "bench_util.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace benchutil {

std::string readStream(FILE *f)
{
    std::string s;
    char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

namespace {
std::string readAll(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return {};
    std::string s = readStream(f);
    fclose(f);
    return s;
}

void mkdirs(const std::string &path)
{
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/')
            mkdir(path.substr(0, i).c_str(), 0755);
}
} // namespace

const std::string &treeText(int controllers, int drives)
{
    static std::map<std::pair<int, int>, std::string> cache;
    auto key = std::make_pair(controllers, drives);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::string path = "/tmp/raidc-bench-trees/" + std::to_string(controllers) + "x" + std::to_string(drives) + ".xml";
    mkdirs(path);
    if (access(path.c_str(), R_OK) != 0) {
        std::string cmd = std::string(RAIDC_GEN_TREE) + " --controllers " + std::to_string(controllers) +
                          " --drives " + std::to_string(drives) + " --seed 1 -o " + path;
        if (system(cmd.c_str()) != 0) {
            fprintf(stderr, "cannot generate %s\n", path.c_str());
            exit(1);
        }
    }
    return cache[key] = readAll(path);
}

long minorFaults()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

void installTree(const std::string &text)
{
    static time_t next = 1500000000;
    mkdirs(RAIDC_DEVICE_TREE_PATH);
    int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        perror(RAIDC_DEVICE_TREE_PATH);
        exit(1);
    }
    struct timespec t[2] = {{next, 0}, {next, 0}};
    next++;
    futimens(fd, t);
    close(fd);
}

void loadTree(int controllers, int drives)
{
    installTree(treeText(controllers, drives));
    if (RaidC_updateCache() != 0) {
        fprintf(stderr, "refresh failed\n");
        exit(1);
    }
}

} // namespace benchutil
