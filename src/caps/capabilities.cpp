// Renders a controller's "RAIDCapabilities" element as one compact JSON
// list: an object per RAID level with normalised names, integer counts and
// canonical mode names. Entries of unknown levels and unknown items are
// dropped silently; only running out of memory is reported.
#include "caps.h"

#include "../../platform/unix/libunix.h"

#include <json-c/json.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

namespace raidc::caps {

namespace {

// Owns one json-c reference. Releasing drops every reference, so that an
// object is gone for sure once its owner lets go.
class Json {
public:
    explicit Json(json_object *o) noexcept : p_(o) {}
    ~Json()
    {
        if (p_)
            while (json_object_put(p_) != 1) {
            }
    }
    Json(const Json &) = delete;
    Json &operator=(const Json &) = delete;
    json_object *get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    json_object *release() noexcept { return std::exchange(p_, nullptr); }

private:
    json_object *p_;
};

// A working string, released on every path.
struct Scratch {
    string_t s;
    Scratch() noexcept { string_init(s); }
    ~Scratch() { string_clear(s); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

// Hand a freshly created value (null when its creation failed) to its
// container; false, with the value released, when that is not possible.
bool append(json_object *array, json_object *value) noexcept
{
    Json hold(value);
    if (!hold || json_object_array_add(array, value) != 0)
        return false;
    hold.release();
    return true;
}

bool put(json_object *object, const char *key, json_object *value) noexcept
{
    Json hold(value);
    if (!hold || json_object_object_add(object, key, value) != 0)
        return false;
    hold.release();
    return true;
}

// strtol as the target's 32-bit long gives it: out-of-range values saturate.
int32_t number(const char *text) noexcept
{
    return static_cast<int32_t>(std::clamp<long>(strtol(text, nullptr, 10), INT32_MIN, INT32_MAX));
}

struct Alias {
    std::string_view text; // as the agent writes it, compared without regard to case
    const char *name;      // what clients get
};

constexpr Alias kLevels[] = {{"RAID-0", "RAID0"},     {"RAID-1", "RAID1"},   {"RAID-1E", "RAID1E"},
                             {"RAID-5", "RAID5"},     {"RAID-6", "RAID6"},   {"RAID-10", "RAID10"},
                             {"RAID-1E0", "RAID10E"}, {"RAID-50", "RAID50"}, {"RAID-60", "RAID60"}};
constexpr Alias kInitModes[] = {
    {"Fast Initialization", "Fast"}, {"Normal Initialization", "Normal"}, {"No Initialization", "None"}};
constexpr Alias kReadModes[] = {{"No ReadAhead", "NoReadAhead"}, {"ReadAhead", "ReadAhead"}, {"Adaptive", "Adaptive"}};
constexpr Alias kWriteModes[] = {
    {"Write Through", "WriteThrough"}, {"Write Back", "WriteBack"}, {"Write Cache Bad BBU", "AlwaysWriteBack"}};
constexpr Alias kCacheModes[] = {{"Direct", "Direct"}, {"Cached", "Cached"}};
constexpr Alias kDiskCacheModes[] = {{"Disabled", "Disabled"}, {"Enabled", "Enabled"}, {"Unchanged", "Unchanged"}};
constexpr Alias kWriteHolePolicies[] = {
    {"Off", "Off"}, {"DistributedLog", "DistributedLog"}, {"Journaling", "Journaling"}};
constexpr Alias kSpanModes[] = {{"Enabled", "Enabled"}, {"Disabled", "Disabled"}};
constexpr Alias kAcceleratorModes[] = {
    {"IOBypass", "IOBypass"}, {"ControllerCache", "ControllerCache"}, {"None", "None"}};
constexpr Alias kHints[] = {{"VariableRaid6StripeSize", "VariableRAID6StripeSize"}};

const char *canonical(std::span<const Alias> table, string_srcptr text) noexcept
{
    // Folding maps byte to byte, so only texts of equal length can match.
    for (const Alias &a : table) {
        if (string_size(text) == a.text.size() && string_cmpi_str(text, a.text.data()) == 0)
            return a.name;
    }
    return nullptr;
}

enum class Kind {
    Number,  // an integer
    Count,   // an integer, left out unless above 0
    Numbers, // a list of integers
    Modes,   // a list of canonical names
    Hints,   // an object of flags, left out when no flag is set
};

struct Property {
    const char *element;
    const char *key;
    Kind kind;
    std::span<const Alias> names = {};
};

constexpr Property kProperties[] = {
    {"StripeSizes", "StripeSizes", Kind::Numbers},
    {"DefaultStripeSize", "DefaultStripeSize", Kind::Number},
    {"MinimumNumberOfDisks", "MinimumDriveCount", Kind::Number},
    {"MaximumNumberOfDisks", "MaximumDriveCount", Kind::Number},
    {"MinimumNumberOfSpans", "MinimumSpanCount", Kind::Count},
    {"MaximumNumberOfSpans", "MaximumSpanCount", Kind::Count},
    {"SupportedInitMode", "SupportedInitMode", Kind::Modes, kInitModes},
    {"SupportedReadMode", "SupportedReadMode", Kind::Modes, kReadModes},
    {"SupportedWriteMode", "SupportedWriteMode", Kind::Modes, kWriteModes},
    {"SupportedCacheMode", "SupportedCacheMode", Kind::Modes, kCacheModes},
    {"SupportedDiskCacheMode", "SupportedDriveCacheMode", Kind::Modes, kDiskCacheModes},
    {"SupportedWriteHoleProtectionPolicy", "SupportedWriteHoleProtectionPolicy", Kind::Modes, kWriteHolePolicies},
    {"SupportedSpan", "SupportedSpan", Kind::Modes, kSpanModes},
    {"SupportedAcceleratorMode", "SupportedAcceleratorMode", Kind::Modes, kAcceleratorModes},
    {"Hints", "Hints", Kind::Hints, kHints},
};

// Calls take(item) for each comma-separated item of text, trimmed, in order.
// The text is cut on a copy of its own; false when that copy cannot be made
// or take fails.
template <typename F> bool forEachItem(const char *text, string_ptr item, F &&take) noexcept
{
    char *copy = plat_strdup(text);
    if (!copy)
        return false;
    bool ok = true;
    char *rest = nullptr;
    for (char *tok = strtok_r(copy, ",", &rest); ok && tok; tok = strtok_r(nullptr, ",", &rest)) {
        string_set_str(item, tok);
        string_strim(item);
        ok = take(item);
    }
    free(copy);
    return ok;
}

// Adds one property to the entry; false when out of memory.
bool addProperty(json_object *entry, const Property &p, const char *text, string_ptr item) noexcept
{
    switch (p.kind) {
    case Kind::Number: return put(entry, p.key, json_object_new_int(number(text)));
    case Kind::Count: {
        int32_t n = number(text);
        return n <= 0 || put(entry, p.key, json_object_new_int(n));
    }
    default: break;
    }
    const bool hints = p.kind == Kind::Hints;
    Json items(hints ? json_object_new_object() : json_object_new_array());
    if (!items)
        return false;
    bool any = false;
    bool ok = forEachItem(text, item, [&](string_srcptr it) {
        if (p.kind == Kind::Numbers)
            return append(items.get(), json_object_new_int(number(string_get_cstr(it))));
        const char *name = canonical(p.names, it);
        if (!name)
            return true;
        any = true;
        return hints ? put(items.get(), name, json_object_new_boolean(1))
                     : append(items.get(), json_object_new_string(name));
    });
    return ok && ((hints && !any) || put(entry, p.key, items.release()));
}

// The level text of an entry: the value of its first attribute, else the
// text of its last "Type" child that has one.
const char *levelTextOf(const XMLNode *entry) noexcept
{
    if (const char *v = firstAttrValue(entry))
        return v;
    const char *level = nullptr;
    for (const XMLNode *c = entry->firstChild; c; c = c->nextSibling) {
        if (isNamed(c, "Type") && textOf(c))
            level = textOf(c);
    }
    return level;
}

// Appends the object of one capability entry unless its level is unknown;
// false when out of memory.
bool addEntry(json_object *list, const XMLNode *node, string_ptr level, string_ptr item) noexcept
{
    const char *text = levelTextOf(node);
    if (!text || !*text)
        return true;
    Json entry(json_object_new_object());
    if (!entry)
        return false;
    string_set_str(level, text);
    const char *name = canonical(kLevels, level);
    if (!name)
        return true;
    if (!put(entry.get(), "RAIDType", json_object_new_string(name)))
        return false;
    for (const XMLNode *c = node->firstChild; c; c = c->nextSibling) {
        const char *value = textOf(c);
        if (!value)
            continue;
        auto p = std::find_if(std::begin(kProperties), std::end(kProperties),
                              [c](const Property &q) { return isNamed(c, q.element); });
        if (p != std::end(kProperties) && !addProperty(entry.get(), *p, value, item))
            return false;
    }
    return append(list, entry.release());
}

// The length of a string in json-c's plain form, quotes and escapes included.
size_t quotedLength(const char *s) noexcept
{
    size_t len = 2;
    for (; *s; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        len += strchr("\b\n\r\t\f\"\\/", c) ? 2 : c < 0x20 ? 6 : 1;
    }
    return len;
}

// The length the plain form of a value must have. json-c drops a piece of
// its output without saying so when its buffer cannot grow; comparing with
// this catches that.
size_t plainLength(json_object *o) noexcept
{
    size_t len = 2, items = 0; // the brackets or braces, and the commas between items
    switch (json_object_get_type(o)) {
    case json_type_array:
        items = json_object_array_length(o);
        for (size_t i = 0; i < items; ++i)
            len += plainLength(json_object_array_get_idx(o, i));
        break;
    case json_type_object:
        for (auto it = json_object_iter_begin(o), end = json_object_iter_end(o); !json_object_iter_equal(&it, &end);
             json_object_iter_next(&it), ++items)
            len += quotedLength(json_object_iter_peek_name(&it)) + 1 + plainLength(json_object_iter_peek_value(&it));
        break;
    case json_type_int: return static_cast<size_t>(snprintf(nullptr, 0, "%" PRId64, json_object_get_int64(o)));
    case json_type_boolean: return json_object_get_boolean(o) ? 4 : 5;
    case json_type_string: return quotedLength(json_object_get_string(o));
    default: return 0; // never built here
    }
    return len + (items ? items - 1 : 0);
}

} // namespace

int raidInternal_buildRaidCapabilities(const XMLNode *ctrl, string_ptr strOut) noexcept
{
    if (!ctrl || !strOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    Json list(json_object_new_array());
    if (!list)
        return RAIDC_NO_MEMORY;
    Scratch level, item;
    if (const XMLNode *caps = firstChildNamed(ctrl, "RAIDCapabilities")) {
        for (const XMLNode *e = caps->firstChild; e; e = e->nextSibling) {
            if (!addEntry(list.get(), e, level.s, item.s))
                return RAIDC_NO_MEMORY;
        }
    }
    size_t length = 0;
    const char *text = json_object_to_json_string_length(list.get(), JSON_C_TO_STRING_PLAIN, &length);
    if (!text || length != plainLength(list.get()))
        return RAIDC_NO_MEMORY;
    string_set_str(strOut, text);
    return RAIDC_SUCCESS_STRING;
}

} // namespace raidc::caps
