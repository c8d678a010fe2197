#include "cli.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
    fprintf(out, "\n'raidc COMMAND --help' prints a command's usage. The device tree is read from %s.\n",
            RAIDC_DEVICE_TREE_PATH);
}

// A closed standard stream gets /dev/null opened against its direction: no
// file the tool opens can take its place, and a write to a closed standard
// output fails as it should.
void holdStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        int n = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (n > fd) {
            dup2(n, fd);
            close(n);
        }
    }
}

// A reader that goes away ends the tool at once and quietly, as it ends
// other tools, even when the parent left SIGPIPE ignored or blocked.
void defaultSigpipe()
{
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
}

// Whatever the command printed must have reached standard output: a lost
// write is a failed command, never a success.
int finishOutput(int rc, int failedRc)
{
    errno = 0;
    bool flushed = fflush(stdout) == 0;
    int err = errno;
    if (flushed && !ferror(stdout))
        return rc;
    if (err == EPIPE)
        return failedRc;
    fprintf(stderr, "raidc: cannot write to standard output%s%s\n", err ? ": " : "", err ? strerror(err) : "");
    return failedRc;
}
// Why the command line was refused.
std::string parseError;

enum class Parsed { Ok, Help, Bad };

// Whether the command takes option `name`: 0 no, 1 as a flag, 2 with a value.
int takes(const Command &c, const std::string &name)
{
    for (const char *p = c.options; *p;) {
        while (*p == ' ')
            ++p;
        size_t len = strcspn(p, " ");
        std::string decl(p, len);
        p += len;
        bool value = !decl.empty() && decl.back() == '=';
        if (value)
            decl.pop_back();
        bool prefix = !decl.empty() && decl.back() == '*';
        if (prefix)
            decl.pop_back();
        if (decl.empty())
            continue;
        if (prefix ? name.size() > decl.size() && name.compare(0, decl.size(), decl) == 0 : name == decl)
            return value ? 2 : 1;
    }
    return 0;
}

// Splits the words after the command name into options and positional
// words, as the command declares them. "--" ends the options; a word that
// is "-" and a digit is a (negative) number, not an option.
Parsed parse(const Command &c, int argc, char **argv, Args *a)
{
    bool optionsEnd = false;
    for (int i = 0; i < argc; ++i) {
        std::string w = argv[i];
        bool isLong = w.size() > 2 && w.compare(0, 2, "--") == 0;
        bool isShort = w.size() >= 2 && w[0] == '-' && isalpha(static_cast<unsigned char>(w[1]));
        // "-w50": a short option with its value attached, where it takes one.
        if (isShort && w.size() > 2) {
            if (!optionsEnd && takes(c, w.substr(1, 1)) == 2) {
                if (w[1] == 's')
                    a->strings.push_back(w.substr(2));
                else
                    a->options.emplace_back(w.substr(1, 1), w.substr(2));
                continue;
            }
            isShort = false;
        }
        if (optionsEnd || (!isLong && !isShort)) {
            if (!optionsEnd && w == "--") {
                optionsEnd = true;
                continue;
            }
            a->pos.push_back(w);
            continue;
        }
        if (w == "--help" || w == "-h")
            return Parsed::Help;
        std::string name = w.substr(isLong ? 2 : 1), value;
        size_t eq = isLong ? name.find('=') : std::string::npos;
        bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        int kind = takes(c, name);
        if (kind == 0 || (isShort ? name.size() != 1 : name.size() < 2)) {
            parseError = "unknown option " + (hasValue ? w.substr(0, eq + 2) : w);
            return Parsed::Bad;
        }
        if (kind == 1 && hasValue) {
            parseError = "--" + name + " takes no value";
            return Parsed::Bad;
        }
        if (kind == 2 && !hasValue) {
            if (i + 1 >= argc) {
                parseError = w + " needs a value";
                return Parsed::Bad;
            }
            value = argv[++i];
        }
        if (name == "json")
            a->json = true;
        else if (name == "int")
            a->asInt = true;
        else if (name == "pretty")
            a->pretty = true;
        else if (name == "verbose" || name == "v")
            a->verbose = true;
        else if (name == "s")
            a->strings.push_back(value);
        else
            a->options.emplace_back(name, value);
    }
    // Any number of words, or as many as declared.
    size_t n = a->pos.size();
    if (c.maxWords >= 0 && n > static_cast<size_t>(c.maxWords)) {
        parseError = "unexpected argument '" + a->pos[static_cast<size_t>(c.maxWords)] + "'";
        return Parsed::Bad;
    }
    if (n < static_cast<size_t>(c.minWords)) {
        parseError = "missing arguments";
        return Parsed::Bad;
    }
    return Parsed::Ok;
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
    char why[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(why, sizeof why, fmt, ap);
    va_end(ap);
    if (current && current->badUsage)
        return current->badUsage(why);
    fprintf(stderr, "raidc: %s\n", why);
    if (current)
        fprintf(stderr, "usage: raidc %s %s\n", current->name, current->usage);
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
    case RAIDC_UPDATE_OK: return "cache is current";
    case RAIDC_UPDATE_UNUSABLE:
        return "device tree file is unusable (empty, unreadable, malformed, or without System/Adapter)";
    case RAIDC_UPDATE_OPEN_FAILED: return "device tree file could not be opened or locked";
    default: return "unknown result";
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
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
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

std::string jsonStart()
{
    return "{\"format_version\":" + std::to_string(raidcnames::kJsonFormatVersion);
}

// Prints one parameter answer: text (or integer) and the access status.
int printAnswer(const Args &a, const char *param, int st, const char *text, int64_t value)
{
    bool ok = st == RAIDC_SUCCESS_INT || st == RAIDC_SUCCESS_STRING || st == RAIDC_BUFFER_TOO_SMALL;
    if (a.json) {
        printf("%s,\"parameter\":%s,\"status\":%d,\"status_text\":%s", jsonStart().c_str(), jsonString(param).c_str(),
               st, jsonString(RaidC_AccessStatusToString(st)).c_str());
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
    return exitFor(st);
}

int exitFor(int status)
{
    switch (status) {
    case RAIDC_SUCCESS_INT:
    case RAIDC_SUCCESS_STRING:
    case RAIDC_BUFFER_TOO_SMALL: return EXIT_OK;
    case RAIDC_PARAM_NOT_FOUND:
    case RAIDC_DEVICE_NOT_FOUND:
    case RAIDC_DEVICE_EXTERN: return EXIT_NO_DATA;
    default: return EXIT_FAIL;
    }
}

int findController(int idx)
{
    int64_t n = 0;
    int st = RaidC_getCtrlsNumber(&n);
    if (st != RAIDC_SUCCESS_INT)
        return fail("controllers cannot be counted: %s (status %d)", RaidC_AccessStatusToString(st), st);
    if (idx >= 0 && idx < n)
        return EXIT_OK;
    fprintf(stderr, "raidc: there is no controller %d (%lld found)\n", idx, static_cast<long long>(n));
    return EXIT_NO_DATA;
}

} // namespace cli

int main(int argc, char **argv)
{
    using namespace cli;
    holdStandardStreams();
    defaultSigpipe();
    if (argc < 2 || !strcmp(argv[1], "-h") || !strcmp(argv[1], "--help") || !strcmp(argv[1], "help")) {
        printUsage(argc < 2 ? stderr : stdout);
        return finishOutput(argc < 2 ? EXIT_USAGE : EXIT_OK, EXIT_FAIL);
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
        switch (parse(c, argc - 2, argv + 2, &a)) {
        case Parsed::Help:
            if (c.help)
                return finishOutput(c.help(), c.outputFailed);
            printf("usage: raidc %s %s\n\n%s\n", c.name, c.usage, c.summary);
            return finishOutput(EXIT_OK, c.outputFailed);
        case Parsed::Bad: return finishOutput(usageError(a, "%s", parseError.c_str()), c.outputFailed);
        case Parsed::Ok: return finishOutput(c.run(a), c.outputFailed);
        }
    }
    fprintf(stderr, "raidc: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return EXIT_USAGE;
}
