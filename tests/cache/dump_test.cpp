// The debug dump's exact lines.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

TEST(Dump, NodesNamespacesListsAndDocument)
{
    loadTree("<R><System><Adapter Nr=\"0\"><CtrlId>3</CtrlId></Adapter></System></R>");
    XMLNode *ctrl = ctrlList->nodes[0];
    NSDecl second = {const_cast<char *>("q"), const_cast<char *>("urn:q"), nullptr, nullptr};
    NSDecl first = {nullptr, const_cast<char *>("urn:default"), nullptr, &second};
    std::string out = captureStdout([&] {
        Print_xmlNode(ctrl, "#", 0);
        Print_xmlNode(ctrl, "#", 1); // recursion indents attributes and descendants, a dot a level
        Print_NSDecl(&first, "*", 1);
        Print_NSDecl(&first, "*", 0);
    });
    loadTree(wrapSystem({"<A/>", "<B/>"}));
    XMLDoc doc = {rootNode, nullptr}; // without declarations: only the tree
    out += captureStdout([&] {
        Print_xmlNodeList(ctrlList, "-", 0);
        Print_xmlDoc(&doc);
    });
    expectGolden("cache/golden/dump.txt", out);
}

} // namespace
