// The raidc command-line tool: each command lives in its own file and
// registers itself here. Only the library's public header is used.
#pragma once

#include "names.h"
#include "raidcommon.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
enum { EXIT_OK = 0, EXIT_FAIL = 1, EXIT_USAGE = 2, EXIT_NO_DATA = 3 };

struct Args {
    std::vector<std::string> pos;                             // positional words after the command name
    bool json = false;                                        // --json
    bool asInt = false;                                       // --int
    bool pretty = false;                                      // --pretty
    bool verbose = false;                                     // --verbose, -v
    std::vector<std::string> strings;                         // -s STRING (repeatable)
    std::vector<std::pair<std::string, std::string>> options; // any other option, name without dashes; "" for a flag
    const char *option(const char *name) const;
};

struct Command {
    const char *name;
    const char *usage;   // arguments, e.g. "PARAM [CTRL]"
    const char *summary; // one line
    int (*run)(const Args &);
    // The options it takes, by name without dashes and separated by spaces:
    // "json pretty". A name ending in "=" takes a value ("output=": --output
    // FILE or --output=FILE); a one-letter name is a short option ("s=":
    // -s STRING); a name ending in "*" stands for every name it begins.
    // Every command also takes --help (and -h). main() refuses any other
    // option and a count of positional words outside [minWords, maxWords]
    // before the command runs.
    const char *options = "";
    int minWords = 0, maxWords = 0;
    int outputFailed = EXIT_FAIL; // exit code when standard output cannot be written
    // Tells of a bad command line and gives the exit code; null: "raidc: WHY"
    // and the usage on standard error, EXIT_USAGE.
    int (*badUsage)(const char *why) = nullptr;
    // Prints the command's own --help text and gives the exit code; null:
    // the usage line and the summary.
    int (*help)() = nullptr;
};

struct Register {
    explicit Register(const Command &c);
};

// Prints "raidc: <message>" and the command's usage to stderr; returns EXIT_USAGE.
int usageError(const Args &a, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Whole-number argument; false (after printing why) when it is not one.
bool toInt(const std::string &s, int *out);
bool toInt64(const std::string &s, int64_t *out);

// Refreshes the cache; on failure prints why and returns false.
bool loadCache();
const char *updateResultText(int r);

// The exit code an access status calls for: EXIT_OK when it carries a value,
// EXIT_NO_DATA when the device or parameter is not there, EXIT_FAIL for any
// other failure.
int exitFor(int status);

// EXIT_OK when controller `idx` is in the cached tree; else prints why and
// gives the exit code (EXIT_NO_DATA when it is not there). Every command that
// takes a controller index asks this first.
int findController(int idx);

// Quotes a text for JSON output.
std::string jsonString(const char *s);

// The start of every JSON object a command prints: "{" and the format
// version key, to be followed by ",".
std::string jsonStart();

// Prints one parameter answer (text, or the integer with --int) with its
// access status; EXIT_NO_DATA when the status carries no value.
int printAnswer(const Args &a, const char *param, int status, const char *text, int64_t value);

// The command being run (for usage lines).
extern const Command *current;

} // namespace cli
