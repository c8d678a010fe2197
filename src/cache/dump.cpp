// Debug dump of the document model to standard output. The walks are
// iterative so that a deeply nested document cannot exhaust the stack; the
// indents of all levels share one buffer of dots in front of the caller's
// indent.
#include "cache.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char *nameOf(const XMLNode *n)
{
    return n->nodeName ? n->nodeName : "(null)";
}

void printLines(const XMLNode *n, const char *indent)
{
    printf("%s nodeType                  - %d \n", indent, n->nodeType);
    if (n->localName)
        printf("%s localName                 - %s \n", indent, n->localName);
    if (n->namespaceURI)
        printf("%s namespaceURI              - %s \n", indent, n->namespaceURI);
    if (n->nodeName)
        printf("%s nodeName                  - %s \n", indent, n->nodeName);
    if (n->nodeValue)
        printf("%s nodeValue                 - %s \n", indent, n->nodeValue);
    if (n->prefix)
        printf("%s prefix                    - %s \n", indent, n->prefix);
    if (n->attributes)
        printf("%s attributes->nodeName      . %s \n", indent, nameOf(n->attributes));
    if (n->firstChild)
        printf("%s firstChild->nodeName      . %s \n", indent, nameOf(n->firstChild));
    if (n->lastChild)
        printf("%s lastChild->nodeName       . %s \n", indent, nameOf(n->lastChild));
    if (n->nextSibling)
        printf("%s nextSibling->nodeName     . %s \n", indent, nameOf(n->nextSibling));
    if (n->parentNode)
        printf("%s parentNode->nodeName      . %s \n", indent, nameOf(n->parentNode));
    if (n->previousSibling)
        printf("%s previousSibling->nodeName . %s \n", indent, nameOf(n->previousSibling));
}

// A buffer holding `levels` dots (plus one spare slot in front) and then
// `indent`; indentAt(d) is the indent of depth d.
struct Indents {
    char *buf = nullptr;
    size_t levels = 0;
    bool make(const char *indent, size_t depth)
    {
        size_t len = strlen(indent);
        buf = static_cast<char *>(malloc(depth + 1 + len + 1));
        if (!buf)
            return false;
        levels = depth;
        memset(buf, '.', depth + 1);
        memcpy(buf + depth + 1, indent, len + 1);
        return true;
    }
    char *at(size_t d) const { return buf + 1 + levels - d; }
    ~Indents() { free(buf); }
};

size_t depthBelow(const XMLNode *top)
{
    size_t d = 0, max = 0;
    const XMLNode *n = top;
    for (;;) {
        if (n->firstChild) {
            n = n->firstChild;
            if (++d > max)
                max = d;
            continue;
        }
        while (n != top && !n->nextSibling) {
            n = n->parentNode;
            d--;
        }
        if (n == top)
            return max;
        n = n->nextSibling;
    }
}

void printWithAttributes(const XMLNode *n, const Indents &ind, size_t d)
{
    printLines(n, ind.at(d));
    if (!n->attributes)
        return;
    char *attrIndent = ind.at(d) - 1;
    *attrIndent = ':';
    for (const XMLNode *a = n->attributes; a; a = a->nextSibling)
        printLines(a, attrIndent);
    *attrIndent = '.';
}

} // namespace

extern "C" {

void Print_xmlNode(XMLNode *node, const char *indent, int recurse) noexcept
{
    if (!node)
        return;
    if (!indent)
        indent = "";
    if (!recurse) {
        printLines(node, indent);
        return;
    }
    Indents ind;
    if (!ind.make(indent, depthBelow(node)))
        return;
    const XMLNode *n = node;
    size_t d = 0;
    printWithAttributes(n, ind, d);
    for (;;) {
        if (n->firstChild) {
            n = n->firstChild;
            printWithAttributes(n, ind, ++d);
            continue;
        }
        while (n != node && !n->nextSibling) {
            n = n->parentNode;
            d--;
        }
        if (n == node)
            return;
        n = n->nextSibling;
        printWithAttributes(n, ind, d);
    }
}

void Print_NSDecl(NSDecl *decl, const char *indent, int recurse) noexcept
{
    if (!decl)
        return;
    if (!indent)
        indent = "";
    size_t count = 0;
    for (NSDecl *d = decl; d && (recurse || d == decl); d = d->next)
        count++;
    Indents ind;
    if (!ind.make(indent, count))
        return;
    size_t level = 0;
    for (NSDecl *d = decl; d && level < count; d = d->next, ++level) {
        const char *in = ind.at(level);
        if (d->namespaceURI)
            printf("%s namespaceURI     - %s \n", in, d->namespaceURI);
        if (d->prefix)
            printf("%s prefix           - %s \n", in, d->prefix);
        if (d->node)
            printf("%s node->nodeName   - %s \n", in, nameOf(d->node));
    }
}

void Print_xmlDoc(XMLDoc *doc) noexcept
{
    if (!doc)
        return;
    Print_NSDecl(doc->nsDeclList, "*", 1);
    Print_xmlNode(doc->documentElement, "+", 1);
}

void Print_xmlNodeList(NodeList *list, const char *indent, int recurse) noexcept
{
    if (!list)
        return;
    int n = list->count < RAIDC_NODELIST_MAX ? list->count : RAIDC_NODELIST_MAX;
    for (int i = 0; i < n; ++i)
        Print_xmlNode(list->nodes[i], indent, recurse);
}

} // extern "C"
