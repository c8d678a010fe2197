// The XML layer on its own: the document model it builds and what it refuses.
#include "xml/xmlparser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

struct Parsed {
    XMLParseError err{};
    XMLDoc *doc = nullptr;
    explicit Parsed(const std::string &text) { doc = parseText(&err, text.c_str()); }
    ~Parsed()
    {
        if (doc) {
            freeXMLNode(doc->documentElement);
            free(doc);
        }
    }
    XMLNode *root() const { return doc->documentElement; }
};

// Element text is the first child; formatting whitespace is dropped but
// whitespace values stay; attributes chain in order.
TEST(Xml, DocumentModelOfElementsTextsAndAttributes)
{
    Parsed p("<a Nr='5' x:y='2' xmlns:x='urn:x'>\n  <b>hello &amp; bye</b>\n  <c/>\n  <w> </w>\n</a>");
    ASSERT_NE(p.doc, nullptr);
    XMLNode *b = p.root()->firstChild, *c = b->nextSibling, *w = c->nextSibling;
    EXPECT_STREQ(b->localName, "b");
    ASSERT_NE(b->firstChild, nullptr);
    EXPECT_EQ(b->firstChild->nodeType, XML_TEXT_NODE);
    EXPECT_STREQ(b->firstChild->nodeValue, "hello & bye");
    EXPECT_EQ(c->firstChild, nullptr);
    EXPECT_EQ(c->previousSibling, b);
    EXPECT_STREQ(w->localName, "w");
    ASSERT_NE(w->firstChild, nullptr);
    EXPECT_STREQ(w->firstChild->nodeValue, " ");
    EXPECT_EQ(w->nextSibling, nullptr);
    Parsed mixed("<m>x<n/>\t\r\n </m>"); // text beside elements stays unless it is all whitespace
    ASSERT_NE(mixed.doc, nullptr);
    EXPECT_STREQ(mixed.root()->firstChild->nodeValue, "x");
    EXPECT_EQ(mixed.root()->firstChild->nextSibling, mixed.root()->lastChild);

    XMLNode *at = p.root()->attributes;
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->nodeType, XML_ATTRIBUTE_NODE);
    EXPECT_STREQ(at->nodeName, "Nr");
    EXPECT_STREQ(at->nodeValue, "5");
    XMLNode *xy = at->nextSibling;
    EXPECT_STREQ(xy->nodeName, "x:y");
    EXPECT_STREQ(xy->prefix, "x");
    EXPECT_STREQ(xy->localName, "y");
    EXPECT_STREQ(xy->namespaceURI, "urn:x");
    EXPECT_EQ(at->namespaceURI, nullptr);
}

TEST(Xml, PrefixesSplitAndNamespacesAreListed)
{
    Parsed p("<r:Root xmlns:r='urn:r' xmlns='urn:d'><Child/><r:Other xmlns:r='urn:inner'/><r:Back/></r:Root>");
    ASSERT_NE(p.doc, nullptr);
    XMLNode *root = p.root();
    EXPECT_STREQ(root->namespaceURI, "urn:r");
    XMLNode *child = root->firstChild;
    EXPECT_EQ(child->prefix, nullptr);
    EXPECT_STREQ(child->namespaceURI, "urn:d");
    EXPECT_STREQ(child->nextSibling->namespaceURI, "urn:inner");
    EXPECT_STREQ(child->nextSibling->nextSibling->namespaceURI, "urn:r"); // inner scope ended
    NSDecl *d = p.doc->nsDeclList;
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->prefix, "r");
    EXPECT_EQ(d->node, root);
    ASSERT_NE(d->next, nullptr);
    EXPECT_EQ(d->next->prefix, nullptr);
    EXPECT_STREQ(d->next->namespaceURI, "urn:d");
    ASSERT_NE(d->next->next, nullptr);
    EXPECT_EQ(d->next->next->next, nullptr);
}

TEST(Xml, FailuresReturnNullWithAText)
{
    for (const char *bad :
         {"", "<a>", "<a></b>", "text", "<a x='1' x='2'/>", "<!DOCTYPE a SYSTEM 'http://example.invalid/a.dtd'><a/>",
          "<!DOCTYPE a [<!ENTITY e 'e'>]><a>&e;</a>"}) {
        XMLParseError err{};
        XMLDoc *doc = parseText(&err, bad);
        EXPECT_EQ(doc, nullptr) << bad;
        EXPECT_NE(err.code, 0) << bad;
        EXPECT_STRNE(getErrorText(&err), "no error") << bad;
        freeXMLDoc(doc);
    }
    EXPECT_EQ(parseText(nullptr, nullptr), nullptr);
}

// Prefixed and plain names share their local name.
TEST(Xml, ElementsByLocalNameInDocumentOrderUpTo1024)
{
    std::string text = "<a><x:b xmlns:x='u'/><c><b/><y:b xmlns:y='v'/><b:z xmlns:b='w'/></c>";
    for (int i = 0; i < 1100; ++i)
        text += "<b/>";
    text += "</a>";
    Parsed p(text);
    ASSERT_NE(p.doc, nullptr);
    NodeList *l = getElementsByLocalName(p.root(), "b");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->count, 1024);
    EXPECT_EQ(l->nodes[0], p.root()->firstChild);
    EXPECT_STREQ(l->nodes[1]->parentNode->localName, "c");
    EXPECT_STREQ(l->nodes[2]->nodeName, "y:b");
    free(l);
    XMLNode *c = p.root()->firstChild->nextSibling;
    for (auto [below, name, count] : {std::tuple{p.root(), "a", 0}, std::tuple{p.root(), "z", 1}}) {
        NodeList *found = getElementsByLocalName(below, name);
        EXPECT_EQ(found->count, count) << name;
        free(found);
    }
    // Only elements below the node; plain and prefixed, in document order.
    NodeList *inC = getElementsByLocalName(c, "b");
    EXPECT_TRUE(inC->count == 2 && inC->nodes[0] == c->firstChild && inC->nodes[1] == c->firstChild->nextSibling);
    free(inC);
    // A tree built by hand has no index: the walk below the last child c
    // visits both of c's children and nothing beyond c.
    char nb[] = "b", nc[] = "c";
    XMLNode a = {}, b = {}, c2 = {}, cb = {}, cb2 = {};
    a.firstChild = &b, a.lastChild = &c2, b.nextSibling = &c2, c2.previousSibling = &b;
    b.parentNode = c2.parentNode = &a, cb.parentNode = cb2.parentNode = &c2;
    c2.firstChild = &cb, c2.lastChild = &cb2, cb.nextSibling = &cb2, cb2.previousSibling = &cb;
    b.localName = cb.localName = cb2.localName = nb, c2.localName = nc;
    for (XMLNode *n : {&a, &b, &c2, &cb, &cb2})
        n->nodeType = XML_ELEMENT_NODE;
    NodeList *inLast = getElementsByLocalName(&c2, "b");
    EXPECT_TRUE(inLast->count == 2 && inLast->nodes[0] == &cb && inLast->nodes[1] == &cb2);
    free(inLast);

    // The index itself has no cap, and an element cut from the tree stays
    // in it while lookups below the root no longer see it.
    int count = 0;
    XMLNode *const *all = elementsByLocalName(p.root()->lastChild, "b", &count);
    ASSERT_EQ(count, 1103);
    EXPECT_EQ(all[0], p.root()->firstChild);
    EXPECT_EQ(all[1102], p.root()->lastChild);
    freeXMLNode(c);
    EXPECT_EQ(elementsByLocalName(p.root(), "b", &count)[1], c->firstChild);
    l = getElementsByLocalName(p.root(), "b");
    EXPECT_NE(l->nodes[1]->parentNode, c);
    free(l);
    EXPECT_EQ(elementsByLocalName(p.root(), "nothing", &count), nullptr);
    EXPECT_EQ(count, 0);
}

// Names are kept from parse to parse up to a bound; a document with more
// distinct names than that parses whole, and so do the ones after it, once
// it is gone.
TEST(Xml, DocumentsBeyondTheKeptNamesParseWhole)
{
    auto many = [](int from, int n) {
        std::string text = "<r xmlns:p='u'>";
        for (int i = from; i < from + n; ++i)
            text += "<p:e" + std::to_string(i) + " a" + std::to_string(i) + "='v'><s/></p:e" + std::to_string(i) + ">";
        return text + "</r>";
    };
    for (int round = 0; round < 3; ++round) {
        Parsed p(many(round * 3000, 6000));
        ASSERT_NE(p.doc, nullptr) << p.err.text;
        int i = round * 3000;
        for (XMLNode *e = p.root()->firstChild; e; e = e->nextSibling, ++i) {
            ASSERT_EQ(std::string(e->nodeName), "p:e" + std::to_string(i));
            ASSERT_EQ(std::string(e->localName), std::string("e") + std::to_string(i));
            ASSERT_STREQ(e->prefix, "p");
            ASSERT_EQ(std::string(e->attributes->nodeName), std::string("a") + std::to_string(i));
            ASSERT_STREQ(e->firstChild->localName, "s");
        }
        EXPECT_EQ(i, round * 3000 + 6000);
        int count = 0;
        XMLNode *const *late =
            elementsByLocalName(p.root(), (std::string("e") + std::to_string(round * 3000 + 5999)).c_str(), &count);
        ASSERT_EQ(count, 1);
        EXPECT_EQ(late[0], p.root()->lastChild);
        EXPECT_EQ(elementsByLocalName(p.root(), "s", &count)[5999], p.root()->lastChild->firstChild);
    }
}

// The reader: text read straight into the parser's buffer parses as the same
// text would with parseText, a NUL included; an unfinished one is released.
TEST(Xml, ReaderParsesWhatWasReadIntoIt)
{
    struct Case {
        std::string bytes;
        const char *root; // null: the parse fails
    } cases[] = {{"<a><b>v</b></a>", "a"},
                 {std::string("<a/>\0<junk", 10), "a"},
                 {std::string("<a>\0</a>", 8), nullptr},
                 {"<a><b></a>", nullptr}};
    for (const Case &c : cases) {
        char *buf = nullptr;
        XMLRead *r = xmlReadStart(c.bytes.size(), &buf);
        ASSERT_NE(r, nullptr);
        memcpy(buf, c.bytes.data(), c.bytes.size());
        XMLParseError err{};
        XMLDoc *doc = xmlReadFinish(r, &err);
        if (!c.root) {
            EXPECT_EQ(doc, nullptr);
            EXPECT_NE(err.code, 0);
            continue;
        }
        ASSERT_NE(doc, nullptr) << err.text;
        EXPECT_STREQ(doc->documentElement->nodeName, c.root);
        freeXMLDoc(doc);
    }
    char *buf = nullptr;
    xmlReadCancel(xmlReadStart(64, &buf));
    EXPECT_NE(buf, nullptr);
    EXPECT_EQ(xmlReadStart(0, &buf), nullptr);
    XMLParseError err{};
    EXPECT_EQ(xmlReadFinish(nullptr, &err), nullptr);
}

TEST(Xml, TreeOutlivesItsDocumentRecord)
{
    XMLParseError err{};
    XMLDoc *doc = parseText(&err, "<a><b>v</b></a>");
    ASSERT_NE(doc, nullptr);
    XMLNode *root = doc->documentElement;
    free(doc);
    EXPECT_STREQ(root->firstChild->firstChild->nodeValue, "v");
    // A node that is not a document element is only unlinked.
    XMLNode *b = root->firstChild;
    freeXMLNode(b);
    EXPECT_EQ(root->firstChild, nullptr);
    freeXMLNode(root);
    freeXMLNode(nullptr);
    freeXMLDoc(nullptr);
}

} // namespace
