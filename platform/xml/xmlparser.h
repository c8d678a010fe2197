// A small DOM over expat: parse a whole text into XMLNode trees, find
// elements by local name, release trees. The node types come from the
// library's public header, which hands them to callers.
#pragma once

#include "raidcommon.h"

typedef struct XMLParseError {
    int code;           // 0 = no error
    unsigned long line; // where the parser stopped
    unsigned long column;
    char text[160];
} XMLParseError;

// Parses a NUL-terminated text. Null on failure, with err filled in. The
// returned XMLDoc record may be released alone with free(); the tree then
// lives on until freeXMLNode(documentElement).
XMLDoc *parseText(XMLParseError *err, const char *text) noexcept;

// The elements below node (not node itself) whose local name matches, in
// document order, at most RAIDC_NODELIST_MAX. A heap block released with free().
NodeList *getElementsByLocalName(XMLNode *node, const char *localName) noexcept;

// A parse whose text is read straight into the parser's own buffer instead
// of being copied there: xmlReadStart gives room for exactly `length` bytes
// (null for none, for more than the parser takes, or out of memory), the caller
// fills all of it, and xmlReadFinish parses it as parseText would parse it
// with a NUL behind, then releases the reader. xmlReadCancel releases a
// reader that is not finished.
typedef struct XMLRead XMLRead;
XMLRead *xmlReadStart(size_t length, char **buffer) noexcept;
XMLDoc *xmlReadFinish(XMLRead *r, XMLParseError *err) noexcept;
void xmlReadCancel(XMLRead *r) noexcept;

// Every element of the document holding node whose local name matches, in
// document order and without a cap: the document's own index, valid while
// the tree lives (elements detached with freeXMLNode stay in it). Sets
// *count; null with 0 when there is none.
XMLNode *const *elementsByLocalName(const XMLNode *node, const char *localName, int *count) noexcept;

// Releases what a parse returned, tree included; accepts null.
void freeXMLDoc(XMLDoc *doc) noexcept;

// Releases a document element with its whole tree; any other node is only
// unlinked from its tree (its memory goes with the tree). Accepts null.
void freeXMLNode(XMLNode *node) noexcept;

const char *getErrorText(XMLParseError *err) noexcept;
