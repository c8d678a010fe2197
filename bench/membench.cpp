// The memory budget of the cache, per tree: what the document model itself
// must hold (the floor), the memory a process keeps after refreshes, its
// peak during a refresh (old and new tree both alive) and its address space,
// each as growth over the process before its first refresh.
//
//   raidc_membench            the three trees and the large-then-small case
//   raidc_membench C D        one tree of C controllers x D drives
//   raidc_membench C D c d    tree C x D, then the smaller c x d: c x d's budget
//
// Needs no benchmark library, so that it runs on the target too. Figures come
// from /proc/self/status (VmRSS, VmHWM, VmSize; the peak reset through
// clear_refs) where the kernel reports this process; under an emulator,
// which reports its own process there, they come from the allocator's counts
// inside the program: malloc'd bytes in use and the anonymous mappings made,
// counted by wrapping malloc and mmap, and mallinfo2 for the heap's size.
#include "bench_util.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <expat.h>
#include <malloc.h>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

// ---- the program's own count of memory -------------------------------------

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

struct Counts {
    long long heapLive = 0; // usable bytes of live malloc blocks
    long long mapped = 0;   // bytes of live anonymous mappings made through mmap
    long long peak = 0;     // highest heapLive + mapped since the last reset
    void note() { peak = std::max(peak, heapLive + mapped); }
};
Counts g_count;

void added(void *p)
{
    if (p) {
        g_count.heapLive += static_cast<long long>(malloc_usable_size(p));
        g_count.note();
    }
}

void removed(void *p)
{
    if (p)
        g_count.heapLive -= static_cast<long long>(malloc_usable_size(p));
}

template <typename F> F realFn(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

long long pageRound(size_t n)
{
    return static_cast<long long>((n + 4095) / 4096 * 4096);
}

} // namespace

extern "C" {

void *malloc(size_t n)
{
    void *p = __libc_malloc(n);
    added(p);
    return p;
}

void *calloc(size_t n, size_t size)
{
    void *p = __libc_calloc(n, size);
    added(p);
    return p;
}

void *realloc(void *old, size_t n)
{
    size_t before = old ? malloc_usable_size(old) : 0;
    void *p = __libc_realloc(old, n);
    if (p || n == 0) {
        g_count.heapLive -= static_cast<long long>(before);
        added(p);
    }
    return p;
}

void free(void *p)
{
    removed(p);
    __libc_free(p);
}

void *memalign(size_t align, size_t n)
{
    void *p = __libc_memalign(align, n);
    added(p);
    return p;
}

void *aligned_alloc(size_t align, size_t n)
{
    return memalign(align, n);
}

int posix_memalign(void **out, size_t align, size_t n)
{
    void *p = memalign(align, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    static auto real = realFn<void *(*)(void *, size_t, int, int, int, off_t)>("mmap");
    void *p = real(addr, len, prot, flags, fd, off);
    if (p != MAP_FAILED && (flags & MAP_ANONYMOUS)) {
        g_count.mapped += pageRound(len);
        g_count.note();
    }
    return p;
}

#if defined(__USE_LARGEFILE64) && !defined(__LP64__)
void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    static auto real = realFn<void *(*)(void *, size_t, int, int, int, off64_t)>("mmap64");
    void *p = real(addr, len, prot, flags, fd, off);
    if (p != MAP_FAILED && (flags & MAP_ANONYMOUS)) {
        g_count.mapped += pageRound(len);
        g_count.note();
    }
    return p;
}
#endif

void *mremap(void *old, size_t oldLen, size_t len, int flags, ...)
{
    static auto real = realFn<void *(*)(void *, size_t, size_t, int, ...)>("mremap");
    void *p = real(old, oldLen, len, flags);
    if (p != MAP_FAILED) {
        g_count.mapped += pageRound(len) - pageRound(oldLen);
        g_count.note();
    }
    return p;
}

int munmap(void *addr, size_t len)
{
    static auto real = realFn<int (*)(void *, size_t)>("munmap");
    int r = real(addr, len);
    if (r == 0)
        g_count.mapped -= pageRound(len);
    return r;
}

} // extern "C"

namespace {

// ---- what the process holds ------------------------------------------------

struct Figures {
    long long rss = 0, hwm = 0, size = 0; // bytes
};

long long statusField(const char *text, const char *key)
{
    const char *p = strstr(text, key);
    return p ? strtoll(p + strlen(key), nullptr, 10) * 1024 : 0;
}

Figures fromProc()
{
    Figures f;
    FILE *in = fopen("/proc/self/status", "r");
    if (!in)
        return f;
    std::string s = benchutil::readStream(in);
    fclose(in);
    f.rss = statusField(s.c_str(), "VmRSS:");
    f.hwm = statusField(s.c_str(), "VmHWM:");
    f.size = statusField(s.c_str(), "VmSize:");
    return f;
}

// The allocator's view: bytes in use (malloc'd and mapped), the highest of
// that since the last reset, and the address space (heap, malloc's own
// mappings, and the mappings made through mmap).
Figures fromCounts()
{
    struct mallinfo2 m = mallinfo2();
    Figures f;
    f.rss = g_count.heapLive + g_count.mapped;
    f.hwm = g_count.peak;
    f.size = static_cast<long long>(m.arena + m.hblkhd) + g_count.mapped;
    return f;
}

bool g_useProc = true;

Figures now()
{
    return g_useProc ? fromProc() : fromCounts();
}

void resetPeak()
{
    g_count.peak = g_count.heapLive + g_count.mapped;
    if (FILE *f = fopen("/proc/self/clear_refs", "w")) {
        fputs("5", f);
        fclose(f);
    }
}

// Whether /proc/self/status follows this process's memory: an emulator
// shows its own there (under its own name), and it must move when the
// program touches 8 MiB.
bool procFollowsUs()
{
    if (FILE *in = fopen("/proc/self/status", "r")) {
        std::string s = benchutil::readStream(in);
        fclose(in);
        if (s.find("qemu") != std::string::npos)
            return false;
    }
    const size_t n = size_t{8} << 20;
    long long before = fromProc().rss;
    void *p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return false;
    memset(p, 1, n);
    long long grown = fromProc().rss - before;
    ::munmap(p, n);
    return grown >= static_cast<long long>(n / 2);
}

// ---- the floor -------------------------------------------------------------

// (elements + attributes + non-blank text runs) x 12 pointer-sized fields,
// plus every value and text with its NUL.
struct FloorCount {
    long long nodes = 0, bytes = 0;
    std::string run;
    void flush()
    {
        if (run.find_first_not_of(" \t\r\n") != std::string::npos) {
            nodes++;
            bytes += static_cast<long long>(run.size()) + 1;
        }
        run.clear();
    }
};

long long floorOf(const std::string &text)
{
    FloorCount c;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &c);
    XML_SetElementHandler(
        p,
        [](void *ud, const XML_Char *, const XML_Char **atts) {
            auto *fc = static_cast<FloorCount *>(ud);
            fc->flush();
            fc->nodes++;
            for (; atts[0]; atts += 2) {
                fc->nodes++;
                fc->bytes += static_cast<long long>(strlen(atts[1])) + 1;
            }
        },
        [](void *ud, const XML_Char *) { static_cast<FloorCount *>(ud)->flush(); });
    XML_SetCharacterDataHandler(p, [](void *ud, const XML_Char *s, int len) {
        static_cast<FloorCount *>(ud)->run.append(s, static_cast<size_t>(len));
    });
    if (XML_Parse(p, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_OK) {
        fprintf(stderr, "tree does not parse\n");
        exit(1);
    }
    XML_ParserFree(p);
    return c.nodes * 12 * static_cast<long long>(sizeof(void *)) + c.bytes;
}

// ---- one run ---------------------------------------------------------------

double kib(long long bytes)
{
    return static_cast<double>(bytes) / 1024.0;
}

void refreshOrDie()
{
    if (RaidC_updateCache() != 0) {
        fprintf(stderr, "refresh failed\n");
        exit(1);
    }
}

// Refreshes of tree C x D (and then of c x d when given), four each, and the
// figures against the budget of the tree refreshed last. 0 when it holds.
int runOne(int C, int D, int c, int d)
{
    const std::string &big = benchutil::treeText(C, D);
    const std::string &last = c > 0 ? benchutil::treeText(c, d) : big;
    const long long floor = floorOf(last);
    g_useProc = !getenv("RAIDC_MEMBENCH_COUNTS") && procFollowsUs();

    const Figures base = now();
    if (getenv("RAIDC_MEMBENCH_DETAIL")) {
        FILE *in = fopen("/proc/self/status", "r");
        std::string st = in ? benchutil::readStream(in) : "";
        if (in)
            fclose(in);
        printf("before: anon %.0f KiB, file %.0f KiB\n", kib(statusField(st.c_str(), "RssAnon:")),
               kib(statusField(st.c_str(), "RssFile:")));
    }
    long long peak = 0;
    auto cycle = [&](const std::string &text) {
        for (int i = 0; i < 4; ++i) {
            benchutil::installTree(text);
            resetPeak();
            refreshOrDie();
            peak = std::max(peak, now().hwm);
        }
    };
    cycle(big);
    if (c > 0) {
        // The change to the small tree, then its own refreshes.
        benchutil::installTree(last);
        refreshOrDie();
        peak = 0;
        cycle(last);
    }
    const Figures end = now();
    if (getenv("RAIDC_MEMBENCH_DETAIL")) {
        FILE *in = fopen("/proc/self/status", "r");
        std::string st = in ? benchutil::readStream(in) : "";
        if (in)
            fclose(in);
        printf("heap in use %.0f KiB, mapped %.0f KiB, anon %.0f KiB, file %.0f KiB\n", kib(g_count.heapLive),
               kib(g_count.mapped), kib(statusField(st.c_str(), "RssAnon:")), kib(statusField(st.c_str(), "RssFile:")));
    }

    const long long steady = end.rss - base.rss;
    const long long peakGrowth = peak - base.rss;
    const long long space = end.size - base.size;
    const double steadyMax = 1.25 * static_cast<double>(floor) + 256 * 1024;
    const double peakMax = 2.5 * static_cast<double>(floor) + 512 * 1024;
    const double spaceMax = 1.5 * static_cast<double>(steady) + 1024 * 1024;
    // After a large tree, what counts is that its memory went back: the small
    // tree's resident memory and peak within the small tree's budget.
    const bool ok = static_cast<double>(steady) <= steadyMax && static_cast<double>(peakGrowth) <= peakMax &&
                    (c > 0 || static_cast<double>(space) <= spaceMax);

    char tree[64];
    if (c > 0)
        snprintf(tree, sizeof tree, "%dx%d after %dx%d", c, d, C, D);
    else
        snprintf(tree, sizeof tree, "%dx%d", C, D);
    const double f = static_cast<double>(floor);
    printf("%-18s %-6s %9.0f %9.0f (%.2fx, max %.0f) %9.0f (%.2fx, max %.0f) %9.0f (%.2fx steady, max %.0f)  %s\n",
           tree, g_useProc ? "proc" : "counts", kib(floor), kib(steady), static_cast<double>(steady) / f,
           steadyMax / 1024, kib(peakGrowth), static_cast<double>(peakGrowth) / f, peakMax / 1024, kib(space),
           steady > 0 ? static_cast<double>(space) / static_cast<double>(steady) : 0.0, spaceMax / 1024,
           ok ? "within budget" : "OVER BUDGET");
    return ok ? 0 : 1;
}

// Each case in a child process of its own, so that each starts from a
// process that never refreshed (a fork without exec works under the
// emulator too).
int inChild(int C, int D, int c, int d)
{
    fflush(stdout);
    // A fresh program where it can be started: a forked child would share
    // the pages of its parent, which blurs what it holds.
    char args[4][16];
    char *argv[] = {args[0], args[1], args[2], args[3], nullptr, nullptr};
    int n = c > 0 ? 4 : 2;
    const int v[4] = {C, D, c, d};
    for (int i = 0; i < n; ++i)
        snprintf(args[i], sizeof args[i], "%d", v[i]);
    std::string self = "/proc/self/exe";
    std::vector<char *> full{self.data()};
    full.insert(full.end(), argv, argv + n);
    full.push_back(nullptr);
    pid_t pid = -1;
    if (procFollowsUs() && posix_spawn(&pid, self.c_str(), nullptr, nullptr, full.data(), environ) != 0)
        pid = -1;
    if (pid < 0)
        pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int r = runOne(C, D, c, d);
        fflush(stdout);
        _exit(r);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 || argc == 5) {
        int v[4] = {0, 0, 0, 0};
        for (int i = 1; i < argc; ++i)
            v[i - 1] = atoi(argv[i]);
        return runOne(v[0], v[1], v[2], v[3]);
    }
    printf("%d-bit; KiB growth over the process before its first refresh, after 4 refreshes of a changed file\n",
           static_cast<int>(sizeof(void *) * 8));
    printf("%-18s %-6s %9s %9s %26s %9s %26s %9s\n", "tree", "source", "floor", "steady", "", "peak", "", "space");
    // Trees from the generator are made once, before any case runs.
    for (auto [c, d] : {std::pair{1, 8}, std::pair{2, 64}, std::pair{8, 1000}})
        benchutil::treeText(c, d);
    int bad = 0;
    const int cases[][4] = {{1, 8, 0, 0}, {2, 64, 0, 0}, {8, 1000, 0, 0}, {8, 1000, 1, 8}};
    for (const auto &k : cases) {
        int r = inChild(k[0], k[1], k[2], k[3]);
        if (r < 0)
            printf("case %dx%d did not run\n", k[0], k[1]);
        bad += r != 0;
    }
    return bad ? 1 : 0;
}
