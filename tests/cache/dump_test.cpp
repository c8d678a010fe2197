// The debug dump's exact lines.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

TEST(Dump, NodeLinesWithAndWithoutRecursion)
{
    loadTree("<R><System><Adapter Nr=\"0\"><CtrlId>3</CtrlId></Adapter></System></R>");
    XMLNode *ctrl = ctrlList->nodes[0];
    std::string out = captureStdout([&] { Print_xmlNode(ctrl, "#", 0); });
    EXPECT_EQ(out, "# nodeType                  - 1 \n"
                   "# localName                 - Adapter \n"
                   "# nodeName                  - Adapter \n"
                   "# attributes->nodeName      . Nr \n"
                   "# firstChild->nodeName      . CtrlId \n"
                   "# lastChild->nodeName       . CtrlId \n"
                   "# parentNode->nodeName      . System \n");

    // Recursion indents attributes and descendants.
    out = captureStdout([&] { Print_xmlNode(ctrl, "#", 1); });
    EXPECT_NE(out.find(":# nodeType                  - 2 \n:# localName                 - Nr \n"), std::string::npos);
    EXPECT_NE(out.find(".# localName                 - CtrlId \n"), std::string::npos);
    // The text node is a grandchild: two dots.
    EXPECT_NE(out.find("..# nodeType                  - 3 \n"), std::string::npos);
    EXPECT_NE(out.find("..# nodeValue                 - 3 \n"), std::string::npos);
    EXPECT_EQ(out.find("...#"), std::string::npos);
}

TEST(Dump, NodeListAndDocument)
{
    loadTree(wrapSystem({"<A/>", "<B/>"}));
    std::string out = captureStdout([] { Print_xmlNodeList(ctrlList, "-", 0); });
    size_t first = out.find("- nodeName                  - Adapter \n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find("- nodeName                  - Adapter \n", first + 1), std::string::npos);

    // A document without declarations dumps only the tree.
    XMLDoc doc = {rootNode, nullptr};
    out = captureStdout([&] { Print_xmlDoc(&doc); });
    EXPECT_EQ(out.rfind("+ nodeType                  - 1 \n", 0), 0u);
    EXPECT_EQ(out.find('*'), std::string::npos);
}

TEST(Dump, NamespaceDeclarationsChain)
{
    NSDecl second = {const_cast<char *>("q"), const_cast<char *>("urn:q"), nullptr, nullptr};
    NSDecl first = {nullptr, const_cast<char *>("urn:default"), nullptr, &second};
    std::string out = captureStdout([&] { Print_NSDecl(&first, "*", 1); });
    EXPECT_EQ(out, "* namespaceURI     - urn:default \n"
                   ".* namespaceURI     - urn:q \n"
                   ".* prefix           - q \n");
    EXPECT_EQ(captureStdout([&] { Print_NSDecl(&first, "*", 0); }), "* namespaceURI     - urn:default \n");
}

} // namespace
