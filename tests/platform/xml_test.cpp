// The XML layer on its own: the document model it builds and what it refuses.
#include "testutil.h"
#include "xml/xmlparser.h"

#include <cstring>
#include <memory>

namespace {

std::string str(const char *s)
{
    return s ? "'" + std::string(s) + "'" : "null";
}

// A text on one line: control bytes and NULs as \xNN.
std::string quoted(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02x", ch);
        out += static_cast<unsigned char>(ch) < 0x20 ? hex : std::string(1, ch);
    }
    return '"' + out + '"';
}

// Where a node sits: its ancestors and its place among its siblings.
std::string path(const XMLNode *n)
{
    int i = 0;
    for (const XMLNode *s = n->previousSibling; s; s = s->previousSibling)
        ++i;
    return (n->parentNode ? path(n->parentNode) : "") + "/" + (n->nodeName ? n->nodeName : n->localName) + "[" +
           std::to_string(i) + "]";
}

std::string nodes(XMLNode *const *list, int count)
{
    std::string out = std::to_string(count) + (list ? "" : " null");
    for (int i = 0; i < count; ++i)
        out += i < 3 || i == count - 1 ? " " + path(list[i]) : i == 3 ? " ..." : "";
    return out;
}

std::string describe(const XMLNode *n)
{
    const char *type[] = {"?", "element", "attribute", "text"};
    return std::string(type[n->nodeType > 0 && n->nodeType < 4 ? n->nodeType : 0]) + " " + str(n->nodeName) +
           " prefix=" + str(n->prefix) + " local=" + str(n->localName) + " ns=" + str(n->namespaceURI) +
           " value=" + str(n->nodeValue) + "\n";
}

// The model from n on, a line per node indented by depth, attributes after
// their element; the links that tie the tree together are checked on the way.
void dump(std::string &out, XMLNode *n, const XMLNode *parent, size_t depth)
{
    const XMLNode *prev = nullptr;
    for (; n; prev = n, n = n->nextSibling) {
        EXPECT_TRUE(n->parentNode == parent && n->previousSibling == prev) << describe(n);
        out += std::string(2 * depth, ' ') + describe(n);
        for (const XMLNode *a = n->attributes; a; a = a->nextSibling)
            out += std::string(2 * depth + 2, ' ') + describe(a);
        dump(out, n->firstChild, n, depth + 1);
    }
    EXPECT_TRUE(!parent || parent->lastChild == prev) << describe(parent);
}

// A parse's answer: the document model and its namespace declarations, or the error.
std::string model(XMLDoc *doc, XMLParseError &err)
{
    if (!doc)
        return " null code=" + std::to_string(err.code) + " " + str(getErrorText(&err)) + "\n";
    std::string out = "\n";
    dump(out, doc->documentElement, nullptr, 1);
    for (const NSDecl *d = doc->nsDeclList; d; d = d->next)
        out += "  xmlns " + str(d->prefix) + "=" + str(d->namespaceURI) + " on " + path(d->node) + "\n";
    freeXMLDoc(doc);
    return out;
}

// Element text is the first child; formatting whitespace is dropped but
// whitespace values stay; attributes chain in order; prefixes split and
// namespaces resolve by scope. Failures give null with a text; the reader
// parses what was read into it as parseText would, a NUL included.
TEST(Xml, DocumentModelsAndFailures)
{
    std::string out;
    for (const char *text :
         {"<a Nr='5' x:y='2' xmlns:x='urn:x'>\n  <b>hello &amp; bye</b>\n  <c/>\n  <w> </w>\n</a>",
          "<m>x<n/>\t\r\n </m>",
          "<r:Root xmlns:r='urn:r' xmlns='urn:d'><Child/><r:Other xmlns:r='urn:inner'/><r:Back/></r:Root>", "", "<a>",
          "<a></b>", "text", "<a x='1' x='2'/>", "<!DOCTYPE a SYSTEM 'http://example.invalid/a.dtd'><a/>",
          "<!DOCTYPE a [<!ENTITY e 'e'>]><a>&e;</a>"}) {
        XMLParseError err{};
        XMLDoc *doc = parseText(&err, text);
        out += "parseText(" + quoted(text) + ") =" + model(doc, err);
    }
    for (const std::string &bytes : {std::string("<a><b>v</b></a>"), std::string("<a/>\0<junk", 10),
                                     std::string("<a>\0</a>", 8), std::string("<a><b></a>")}) {
        char *buf = nullptr;
        XMLRead *r = xmlReadStart(bytes.size(), &buf);
        ASSERT_NE(r, nullptr);
        memcpy(buf, bytes.data(), bytes.size());
        XMLParseError err{};
        XMLDoc *doc = xmlReadFinish(r, &err);
        out += "xmlRead(" + quoted(bytes) + ") =" + model(doc, err);
    }
    testutil::expectGolden("platform/golden/xml-models.txt", out);
    XMLParseError err{};
    EXPECT_STREQ(getErrorText(&err), "no error");
    EXPECT_EQ(parseText(nullptr, nullptr), nullptr);
    char *buf = nullptr;
    xmlReadCancel(xmlReadStart(64, &buf));
    EXPECT_NE(buf, nullptr);
    EXPECT_EQ(xmlReadStart(0, &buf), nullptr);
    EXPECT_EQ(xmlReadFinish(nullptr, &err), nullptr);
    // A tree outlives its document record; a node that is not the document
    // element is only unlinked.
    XMLDoc *doc = parseText(&err, "<a><b>v</b></a>");
    ASSERT_NE(doc, nullptr);
    XMLNode *root = doc->documentElement;
    free(doc);
    EXPECT_STREQ(root->firstChild->firstChild->nodeValue, "v");
    freeXMLNode(root->firstChild);
    EXPECT_TRUE(root->firstChild == nullptr && root->lastChild == nullptr);
    freeXMLNode(root);
    freeXMLNode(nullptr);
    freeXMLDoc(nullptr);
}

// Prefixed and plain names share their local name; lists hold at most 1024,
// the document's index all, and keeps an element cut from the tree.
TEST(Xml, ElementsByLocalName)
{
    std::string text = "<a><x:b xmlns:x='u'/><c><b/><y:b xmlns:y='v'/><b:z xmlns:b='w'/></c>";
    for (int i = 0; i < 1100; ++i)
        text += "<b/>";
    XMLParseError err{};
    std::unique_ptr<XMLDoc, void (*)(XMLDoc *)> doc(parseText(&err, (text + "</a>").c_str()), freeXMLDoc);
    ASSERT_NE(doc, nullptr);
    XMLNode *root = doc->documentElement, *c = root->firstChild->nextSibling;
    // A tree built by hand has no index: the walk below the last child c
    // visits both of c's children and nothing beyond c.
    char na[] = "hand", nb[] = "b", nc[] = "c";
    XMLNode a = {}, b = {}, c2 = {}, cb = {}, cb2 = {};
    a.firstChild = &b, a.lastChild = &c2, b.nextSibling = &c2, c2.previousSibling = &b;
    b.parentNode = c2.parentNode = &a, cb.parentNode = cb2.parentNode = &c2;
    c2.firstChild = &cb, c2.lastChild = &cb2, cb.nextSibling = &cb2, cb2.previousSibling = &cb;
    a.localName = na, b.localName = cb.localName = cb2.localName = nb, c2.localName = nc;
    for (XMLNode *n : {&a, &b, &c2, &cb, &cb2})
        n->nodeType = XML_ELEMENT_NODE;
    std::string out;
    auto lookup = [&](XMLNode *below, const char *name) {
        NodeList *l = getElementsByLocalName(below, name);
        out += "getElementsByLocalName(" + path(below) + ", " + name + ") = " + nodes(l->nodes, l->count) + "\n";
        free(l);
        int count = -1;
        XMLNode *const *all = elementsByLocalName(below, name, &count);
        out += "elementsByLocalName(" + path(below) + ", " + name + ") = " + nodes(all, count) + "\n";
    };
    for (auto [below, name] : {std::pair{root, "b"}, {root, "a"}, {root, "z"}, {c, "b"}, {&c2, "b"}, {root, "nothing"}})
        lookup(below, name);
    freeXMLNode(c);
    lookup(root, "b");
    testutil::expectGolden("platform/golden/xml-lookups.txt", out);
}

// Each of thousands of distinct names gets an index of its own, trimmed to
// the one element it holds.
TEST(Xml, ThousandsOfDistinctNamesEachFindTheirElement)
{
    std::string text = "<r>";
    for (int i = 0; i < 6000; ++i)
        text += "<e" + std::to_string(i) + "/>";
    XMLParseError err{};
    std::unique_ptr<XMLDoc, void (*)(XMLDoc *)> doc(parseText(&err, (text + "</r>").c_str()), freeXMLDoc);
    ASSERT_NE(doc, nullptr) << err.text;
    int i = 0;
    for (XMLNode *e = doc->documentElement->firstChild; e; e = e->nextSibling, ++i) {
        int count = 0;
        XMLNode *const *found = elementsByLocalName(doc->documentElement, ("e" + std::to_string(i)).c_str(), &count);
        ASSERT_EQ(count, 1) << i;
        ASSERT_EQ(found[0], e) << i;
    }
    EXPECT_EQ(i, 6000);
}

} // namespace
