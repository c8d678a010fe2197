#include "cli.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cli {

const Command *current = nullptr;

namespace {
std::vector<Command> &registry()
{
    static std::vector<Command> r;
    return r;
}

void printUsage(FILE *out)
{
    fprintf(out, "usage: raidc COMMAND [ARGS] [--json]\n\ncommands:\n");
    for (const Command &c : registry())
        fprintf(out, "  %-10s %-28s %s\n", c.name, c.usage, c.summary);
    fprintf(out, "\nThe device tree is read from %s.\n", RAIDC_DEVICE_TREE_PATH);
}
} // namespace

Register::Register(const Command &c)
{
    registry().push_back(c);
}

const char *Args::option(const char *name) const
{
    for (auto &o : options)
        if (o.first == name)
            return o.second.c_str();
    return nullptr;
}

int usageError(const Args &, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fputs("raidc: ", stderr);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    if (current)
        fprintf(stderr, "\nusage: raidc %s %s\n", current->name, current->usage);
    else
        fputc('\n', stderr);
    return EXIT_USAGE;
}

int fail(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fputs("raidc: ", stderr);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    return EXIT_FAIL;
}

bool toInt64(const std::string &s, int64_t *out)
{
    if (s.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(s.c_str(), &end, 0);
    if (errno || *end)
        return false;
    *out = v;
    return true;
}

bool toInt(const std::string &s, int *out)
{
    int64_t v;
    if (!toInt64(s, &v) || v < INT_MIN || v > INT_MAX)
        return false;
    *out = static_cast<int>(v);
    return true;
}

const char *updateResultText(int r)
{
    switch (r) {
    case RAIDC_UPDATE_OK:
        return "cache is current";
    case RAIDC_UPDATE_UNUSABLE:
        return "device tree file is unusable (empty, unreadable, malformed, or without System/Adapter)";
    case RAIDC_UPDATE_OPEN_FAILED:
        return "device tree file could not be opened or locked";
    default:
        return "unknown result";
    }
}

bool loadCache()
{
    int r = RaidC_updateCache();
    if (r == RAIDC_UPDATE_OK)
        return true;
    fprintf(stderr, "raidc: %s: %s (result %d)\n", RAIDC_DEVICE_TREE_PATH, updateResultText(r), r);
    return false;
}

std::string jsonString(const char *s)
{
    std::string out = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s ? s : ""); *p; ++p) {
        switch (*p) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (*p < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", *p);
                out += buf;
            } else {
                out += static_cast<char>(*p);
            }
        }
    }
    return out + "\"";
}

// Prints one parameter answer: text (or integer) and the access status.
int printAnswer(const Args &a, const char *param, int st, const char *text, int64_t value)
{
    bool ok = st == RAIDC_SUCCESS_INT || st == RAIDC_SUCCESS_STRING || st == RAIDC_BUFFER_TOO_SMALL;
    if (a.json) {
        printf("{\"parameter\":%s,\"status\":%d,\"statusText\":%s", jsonString(param).c_str(), st,
               jsonString(RaidC_AccessStatusToString(st)).c_str());
        if (ok && a.asInt)
            printf(",\"value\":%lld", static_cast<long long>(value));
        else if (ok)
            printf(",\"value\":%s", jsonString(text).c_str());
        printf("}\n");
    } else if (ok) {
        if (a.asInt)
            printf("%lld\n", static_cast<long long>(value));
        else
            printf("%s\n", text);
        if (st == RAIDC_BUFFER_TOO_SMALL)
            fprintf(stderr, "raidc: %s\n", RaidC_AccessStatusToString(st));
    } else {
        fprintf(stderr, "raidc: %s: %s (status %d)\n", param, RaidC_AccessStatusToString(st), st);
    }
    return ok ? EXIT_OK : EXIT_NO_DATA;
}

} // namespace cli

int main(int argc, char **argv)
{
    using namespace cli;
    if (argc < 2 || !strcmp(argv[1], "-h") || !strcmp(argv[1], "--help") || !strcmp(argv[1], "help")) {
        printUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_USAGE : EXIT_OK;
    }
    if (!strcmp(argv[1], "--version") || !strcmp(argv[1], "-V")) {
        printf("raidc %s (library %s)\n", RAIDC_VERSION_STRING, RaidC_GetVersion());
        return EXIT_OK;
    }
    for (const Command &c : registry()) {
        if (strcmp(c.name, argv[1]) != 0)
            continue;
        current = &c;
        Args a;
        for (int i = 2; i < argc; ++i) {
            std::string w = argv[i];
            if (w == "--json")
                a.json = true;
            else if (w == "--int")
                a.asInt = true;
            else if (w == "--pretty")
                a.pretty = true;
            else if (w == "--verbose" || w == "-v")
                a.verbose = true;
            else if (w == "-s") {
                if (i + 1 >= argc)
                    return usageError(a, "-s needs a string");
                a.strings.push_back(argv[++i]);
            } else if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
                // --name=value, --name value, or a bare --name (a flag) when
                // nothing or another option follows.
                auto eq = w.find('=');
                if (eq != std::string::npos)
                    a.options.emplace_back(w.substr(2, eq - 2), w.substr(eq + 1));
                else if (i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0)
                    a.options.emplace_back(w.substr(2), argv[++i]);
                else
                    a.options.emplace_back(w.substr(2), "");
            } else {
                a.pos.push_back(w);
            }
        }
        return c.run(a);
    }
    fprintf(stderr, "raidc: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return EXIT_USAGE;
}
