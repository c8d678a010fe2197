// Allocation wrappers with an optional fault point. In a build with
// RAIDC_FAULT_INJECTION the environment-free control below lets a test make
// the N-th allocation (counted from when it was armed) fail.
#include "libunix.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#ifdef RAIDC_FAULT_INJECTION
namespace {
std::atomic<long> g_countdown{0}; // 0 = disarmed
std::atomic<long> g_calls{0};
} // namespace

extern "C" __attribute__((visibility("default"))) void raidc_fault_arm(long nth) noexcept
{
    g_calls = 0;
    g_countdown = nth;
}

extern "C" __attribute__((visibility("default"))) long raidc_fault_calls(void) noexcept
{
    return g_calls;
}

// The hook a test hangs on named moments, e.g. to change a file while it
// is being read.
static std::atomic<void (*)(const char *)> g_pauseHook{nullptr};

extern "C" __attribute__((visibility("default"))) void raidc_fault_on_pause(void (*hook)(const char *point)) noexcept
{
    g_pauseHook = hook;
}

void plat_fault_pause(const char *point) noexcept
{
    if (auto hook = g_pauseHook.load())
        hook(point);
}

bool plat_fault_hit() noexcept
{
    g_calls++;
    long c = g_countdown.load();
    while (c > 0) {
        if (g_countdown.compare_exchange_weak(c, c - 1))
            return c == 1;
    }
    return false;
}
#else
bool plat_fault_hit() noexcept
{
    return false;
}

void plat_fault_pause(const char *) noexcept
{
}
#endif

void *plat_malloc(size_t n) noexcept
{
    return plat_fault_hit() ? nullptr : malloc(n);
}

void *plat_calloc(size_t n, size_t size) noexcept
{
    return plat_fault_hit() ? nullptr : calloc(n, size);
}

void *plat_realloc(void *p, size_t n) noexcept
{
    return plat_fault_hit() ? nullptr : realloc(p, n);
}

char *plat_strdup(const char *s) noexcept
{
    return plat_fault_hit() ? nullptr : strdup(s);
}

#ifdef RAIDC_FAULT_INJECTION
// json-c has no allocator hook; the fault build renames its allocation calls
// to these.
extern "C" void *raidc_fault_malloc(size_t n) noexcept
{
    return plat_malloc(n);
}

extern "C" void *raidc_fault_calloc(size_t n, size_t size) noexcept
{
    return plat_calloc(n, size);
}

extern "C" void *raidc_fault_realloc(void *p, size_t n) noexcept
{
    return plat_realloc(p, n);
}

extern "C" char *raidc_fault_strdup(const char *s) noexcept
{
    return plat_strdup(s);
}
#endif
