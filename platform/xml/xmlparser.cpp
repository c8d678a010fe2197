// DOM builder over expat.
//
// Trees are carved from blocks instead of one allocation per node: a device
// tree of a few hundred thousand elements would otherwise spend more time in
// malloc than in the parser. Blocks are mapped from the kernel and unmapped
// when the tree goes, so a released tree gives its memory back at once and
// a small tree after a large one holds only what it needs; a few blocks and
// the parser's text buffer are kept for the next parse, bounded by the size
// of the tree in use. Element and attribute names are interned per document
// (a tree has a few hundred distinct names), so the prefix/local-name split
// is done once per distinct name. Whitespace-only text between elements is
// formatting and is not kept; whitespace that is an element's whole content
// is kept as its value.
#include "xmlparser.h"

#include "../unix/libunix.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <expat.h>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

// The memory policy, a build setting sized for the target (see the README).
#ifndef RAIDC_XML_BLOCK_BYTES
#define RAIDC_XML_BLOCK_BYTES (64 * 1024)
#endif
#ifndef RAIDC_XML_POOL_BYTES
#define RAIDC_XML_POOL_BYTES (128 * 1024)
#endif
#ifndef RAIDC_XML_KEEP_BUFFER_BYTES
#define RAIDC_XML_KEEP_BUFFER_BYTES (128 * 1024)
#endif

namespace {

// The first blocks of a tree have this size; later ones grow with the tree
// (a quarter of what it holds so far, at most 128 times this), so a large
// tree is few mappings, each one mapped and unmapped in one call. The pages
// a tree's last block leaves untouched go back when the parse ends.
constexpr size_t kBlockBytes = RAIDC_XML_BLOCK_BYTES;
constexpr size_t kBlockBytesMax = kBlockBytes * 128;
// Blocks and text buffers kept for the next parse, each at most this much
// and at most an eighth of the tree in use.
constexpr size_t kPoolBytes = RAIDC_XML_POOL_BYTES;
constexpr size_t kKeepBufferBytes = RAIDC_XML_KEEP_BUFFER_BYTES;
static_assert(kBlockBytes >= 4096 && kBlockBytes % 4096 == 0, "block size: a multiple of 4 KiB");

// Room for `need` items in a growing array, its capacity doubled from
// `first`; false, the array untouched, when memory runs out.
template <typename T> bool reserveFor(T *&items, size_t &cap, size_t need, size_t first)
{
    if (need <= cap)
        return true;
    size_t c = cap ? cap : first;
    while (c < need)
        c *= 2;
    auto *p = static_cast<T *>(plat_realloc(items, c * sizeof(T)));
    if (!p)
        return false;
    items = p;
    cap = c;
    return true;
}

size_t pageBytes()
{
    static const size_t page = [] {
        long p = sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<size_t>(p) : size_t{4096};
    }();
    return page;
}

// n rounded up to whole pages; 0 when that does not fit.
size_t pagesFor(size_t n)
{
    size_t page = pageBytes();
    return n > SIZE_MAX - page ? 0 : (n + page - 1) / page * page;
}

void *mapBytes(size_t bytes)
{
    if (bytes == 0 || plat_fault_hit())
        return nullptr;
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

struct alignas(16) Block {
    Block *next;
    size_t bytes; // the whole mapping, header included
};

char *blockData(Block *b)
{
    return reinterpret_cast<char *>(b + 1);
}

size_t blockRoom(const Block *b)
{
    return b->bytes - sizeof(Block);
}

// What is kept for the next parse: released blocks and the parser's text
// buffer. Both are bounded by the tree in use, the one built last.
std::mutex g_poolMu;
Block *g_pool = nullptr;
size_t g_poolBytes = 0;
size_t g_liveBytes = 0; // blocks of the tree built last, while it lives
const void *g_liveTree = nullptr;
struct Sized;
Sized *g_keptBuffer = nullptr;

size_t keepLimit(size_t setting)
{
    return std::min(setting, g_liveBytes / 8);
}

// Unmaps what the pool holds beyond its bound; under g_poolMu.
void trimPoolLocked()
{
    while (g_pool && g_poolBytes > keepLimit(kPoolBytes)) {
        Block *b = g_pool;
        g_pool = b->next;
        g_poolBytes -= b->bytes;
        munmap(b, b->bytes);
    }
}

Block *takeBlock(size_t need, size_t sofar)
{
    {
        std::lock_guard<std::mutex> g(g_poolMu);
        for (Block **pp = &g_pool; *pp; pp = &(*pp)->next) {
            if (blockRoom(*pp) >= need) {
                Block *b = *pp;
                *pp = b->next;
                g_poolBytes -= b->bytes;
                b->next = nullptr;
                return b;
            }
        }
    }
    size_t want = std::clamp(sofar / 4, kBlockBytes, kBlockBytesMax);
    if (need > SIZE_MAX - sizeof(Block))
        return nullptr;
    size_t bytes = pagesFor(std::max(want, need + sizeof(Block)));
    auto *b = static_cast<Block *>(mapBytes(bytes));
    if (!b)
        return nullptr;
    b->next = nullptr;
    b->bytes = bytes;
    return b;
}

void releaseBlocks(Block *b, bool wasLive)
{
    std::lock_guard<std::mutex> g(g_poolMu);
    if (wasLive) {
        g_liveBytes = 0;
        g_liveTree = nullptr;
    }
    while (b) {
        Block *next = b->next;
        b->next = g_pool;
        g_pool = b;
        g_poolBytes += b->bytes;
        b = next;
    }
    trimPoolLocked();
}

struct Arena {
    Block *head = nullptr; // newest block first
    char *cur = nullptr;
    char *end = nullptr;
    size_t bytes = 0; // of all blocks

    void *grow(size_t n)
    {
        Block *b = takeBlock(n, bytes);
        if (!b)
            return nullptr;
        b->next = head;
        head = b;
        bytes += b->bytes;
        cur = blockData(b);
        end = cur + blockRoom(b);
        void *p = cur;
        cur += n;
        return p;
    }
    void *alloc(size_t n)
    {
        if (static_cast<size_t>(end - cur) >= n) {
            void *p = cur;
            cur += n;
            return p;
        }
        return grow(n);
    }
    // Room for n bytes at an address that is a multiple of align (a new
    // block starts aligned for anything a tree holds).
    void *alloc(size_t n, size_t align)
    {
        uintptr_t mis = reinterpret_cast<uintptr_t>(cur) % align;
        if (mis)
            cur += align - mis;
        if (cur > end)
            cur = end;
        return alloc(n);
    }
    // Zero-filled, suitably aligned room for one T.
    template <typename T> T *make()
    {
        auto *p = static_cast<T *>(alloc(sizeof(T), alignof(T)));
        if (p)
            memset(p, 0, sizeof *p);
        return p;
    }
    // Unmaps the whole pages that the newest block has not used.
    void trimLast()
    {
        if (!head)
            return;
        const size_t used = pagesFor(static_cast<size_t>(cur - reinterpret_cast<char *>(head)));
        if (used && used < head->bytes && munmap(reinterpret_cast<char *>(head) + used, head->bytes - used) == 0) {
            bytes -= head->bytes - used;
            head->bytes = used;
            end = reinterpret_cast<char *>(head) + used;
        }
    }
    char *copy(const char *s, size_t len)
    {
        auto *p = static_cast<char *>(alloc(len + 1));
        if (p) {
            memcpy(p, s, len);
            p[len] = '\0';
        }
        return p;
    }
};

// Every element of a document by local name, in document order: lets a
// lookup by name skip walking the whole tree.
struct LocalIndex {
    const char *local;
    int total;
    int cap;
    XMLNode **items; // from xmlMalloc (large ones mapped), trimmed to `total` when the parse ends
};

// Live documents, so that freeXMLNode can tell a document element (whose
// blocks it releases) from any other node, and lookups find their index.
struct DocBlocks {
    XMLNode *root;
    Block *blocks;
    LocalIndex *locals;
    size_t localsCount;
    DocBlocks *next;
};

std::mutex g_docsMu;
DocBlocks *g_docs = nullptr;

void *xmlMalloc(size_t n);
void *xmlRealloc(void *p, size_t n);
void xmlFree(void *p);
void xmlShrink(void *p, size_t n);

void freeLocals(LocalIndex *locals, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        xmlFree(locals[i].items);
    free(locals);
}

// An interned name. It sits right before its own text in the arena.
struct Name {
    char *prefix;
    char *local;
    size_t len;
    uint32_t hash;
    int docLocal;    // the local part's entry in the document's index, -1 before one
    Name *localPart; // the name of the local part; itself without a prefix
    char *text() { return reinterpret_cast<char *>(this + 1); }
};

// Names by text, open addressing.
struct NameTable {
    Name **slots = nullptr;
    size_t cap = 0, count = 0;

    Name *find(const char *s, size_t len, uint32_t h) const
    {
        if (!cap)
            return nullptr;
        for (size_t j = h & (cap - 1); slots[j]; j = (j + 1) & (cap - 1)) {
            Name *m = slots[j];
            if (m->hash == h && m->len == len && memcmp(m->text(), s, len) == 0)
                return m;
        }
        return nullptr;
    }
    // Room for one more; false when out of memory.
    bool reserve()
    {
        if ((count + 1) * 2 <= cap)
            return true;
        size_t bigger = cap ? cap * 2 : 256;
        auto *t = static_cast<Name **>(plat_calloc(bigger, sizeof(Name *)));
        if (!t)
            return false;
        for (size_t i = 0; i < cap; ++i) {
            if (!slots[i])
                continue;
            size_t j = slots[i]->hash & (bigger - 1);
            while (t[j])
                j = (j + 1) & (bigger - 1);
            t[j] = slots[i];
        }
        free(slots);
        slots = t;
        cap = bigger;
        return true;
    }
    // After reserve().
    void insert(Name *n)
    {
        size_t j = n->hash & (cap - 1);
        while (slots[j])
            j = (j + 1) & (cap - 1);
        slots[j] = n;
        count++;
    }
};

char g_textName[] = "#text";

struct Scope {
    char *prefix;
    char *uri;
    unsigned depth;
};

struct Builder {
    XML_Parser parser = nullptr;
    Arena arena;
    XMLDoc *doc = nullptr;
    XMLNode *cur = nullptr;
    unsigned depth = 0;
    NSDecl *nsTail = nullptr;

    char *text = nullptr;
    size_t textLen = 0, textCap = 0;
    bool textHasContent = false;

    NameTable names;

    Scope *scopes = nullptr;
    size_t scopesLen = 0, scopesCap = 0;

    LocalIndex *locals = nullptr;
    size_t localsCount = 0, localsCap = 0;

    int error = 0; // our own reason for stopping, 0 if none
    const char *errorText = nullptr;

    void fail(const char *why)
    {
        if (!error) {
            error = 1;
            errorText = why;
        }
        XML_StopParser(parser, XML_FALSE);
    }

    static uint32_t hashOf(const char *s, size_t len)
    {
        uint32_t h = 2166136261u;
        for (size_t i = 0; i < len; ++i)
            h = (h ^ static_cast<unsigned char>(s[i])) * 16777619u;
        return h;
    }

    // The interned copy of a name; `split` separates a prefix at the first
    // colon (a local part is interned whole, for its index entry).
    Name *intern(const char *s, bool split = true)
    {
        size_t len = strlen(s);
        uint32_t h = hashOf(s, len);
        if (Name *m = names.find(s, len, h))
            return m;
        const char *colon = split ? strchr(s, ':') : nullptr;
        Name *localPart = colon ? intern(colon + 1, false) : nullptr;
        if (colon && !localPart)
            return nullptr;
        const size_t prefixLen = colon ? static_cast<size_t>(colon - s) : 0;
        const size_t size = sizeof(Name) + len + 1 + (colon ? prefixLen + 1 : 0);
        if (!names.reserve())
            return nullptr;
        auto *n = static_cast<Name *>(arena.alloc(size, alignof(Name)));
        if (!n)
            return nullptr;
        char *copy = n->text();
        memcpy(copy, s, len + 1);
        *n = Name{nullptr, copy, len, h, -1, n};
        if (colon) {
            n->prefix = copy + len + 1;
            memcpy(n->prefix, s, prefixLen);
            n->prefix[prefixLen] = '\0';
            n->local = copy + prefixLen + 1;
            n->localPart = localPart;
        }
        names.insert(n);
        return n;
    }

    // Files every element under its local name; every distinct local name
    // gets exactly one entry, since a prefixed name shares the entry of its
    // interned local part.
    bool index(Name *n, XMLNode *e)
    {
        Name *part = n->localPart;
        if (part->docLocal < 0) {
            if (!reserveFor(locals, localsCap, localsCount + 1, 64))
                return false;
            locals[localsCount] = LocalIndex{part->text(), 0, 0, nullptr};
            part->docLocal = static_cast<int>(localsCount++);
        }
        LocalIndex &l = locals[part->docLocal];
        if (l.total == l.cap) {
            if (l.cap > INT_MAX / 2)
                return false;
            int cap = l.cap ? l.cap * 2 : 8;
            auto *items = static_cast<XMLNode **>(xmlRealloc(l.items, sizeof(XMLNode *) * static_cast<size_t>(cap)));
            if (!items)
                return false;
            l.items = items;
            l.cap = cap;
        }
        l.items[l.total++] = e;
        return true;
    }

    // The index keeps only what it holds: the room grown into during the
    // parse goes back.
    void trimIndex()
    {
        for (size_t i = 0; i < localsCount; ++i) {
            LocalIndex &l = locals[i];
            xmlShrink(l.items, sizeof(XMLNode *) * static_cast<size_t>(l.total));
            l.cap = l.total;
        }
        if (localsCount < localsCap) {
            if (void *t = realloc(locals, localsCount * sizeof(LocalIndex))) {
                locals = static_cast<LocalIndex *>(t);
                localsCap = localsCount;
            }
        }
    }

    char *resolve(const char *prefix, bool isAttribute) const
    {
        if (isAttribute && !prefix)
            return nullptr; // unprefixed attributes are in no namespace
        for (size_t i = scopesLen; i-- > 0;) {
            const char *p = scopes[i].prefix;
            if ((!p && !prefix) || (p && prefix && strcmp(p, prefix) == 0))
                return scopes[i].uri;
        }
        return nullptr;
    }

    static void setName(XMLNode *node, int type, Name *n)
    {
        node->nodeType = type;
        node->nodeName = n->text();
        node->prefix = n->prefix;
        node->localName = n->local;
    }

    static void append(XMLNode *parent, XMLNode *child)
    {
        child->parentNode = parent;
        child->previousSibling = parent->lastChild;
        if (parent->lastChild)
            parent->lastChild->nextSibling = child;
        else
            parent->firstChild = child;
        parent->lastChild = child;
    }

    // Turns the gathered character data into a text node, unless it is only
    // whitespace around child elements.
    void flushText(bool childFollows)
    {
        if (textLen == 0)
            return;
        size_t len = textLen;
        textLen = 0;
        if (!textHasContent && (childFollows || cur->firstChild))
            return;
        textHasContent = false;
        XMLNode *t = arena.make<XMLNode>();
        char *v = t ? arena.copy(text, len) : nullptr;
        if (!v)
            return fail("out of memory");
        t->nodeType = XML_TEXT_NODE;
        t->nodeName = g_textName;
        t->nodeValue = v;
        append(cur, t);
    }

    bool declare(XMLNode *owner, const Name *attr, char *value)
    {
        char *prefix;
        if (strcmp(attr->local, "xmlns") == 0 && !attr->prefix)
            prefix = nullptr;
        else if (attr->prefix && strcmp(attr->prefix, "xmlns") == 0)
            prefix = attr->local;
        else
            return true;
        auto *d = arena.make<NSDecl>();
        if (!d)
            return false;
        d->prefix = prefix;
        d->namespaceURI = value;
        d->node = owner;
        if (nsTail)
            nsTail->next = d;
        else
            doc->nsDeclList = d;
        nsTail = d;
        if (!reserveFor(scopes, scopesCap, scopesLen + 1, 16))
            return false;
        scopes[scopesLen++] = Scope{prefix, value, depth};
        return true;
    }

    void startElement(const XML_Char *name, const XML_Char **atts)
    {
        if (cur)
            flushText(true);
        depth++;
        XMLNode *e = arena.make<XMLNode>();
        Name *n = e ? intern(name) : nullptr;
        if (!n || !index(n, e))
            return fail("out of memory");
        setName(e, XML_ELEMENT_NODE, n);
        if (cur)
            append(cur, e);
        else
            doc->documentElement = e;

        XMLNode *last = nullptr;
        for (const XML_Char **a = atts; a[0]; a += 2) {
            XMLNode *at = arena.make<XMLNode>();
            Name *an = at ? intern(a[0]) : nullptr;
            char *value = an ? arena.copy(a[1], strlen(a[1])) : nullptr;
            if (!value)
                return fail("out of memory");
            setName(at, XML_ATTRIBUTE_NODE, an);
            at->nodeValue = value;
            at->previousSibling = last;
            if (last)
                last->nextSibling = at;
            else
                e->attributes = at;
            last = at;
            if (!declare(e, an, value))
                return fail("out of memory");
        }
        if (scopesLen) {
            e->namespaceURI = resolve(e->prefix, false);
            for (XMLNode *at = e->attributes; at; at = at->nextSibling)
                at->namespaceURI = resolve(at->prefix, true);
        }
        cur = e;
    }

    void endElement()
    {
        flushText(false);
        while (scopesLen && scopes[scopesLen - 1].depth == depth)
            scopesLen--;
        depth--;
        cur = cur->parentNode;
    }

    void characters(const XML_Char *s, int len)
    {
        size_t n = static_cast<size_t>(len);
        if (!reserveFor(text, textCap, textLen + n, 256))
            return fail("out of memory");
        memcpy(text + textLen, s, n);
        textLen += n;
        for (size_t i = 0; i < n && !textHasContent; ++i)
            textHasContent = s[i] != ' ' && s[i] != '\n' && s[i] != '\t' && s[i] != '\r';
    }
};

void XMLCALL onStart(void *ud, const XML_Char *name, const XML_Char **atts)
{
    static_cast<Builder *>(ud)->startElement(name, atts);
}

void XMLCALL onEnd(void *ud, const XML_Char *)
{
    static_cast<Builder *>(ud)->endElement();
}

void XMLCALL onText(void *ud, const XML_Char *s, int len)
{
    static_cast<Builder *>(ud)->characters(s, len);
}

// A device tree has no use for a DTD; expanding one would let a hostile file
// blow up memory (nested entities), so any document type declaration stops the parse.
void XMLCALL onDoctype(void *ud, const XML_Char *, const XML_Char *, const XML_Char *, int)
{
    static_cast<Builder *>(ud)->fail("document type declarations are not accepted");
}

void XMLCALL onEntityDecl(void *ud, const XML_Char *, int, const XML_Char *, int, const XML_Char *, const XML_Char *,
                          const XML_Char *, const XML_Char *)
{
    static_cast<Builder *>(ud)->fail("entity declarations are not accepted");
}

void setError(XMLParseError *err, int code, unsigned long line, unsigned long col, const char *text)
{
    if (!err)
        return;
    err->code = code;
    err->line = line;
    err->column = col;
    snprintf(err->text, sizeof err->text, "%s (line %lu, column %lu)", text, line, col);
}

// Expat's memory. Large allocations (the buffer a file is read into above
// all) are mapped from the kernel and unmapped when freed, so that they never
// stay behind in the heap; one of them is kept for the next parse when the
// tree in use is large enough to carry it. Each allocation carries its
// capacity in front (16 bytes keep malloc's alignment).
struct Sized {
    size_t cap;
    size_t mapped; // bytes of the mapping, 0 for a malloc'd block
};
constexpr size_t kMapFrom = size_t{64} << 10;

void dropBuffer(Sized *s)
{
    if (s && s->mapped)
        munmap(s, s->mapped);
    else
        free(s);
}

void *xmlMalloc(size_t n)
{
    if (n > SIZE_MAX - sizeof(Sized) - pageBytes())
        return nullptr;
    if (n < kMapFrom) {
        auto *s = static_cast<Sized *>(plat_malloc(sizeof(Sized) + n));
        if (!s)
            return nullptr;
        *s = Sized{n, 0};
        return s + 1;
    }
    {
        std::lock_guard<std::mutex> g(g_poolMu);
        if (g_keptBuffer && g_keptBuffer->cap >= n) {
            if (plat_fault_hit())
                return nullptr;
            return std::exchange(g_keptBuffer, nullptr) + 1;
        }
    }
    size_t bytes = pagesFor(sizeof(Sized) + n);
    auto *s = static_cast<Sized *>(mapBytes(bytes));
    if (!s)
        return nullptr;
    *s = Sized{bytes - sizeof(Sized), bytes};
    return s + 1;
}

void xmlFree(void *p)
{
    if (!p)
        return;
    Sized *s = static_cast<Sized *>(p) - 1;
    if (s->mapped) {
        std::lock_guard<std::mutex> g(g_poolMu);
        if (s->mapped <= keepLimit(kKeepBufferBytes) && (!g_keptBuffer || g_keptBuffer->cap < s->cap))
            std::swap(s, g_keptBuffer);
    }
    dropBuffer(s);
}

void *xmlRealloc(void *p, size_t n)
{
    if (!p)
        return xmlMalloc(n);
    Sized *s = static_cast<Sized *>(p) - 1;
    if (n <= s->cap)
        return p;
    if (!s->mapped && n < kMapFrom) {
        auto *t = static_cast<Sized *>(plat_realloc(s, sizeof(Sized) + n));
        if (!t)
            return nullptr;
        t->cap = n;
        return t + 1;
    }
    if (s->mapped) {
        // The kernel moves the pages; nothing is copied.
        size_t bytes = pagesFor(sizeof(Sized) + n);
        void *t = bytes && !plat_fault_hit() ? mremap(s, s->mapped, bytes, MREMAP_MAYMOVE) : MAP_FAILED;
        if (t == MAP_FAILED)
            return nullptr;
        s = static_cast<Sized *>(t);
        *s = Sized{bytes - sizeof(Sized), bytes};
        return s + 1;
    }
    void *q = xmlMalloc(n);
    if (q) {
        memcpy(q, p, s->cap);
        xmlFree(p);
    }
    return q;
}

// Gives back what lies beyond the first n bytes, where that is worth it.
void xmlShrink(void *p, size_t n)
{
    if (!p)
        return;
    Sized *s = static_cast<Sized *>(p) - 1;
    size_t bytes = pagesFor(sizeof(Sized) + n);
    if (s->mapped && bytes && bytes < s->mapped && munmap(reinterpret_cast<char *>(s) + bytes, s->mapped - bytes) == 0)
        *s = Sized{bytes - sizeof(Sized), bytes};
}

const XML_Memory_Handling_Suite kMemory = {xmlMalloc, xmlRealloc, xmlFree};

// Threaded pre-order walk over the nodes below `top`, using the parent
// links instead of a stack, so depth costs nothing.
template <typename F> void walkBelow(XMLNode *top, F &&visit)
{
    XMLNode *n = top->firstChild;
    while (n) {
        if (!visit(n))
            return;
        if (n->firstChild) {
            n = n->firstChild;
            continue;
        }
        while (n != top && !n->nextSibling)
            n = n->parentNode;
        if (n == top)
            return;
        n = n->nextSibling;
    }
}

bool isBelow(const XMLNode *n, const XMLNode *top)
{
    for (n = n->parentNode; n; n = n->parentNode)
        if (n == top)
            return true;
    return false;
}

// The index entry of a local name in the document that holds `node`: null
// when that document has no such element. *parsed tells whether the tree
// came from a parse at all (a detached piece of one did not).
const LocalIndex *indexFor(const XMLNode *node, const char *localName, bool *parsed)
{
    const XMLNode *top = node;
    while (top->parentNode)
        top = top->parentNode;
    std::lock_guard<std::mutex> g(g_docsMu);
    const DocBlocks *doc = g_docs;
    while (doc && doc->root != top)
        doc = doc->next;
    *parsed = doc != nullptr;
    for (size_t i = 0; doc && i < doc->localsCount; ++i) {
        if (strcmp(doc->locals[i].local, localName) == 0)
            return &doc->locals[i];
    }
    return nullptr;
}

XML_Parser newParser()
{
    return XML_ParserCreate_MM(nullptr, &kMemory, nullptr);
}

// Builds a document on `parser` (null when it could not be created; the
// caller releases it otherwise), with `feed` handing the parser its text.
template <typename Feed> XMLDoc *build(XMLParseError *err, XML_Parser parser, Feed &&feed)
{
    Builder b;
    b.parser = parser;
    b.doc = parser ? static_cast<XMLDoc *>(plat_calloc(1, sizeof(XMLDoc))) : nullptr;
    if (!b.doc) {
        setError(err, -1, 0, 0, "out of memory");
        return nullptr;
    }
    XML_SetUserData(b.parser, &b);
    XML_SetElementHandler(b.parser, onStart, onEnd);
    XML_SetCharacterDataHandler(b.parser, onText);
    XML_SetStartDoctypeDeclHandler(b.parser, onDoctype);
    XML_SetEntityDeclHandler(b.parser, onEntityDecl);
    XML_SetParamEntityParsing(b.parser, XML_PARAM_ENTITY_PARSING_NEVER);

    XML_Status st = feed(b.parser);

    bool ok = st == XML_STATUS_OK && !b.error && b.doc->documentElement;
    if (!ok) {
        unsigned long line = XML_GetCurrentLineNumber(b.parser);
        unsigned long col = XML_GetCurrentColumnNumber(b.parser);
        if (b.error)
            setError(err, -1, line, col, b.errorText);
        else if (st != XML_STATUS_OK)
            setError(err, XML_GetErrorCode(b.parser), line, col, XML_ErrorString(XML_GetErrorCode(b.parser)));
        else
            setError(err, -1, line, col, "no root element");
    }
    free(b.text);
    free(b.names.slots);
    free(b.scopes);

    DocBlocks *reg = ok ? static_cast<DocBlocks *>(plat_malloc(sizeof(DocBlocks))) : nullptr;
    if (ok && !reg) {
        setError(err, -1, 0, 0, "out of memory");
        ok = false;
    }
    if (!ok) {
        releaseBlocks(b.arena.head, false);
        freeLocals(b.locals, b.localsCount);
        free(b.doc);
        return nullptr;
    }
    b.trimIndex();
    b.arena.trimLast();
    reg->root = b.doc->documentElement;
    reg->blocks = b.arena.head;
    reg->locals = b.locals;
    reg->localsCount = b.localsCount;
    {
        std::lock_guard<std::mutex> g(g_docsMu);
        reg->next = g_docs;
        g_docs = reg;
    }
    {
        // The newest tree is the one in use: what is kept is measured by it.
        std::lock_guard<std::mutex> g(g_poolMu);
        g_liveBytes = b.arena.bytes;
        g_liveTree = reg;
        trimPoolLocked();
        if (g_keptBuffer && g_keptBuffer->mapped > keepLimit(kKeepBufferBytes))
            dropBuffer(std::exchange(g_keptBuffer, nullptr));
    }
    return b.doc;
}

XMLDoc *parseBytes(XMLParseError *err, const char *text, size_t left)
{
    XML_Parser parser = newParser();
    XMLDoc *doc = build(err, parser, [&](XML_Parser p) {
        XML_Status st = XML_STATUS_OK;
        do {
            size_t chunk = left > (size_t{1} << 30) ? (size_t{1} << 30) : left;
            left -= chunk;
            st = XML_Parse(p, text, static_cast<int>(chunk), left == 0);
            text += chunk;
        } while (st == XML_STATUS_OK && left > 0);
        return st;
    });
    if (parser)
        XML_ParserFree(parser);
    return doc;
}

} // namespace

XMLDoc *parseText(XMLParseError *err, const char *text) noexcept
{
    if (!text) {
        setError(err, -1, 0, 0, "no text");
        return nullptr;
    }
    return parseBytes(err, text, strlen(text));
}

// The text is read into a mapping of its own and handed to the parser a
// piece at a time; each piece's pages go back as soon as the parser has
// taken it, so the text shrinks while the tree grows instead of both being
// whole at once beside the tree in use.
struct XMLRead {
    char *buffer;
    size_t length;
    size_t mapped;
};

namespace {
// Pieces for the parser, and how much of the text is given back at once:
// each unmapping costs a TLB flush, so a large text goes in sixteenths.
constexpr size_t kFeedBytes = size_t{64} << 10;
constexpr size_t kReleaseMin = size_t{256} << 10;
} // namespace

XMLRead *xmlReadStart(size_t length, char **buffer) noexcept
{
    *buffer = nullptr;
    if (length == 0 || length > INT_MAX)
        return nullptr;
    auto *r = static_cast<XMLRead *>(plat_malloc(sizeof(XMLRead)));
    size_t mapped = pagesFor(length);
    void *room = r ? mapBytes(mapped) : nullptr;
    if (!room) {
        free(r);
        return nullptr;
    }
    *r = XMLRead{static_cast<char *>(room), length, mapped};
    *buffer = r->buffer;
    return r;
}

XMLDoc *xmlReadFinish(XMLRead *r, XMLParseError *err) noexcept
{
    if (!r) {
        setError(err, -1, 0, 0, "no text");
        return nullptr;
    }
    // Like parseText, the text ends at its first NUL.
    const void *nul = memchr(r->buffer, '\0', r->length);
    size_t left = nul ? static_cast<size_t>(static_cast<const char *>(nul) - r->buffer) : r->length;
    XML_Parser parser = newParser();
    XMLDoc *doc = build(err, parser, [r, left](XML_Parser p) mutable {
        const char *at = r->buffer;
        const size_t step = pagesFor(std::max(kReleaseMin, r->length / 16));
        size_t released = 0;
        XML_Status st;
        do {
            size_t chunk = std::min(left, kFeedBytes);
            left -= chunk;
            st = XML_Parse(p, at, static_cast<int>(chunk), left == 0);
            at += chunk;
            // The parser copied what it has not used up: the pages before
            // this point are free to go.
            size_t done = static_cast<size_t>(at - r->buffer) / pageBytes() * pageBytes();
            if (done >= released + step && munmap(r->buffer + released, done - released) == 0)
                released = done;
        } while (st == XML_STATUS_OK && left > 0);
        if (released) {
            r->buffer += released;
            r->mapped -= released;
        }
        return st;
    });
    if (parser)
        XML_ParserFree(parser);
    xmlReadCancel(r);
    return doc;
}

void xmlReadCancel(XMLRead *r) noexcept
{
    if (r) {
        if (r->mapped)
            munmap(r->buffer, r->mapped);
        free(r);
    }
}

void freeXMLNode(XMLNode *node) noexcept
{
    if (!node)
        return;
    DocBlocks *found = nullptr;
    {
        std::lock_guard<std::mutex> g(g_docsMu);
        for (DocBlocks **pp = &g_docs; *pp; pp = &(*pp)->next) {
            if ((*pp)->root == node) {
                found = *pp;
                *pp = found->next;
                break;
            }
        }
    }
    if (found) {
        bool live;
        {
            std::lock_guard<std::mutex> g(g_poolMu);
            live = g_liveTree == found;
        }
        releaseBlocks(found->blocks, live);
        freeLocals(found->locals, found->localsCount);
        free(found);
        return;
    }
    // Not a document element: detach it; its memory belongs to its tree.
    XMLNode *parent = node->parentNode;
    if (node->nodeType == XML_ATTRIBUTE_NODE || !parent) {
        if (node->previousSibling)
            node->previousSibling->nextSibling = node->nextSibling;
        if (node->nextSibling)
            node->nextSibling->previousSibling = node->previousSibling;
    } else {
        if (node->previousSibling)
            node->previousSibling->nextSibling = node->nextSibling;
        else
            parent->firstChild = node->nextSibling;
        if (node->nextSibling)
            node->nextSibling->previousSibling = node->previousSibling;
        else
            parent->lastChild = node->previousSibling;
    }
    node->parentNode = node->previousSibling = node->nextSibling = nullptr;
}

void freeXMLDoc(XMLDoc *doc) noexcept
{
    if (!doc)
        return;
    freeXMLNode(doc->documentElement);
    free(doc);
}

const char *getErrorText(XMLParseError *err) noexcept
{
    if (!err || err->code == 0)
        return "no error";
    return err->text;
}

NodeList *getElementsByLocalName(XMLNode *node, const char *localName) noexcept
{
    if (!node || !localName)
        return nullptr;
    auto *list = static_cast<NodeList *>(plat_calloc(1, sizeof(NodeList)));
    if (!list)
        return nullptr;
    bool parsed = false;
    const LocalIndex *l = indexFor(node, localName, &parsed);
    if (parsed) {
        for (int k = 0; l && k < l->total && list->count < RAIDC_NODELIST_MAX; ++k) {
            if (isBelow(l->items[k], node))
                list->nodes[list->count++] = l->items[k];
        }
        return list;
    }
    walkBelow(node, [&](XMLNode *n) {
        if (n->nodeType == XML_ELEMENT_NODE && strcmp(n->localName, localName) == 0)
            list->nodes[list->count++] = n;
        return list->count < RAIDC_NODELIST_MAX;
    });
    return list;
}

XMLNode *const *elementsByLocalName(const XMLNode *node, const char *localName, int *count) noexcept
{
    *count = 0;
    if (!node || !localName)
        return nullptr;
    bool parsed = false;
    const LocalIndex *l = indexFor(node, localName, &parsed);
    if (!l)
        return nullptr;
    *count = l->total;
    return l->items;
}
