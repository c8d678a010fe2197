// Load-time set-up, status texts and the print hooks.
#include "cache.h"

#include <cstdarg>
#include <cstdio>
#include <regex.h>

pthread_mutex_t RaidC_ThreadMutex;

namespace {

const char kProcessorPattern[] = "^S(AS){0,1}[0-9]{1,2}_[0-9_]{0,3}[Ee][Xx][Pp][A-Za-z0-9]+*$";
regex_t g_procPattern;
bool g_procPatternOk = false;

const char *const kStatusTexts[] = {
    "Success with integer value",
    "Success with string value",
    "Buffer is filled, but not big enough",
    "Parameter cannot be found",
    "Cache is empty",
    "Given input is not initialized",
    "Device not found",
    "Device is available but extern connected",
    "Cache update failed",
    "No more memory ",
};

} // namespace

extern "C" {

__attribute__((constructor)) void libraidcommon_init(void) noexcept
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&RaidC_ThreadMutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (regcomp(&g_procPattern, kProcessorPattern, REG_EXTENDED | REG_NOSUB) != 0) {
        printf("libraidcommon_init regex '%s' not compiled", kProcessorPattern);
        return;
    }
    g_procPatternOk = true;
}

__attribute__((destructor)) void libraidcommon_fini(void) noexcept
{
    if (g_procPatternOk) {
        regfree(&g_procPattern);
        g_procPatternOk = false;
    }
    pthread_mutex_destroy(&RaidC_ThreadMutex);
}

const char *RaidC_AccessStatusToString(int status) noexcept
{
    if (status < 1 || status > 10)
        return "status unknown";
    return kStatusTexts[status - 1];
}

// The header this file is built with is the one the build writes, so its
// version is the project's.
const char *RaidC_GetVersion(void) noexcept
{
    return RAIDC_VERSION_STRING;
}

int RaidCPrint(const char *, ...) noexcept
{
    return 0;
}

int RaidCPrintError(const char *, ...) noexcept
{
    return 0;
}

int RaidPrint(const char *, ...) noexcept
{
    return 0;
}

int RaidPrintError(const char *format, ...) noexcept
{
    va_list ap;
    va_start(ap, format);
    int r = vfprintf(stdout, format, ap);
    va_end(ap);
    return r;
}

int RaidC_forTest(void) noexcept
{
    return RaidC_updateCache();
}

} // extern "C"

bool raidc::matchesProcessorPattern(const char *text) noexcept
{
    return g_procPatternOk && text && regexec(&g_procPattern, text, 0, nullptr, 0) == 0;
}
