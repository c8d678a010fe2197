#include "bench_util.h"
#include "treefile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
} // namespace

const std::string &treeText(int controllers, int drives)
{
    static std::map<std::pair<int, int>, std::string> cache;
    auto key = std::make_pair(controllers, drives);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::string path = "/tmp/raidc-bench-trees/" + std::to_string(controllers) + "x" + std::to_string(drives) + ".xml";
    mkdir("/tmp/raidc-bench-trees", 0755);
    if (access(path.c_str(), R_OK) != 0) {
        std::string cmd = std::string(RAIDC_GEN_TREE) + " --controllers " + std::to_string(controllers) + " --drives " +
                          std::to_string(drives) + " --seed 1 -o " + path;
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
    if (const int err = treefile::install(text.data(), text.size())) {
        fprintf(stderr, "%s: %s\n", RAIDC_DEVICE_TREE_PATH, strerror(err));
        exit(1);
    }
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
