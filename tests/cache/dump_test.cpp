// The debug dump's exact lines.
#include "cachetest.h"

using namespace testutil;

namespace {

TEST(Dump, NodeLinesWithAndWithoutRecursion)
{
    loadTree("<R><System><Adapter Nr=\"0\"><CtrlId>3</CtrlId></Adapter></System></R>");
    XMLNode *ctrl = ctrlList->nodes[0];
    expectGolden("cache/golden/node.txt", captureStdout([&] { Print_xmlNode(ctrl, "#", 0); }));
    // Recursion indents attributes and descendants, a dot a level.
    expectGolden("cache/golden/node-recursive.txt", captureStdout([&] { Print_xmlNode(ctrl, "#", 1); }));
}

TEST(Dump, NodeListAndDocument)
{
    loadTree(wrapSystem({"<A/>", "<B/>"}));
    expectGolden("cache/golden/node-list.txt", captureStdout([] { Print_xmlNodeList(ctrlList, "-", 0); }));
    // A document without declarations dumps only the tree.
    XMLDoc doc = {rootNode, nullptr};
    expectGolden("cache/golden/document.txt", captureStdout([&] { Print_xmlDoc(&doc); }));
}

TEST(Dump, NamespaceDeclarationsChain)
{
    NSDecl second = {const_cast<char *>("q"), const_cast<char *>("urn:q"), nullptr, nullptr};
    NSDecl first = {nullptr, const_cast<char *>("urn:default"), nullptr, &second};
    EXPECT_EQ(captureStdout([&] { Print_NSDecl(&first, "*", 1); }), "* namespaceURI     - urn:default \n"
                                                                    ".* namespaceURI     - urn:q \n"
                                                                    ".* prefix           - q \n");
    EXPECT_EQ(captureStdout([&] { Print_NSDecl(&first, "*", 0); }), "* namespaceURI     - urn:default \n");
}

} // namespace
