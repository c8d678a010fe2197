// DOM builder over expat.
//
// Trees are carved from large blocks instead of one allocation per node:
// a device tree of a few hundred thousand elements would otherwise spend
// more time in malloc than in the parser. Element and attribute names are
// interned (a tree has a few hundred distinct names), and kept from parse to
// parse up to a bound, so the prefix/local-name split is done once per
// distinct name and most names are known before they are met. Whitespace-only
// text between elements is formatting and is not kept; whitespace that is an
// element's whole content is kept as its value.
#include "xmlparser.h"

#include "../unix/libunix.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <expat.h>
#include <mutex>
#include <sys/mman.h>
#include <utility>

namespace {

// Blocks are 2 MiB and 2 MiB-aligned so the kernel can back each with one
// huge page: a large tree is then a few dozen TLB entries instead of tens of
// thousands, which is most of what walking it costs.
constexpr size_t kBlockBytes = size_t{2} << 20;

struct Block {
    Block *next;
    size_t cap;
    size_t used;
    size_t pad_; // keeps the data behind the header pointer-aligned on 32-bit too
};
static_assert(sizeof(Block) % alignof(XMLNode) == 0);
constexpr size_t kBlockData = kBlockBytes - sizeof(Block);

// Released blocks are kept here for the next parse, up to a limit.
std::mutex g_poolMu;
Block *g_pool = nullptr;
size_t g_poolBytes = 0;
size_t g_poolLimit = size_t{128} << 20;

char *blockData(Block *b)
{
    return reinterpret_cast<char *>(b + 1);
}

Block *takeBlock(size_t need)
{
    if (need <= kBlockData) {
        std::lock_guard<std::mutex> g(g_poolMu);
        if (g_pool) {
            Block *b = g_pool;
            g_pool = b->next;
            g_poolBytes -= b->cap;
            b->next = nullptr;
            b->used = 0;
            return b;
        }
    }
    size_t cap = need > kBlockData ? need : kBlockData;
    Block *b;
    if (cap == kBlockData) {
        b = plat_fault_hit() ? nullptr : static_cast<Block *>(aligned_alloc(kBlockBytes, kBlockBytes));
        if (b)
            madvise(b, kBlockBytes, MADV_HUGEPAGE);
    } else {
        b = static_cast<Block *>(plat_malloc(sizeof(Block) + cap));
    }
    if (!b)
        return nullptr;
    b->next = nullptr;
    b->cap = cap;
    b->used = 0;
    return b;
}

void releaseBlocks(Block *b)
{
    while (b) {
        Block *next = b->next;
        bool keep = false;
        if (b->cap == kBlockData) {
            std::lock_guard<std::mutex> g(g_poolMu);
            if (g_poolBytes + b->cap <= g_poolLimit) {
                b->next = g_pool;
                g_pool = b;
                g_poolBytes += b->cap;
                keep = true;
            }
        }
        if (!keep)
            free(b);
        b = next;
    }
}

struct Arena {
    Block *head = nullptr; // newest block first
    char *cur = nullptr;
    char *end = nullptr;

    void *grow(size_t n)
    {
        Block *b = takeBlock(n);
        if (!b)
            return nullptr;
        b->next = head;
        head = b;
        cur = blockData(b);
        end = cur + b->cap;
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
    // Each field stored on its own: a block clear of a node this small
    // compiles to a string instruction whose start-up costs more than the
    // stores, once per node.
    XMLNode *node()
    {
        // The block's memory was last written a whole parse ago: ask for
        // the two lines a node spans, some nodes ahead, for writing.
        const uintptr_t ahead = reinterpret_cast<uintptr_t>(cur) + 512;
        __builtin_prefetch(reinterpret_cast<const void *>(ahead), 1);
        __builtin_prefetch(reinterpret_cast<const void *>(ahead + 64), 1);
        auto *n = static_cast<XMLNode *>(alloc(sizeof(XMLNode), alignof(XMLNode)));
        if (n) {
            n->nodeType = 0;
            n->nodeName = n->nodeValue = n->namespaceURI = n->prefix = n->localName = nullptr;
            n->attributes = n->parentNode = n->firstChild = n->lastChild = n->previousSibling = n->nextSibling =
                nullptr;
        }
        return n;
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
    XMLNode **items;
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

// An interned name. It sits right before its own text, so a node's name
// leads back to it without a lookup.
struct Name {
    char *prefix;
    char *local;
    size_t len;
    uint32_t hash;
    bool kept;      // one of the names kept for later parses (see KeptNames)
    Name *localPart; // the name of the local part; itself without a prefix
    // The local part's entry in the index of the parse numbered `epoch`.
    unsigned long epoch;
    int docLocal;
    // What came next the last time: the name of the following sibling (or
    // attribute), and of the first child (or first attribute). Trees repeat
    // the same shapes, so these guesses mostly spare the hash lookup. A kept
    // name only ever guesses kept names.
    Name *next;
    Name *firstChild;
    Name *firstAttr;
    char *text() { return reinterpret_cast<char *>(this + 1); }
};

Name *nameOf(const XMLNode *n)
{
    return reinterpret_cast<Name *>(n->nodeName) - 1;
}

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

// Names kept from parse to parse: every refresh of a device tree meets the
// same few hundred names, and interning them anew each time cost a lookup
// and a copy for each, with every guess lost. Bounded, so that files full
// of made-up names cannot grow it without end: past the bound a parse
// interns the rest in its own arena. Parses take turns on it.
struct KeptNames {
    std::mutex mu;
    NameTable table;
    size_t bytes = 0;
    unsigned long epoch = 0; // numbers the parses
};
KeptNames g_keptNames;
constexpr size_t kKeptNamesMax = 4096, kKeptBytesMax = size_t{256} << 10;

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

    NameTable names;        // this document's own names
    unsigned long epoch = 0; // this parse's number

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

    // Names are short: hash them a word at a time.
    static uint32_t hashOf(const char *s, size_t len)
    {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ len;
        size_t i = 0;
        for (; i + 8 <= len; i += 8) {
            uint64_t w;
            memcpy(&w, s + i, 8);
            h = (h ^ w) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        }
        uint64_t tail = 0;
        memcpy(&tail, s + i, len - i);
        h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
        return static_cast<uint32_t>(h ^ (h >> 29));
    }

    // The interned copy of a name; `split` separates a prefix at the first
    // colon (a local part is interned whole, for its index entry).
    Name *intern(const char *s, bool split = true)
    {
        size_t len = strlen(s);
        uint32_t h = hashOf(s, len);
        if (Name *m = g_keptNames.table.find(s, len, h))
            return m;
        if (Name *m = names.find(s, len, h))
            return m;
        const char *colon = split ? strchr(s, ':') : nullptr;
        Name *localPart = colon ? intern(colon + 1, false) : nullptr;
        if (colon && !localPart)
            return nullptr;
        const size_t prefixLen = colon ? static_cast<size_t>(colon - s) : 0;
        const size_t size = sizeof(Name) + len + 1 + (colon ? prefixLen + 1 : 0);
        KeptNames &k = g_keptNames;
        bool kept = (!localPart || localPart->kept) && k.table.count < kKeptNamesMax &&
                    k.bytes + size <= kKeptBytesMax && k.table.reserve();
        Name *n = kept ? static_cast<Name *>(plat_malloc(size)) : nullptr;
        if (n) {
            k.bytes += size;
        } else {
            kept = false;
            if (!names.reserve())
                return nullptr;
            n = static_cast<Name *>(arena.alloc(size, alignof(Name)));
            if (!n)
                return nullptr;
        }
        char *copy = n->text();
        memcpy(copy, s, len + 1);
        *n = Name{nullptr, copy, len, h, kept, n, 0, -1, nullptr, nullptr, nullptr};
        if (colon) {
            n->prefix = copy + len + 1;
            memcpy(n->prefix, s, prefixLen);
            n->prefix[prefixLen] = '\0';
            n->local = copy + prefixLen + 1;
            n->localPart = localPart;
        }
        (kept ? k.table : names).insert(n);
        return n;
    }

    // The name `s`, trying what `owner` guessed in `field` first; a miss
    // corrects the guess.
    Name *internGuessed(const char *s, Name *owner, Name *Name::*field)
    {
        Name *guess = owner ? owner->*field : nullptr;
        if (guess && strcmp(guess->text(), s) == 0)
            return guess;
        Name *n = intern(s);
        if (n && owner && (n->kept || !owner->kept))
            owner->*field = n;
        return n;
    }

    // A new index entry; every distinct local name gets exactly one, since
    // a prefixed name shares the entry of its interned local part.
    int newLocal(const char *local)
    {
        if (localsCount == localsCap) {
            size_t cap = localsCap ? localsCap * 2 : 64;
            auto *l = static_cast<LocalIndex *>(plat_realloc(locals, cap * sizeof(LocalIndex)));
            if (!l)
                return -1;
            locals = l;
            localsCap = cap;
        }
        locals[localsCount] = LocalIndex{local, 0, 0, nullptr};
        return static_cast<int>(localsCount++);
    }

    // Index arrays live in the arena too: a document has hundreds of names,
    // and growing each by malloc would cost more than the copies wasted here.
    bool index(Name *n, XMLNode *e)
    {
        Name *part = n->localPart;
        if (part->epoch != epoch) {
            int i = newLocal(part->text());
            if (i < 0)
                return false;
            part->docLocal = i;
            part->epoch = epoch;
        }
        LocalIndex &l = locals[part->docLocal];
        if (l.total == l.cap) {
            if (l.cap > INT_MAX / 2)
                return false;
            int cap = l.cap ? l.cap * 2 : 8;
            auto *items = static_cast<XMLNode **>(
                arena.alloc(sizeof(XMLNode *) * static_cast<size_t>(cap), alignof(XMLNode *)));
            if (!items)
                return false;
            if (l.total)
                memcpy(items, l.items, sizeof(XMLNode *) * static_cast<size_t>(l.total));
            l.items = items;
            l.cap = cap;
        }
        l.items[l.total++] = e;
        return true;
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
        XMLNode *t = arena.node();
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
        if (scopesLen == scopesCap) {
            size_t cap = scopesCap ? scopesCap * 2 : 16;
            auto *s = static_cast<Scope *>(plat_realloc(scopes, cap * sizeof(Scope)));
            if (!s)
                return false;
            scopes = s;
            scopesCap = cap;
        }
        scopes[scopesLen++] = Scope{prefix, value, depth};
        return true;
    }

    void startElement(const XML_Char *name, const XML_Char **atts)
    {
        if (cur)
            flushText(true);
        depth++;
        // The guess: what followed the previous sibling last time, or what
        // came first under an element of the parent's name.
        Name *owner = nullptr, *Name::*field = &Name::next;
        if (cur && !cur->lastChild) {
            owner = nameOf(cur);
            field = &Name::firstChild;
        } else if (cur && cur->lastChild->nodeType == XML_ELEMENT_NODE) {
            owner = nameOf(cur->lastChild);
        }
        XMLNode *e = arena.node();
        Name *n = e ? internGuessed(name, owner, field) : nullptr;
        if (!n || !index(n, e))
            return fail("out of memory");
        setName(e, XML_ELEMENT_NODE, n);
        if (cur)
            append(cur, e);
        else
            doc->documentElement = e;

        XMLNode *last = nullptr;
        for (const XML_Char **a = atts; a[0]; a += 2) {
            XMLNode *at = arena.node();
            Name *an = at ? internGuessed(a[0], last ? nameOf(last) : n, last ? &Name::next : &Name::firstAttr)
                          : nullptr;
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
            if (an->text()[0] == 'x' && !declare(e, an, value))
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
        if (textLen + n > textCap) {
            size_t cap = textCap ? textCap : 256;
            while (cap < textLen + n)
                cap *= 2;
            auto *t = static_cast<char *>(plat_realloc(text, cap));
            if (!t)
                return fail("out of memory");
            text = t;
            textCap = cap;
        }
        // Most pieces are a few bytes of indentation: copy and look for
        // content in one pass rather than call memcpy for each.
        char *to = text + textLen;
        bool content = textHasContent;
        for (size_t i = 0; i < n; ++i) {
            char c = s[i];
            to[i] = c;
            content = content || (c != ' ' && c != '\n' && c != '\t' && c != '\r');
        }
        textLen += n;
        textHasContent = content;
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

void XMLCALL onEntityDecl(void *ud, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                          const XML_Char *, const XML_Char *, const XML_Char *)
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

// Expat's memory. Its one large allocation, the buffer a file is read into,
// is kept for the next parse under the block pool's limit: a large file
// would otherwise land in fresh pages on every refresh. Each allocation
// carries its capacity in front (16 bytes keep malloc's alignment).
struct Sized {
    size_t cap;
    size_t pad_;
};
constexpr size_t kKeepFrom = size_t{1} << 20;
Sized *g_kept = nullptr; // under g_poolMu

void *xmlMalloc(size_t n)
{
    if (n >= kKeepFrom) {
        std::lock_guard<std::mutex> g(g_poolMu);
        if (g_kept && g_kept->cap >= n) {
            if (plat_fault_hit())
                return nullptr;
            return std::exchange(g_kept, nullptr) + 1;
        }
    }
    if (n > SIZE_MAX - sizeof(Sized))
        return nullptr;
    auto *s = static_cast<Sized *>(plat_malloc(sizeof(Sized) + n));
    if (!s)
        return nullptr;
    s->cap = n;
    return s + 1;
}

void xmlFree(void *p)
{
    if (!p)
        return;
    Sized *s = static_cast<Sized *>(p) - 1;
    if (s->cap >= kKeepFrom) {
        std::lock_guard<std::mutex> g(g_poolMu);
        if (s->cap <= g_poolLimit && (!g_kept || g_kept->cap < s->cap))
            std::swap(s, g_kept);
    }
    free(s);
}

void *xmlRealloc(void *p, size_t n)
{
    if (!p)
        return xmlMalloc(n);
    Sized *s = static_cast<Sized *>(p) - 1;
    if (n <= s->cap)
        return p;
    if (s->cap < kKeepFrom && n < kKeepFrom) {
        auto *t = static_cast<Sized *>(plat_realloc(s, sizeof(Sized) + n));
        if (!t)
            return nullptr;
        t->cap = n;
        return t + 1;
    }
    void *q = xmlMalloc(n);
    if (q) {
        memcpy(q, p, s->cap);
        xmlFree(p);
    }
    return q;
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
    std::lock_guard<std::mutex> turn(g_keptNames.mu);
    Builder b;
    b.epoch = ++g_keptNames.epoch;
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
        releaseBlocks(b.arena.head);
        free(b.locals);
        free(b.doc);
        return nullptr;
    }
    reg->root = b.doc->documentElement;
    reg->blocks = b.arena.head;
    reg->locals = b.locals;
    reg->localsCount = b.localsCount;
    {
        std::lock_guard<std::mutex> g(g_docsMu);
        reg->next = g_docs;
        g_docs = reg;
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

// No well-formed document holds a NUL, so a parse that succeeds over the
// whole length saw none; only a failed one has to look for a NUL and, like
// parseText, take the text up to it.
XMLDoc *retryBeforeNul(XMLParseError *err, const char *text, size_t length)
{
    const void *nul = memchr(text, '\0', length);
    return nul ? parseBytes(err, text, static_cast<size_t>(static_cast<const char *>(nul) - text)) : nullptr;
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

struct XMLRead {
    XML_Parser parser;
    char *buffer;
    size_t length;
};

XMLRead *xmlReadStart(size_t length, char **buffer) noexcept
{
    *buffer = nullptr;
    if (length == 0 || length > INT_MAX)
        return nullptr;
    auto *r = static_cast<XMLRead *>(plat_malloc(sizeof(XMLRead)));
    XML_Parser parser = r ? newParser() : nullptr;
    void *room = parser ? XML_GetBuffer(parser, static_cast<int>(length)) : nullptr;
    if (!room) {
        if (parser)
            XML_ParserFree(parser);
        free(r);
        return nullptr;
    }
    *r = XMLRead{parser, static_cast<char *>(room), length};
    *buffer = r->buffer;
    return r;
}

XMLDoc *xmlReadFinish(XMLRead *r, XMLParseError *err) noexcept
{
    if (!r) {
        setError(err, -1, 0, 0, "no text");
        return nullptr;
    }
    XMLDoc *doc = build(err, r->parser, [r](XML_Parser p) {
        return XML_ParseBuffer(p, static_cast<int>(r->length), XML_TRUE);
    });
    // The parser keeps its buffer, text and all, until it is released.
    if (!doc)
        doc = retryBeforeNul(err, r->buffer, r->length);
    xmlReadCancel(r);
    return doc;
}

void xmlReadCancel(XMLRead *r) noexcept
{
    if (r) {
        XML_ParserFree(r->parser);
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
        releaseBlocks(found->blocks);
        free(found->locals);
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

void xml_set_block_pool_limit(size_t bytes) noexcept
{
    Block *drop = nullptr;
    {
        std::lock_guard<std::mutex> g(g_poolMu);
        g_poolLimit = bytes;
        if (g_kept && g_kept->cap > g_poolLimit)
            free(std::exchange(g_kept, nullptr));
        while (g_pool && g_poolBytes > g_poolLimit) {
            Block *b = g_pool;
            g_pool = b->next;
            g_poolBytes -= b->cap;
            b->next = drop;
            drop = b;
        }
    }
    while (drop) {
        Block *n = drop->next;
        free(drop);
        drop = n;
    }
}
