// The per-controller element lists.
#include "cache.h"

#include "../../platform/unix/libunix.h"
#include "../../platform/xml/xmlparser.h"

using namespace raidc;

namespace {

void push(NodeList *l, XMLNode *n)
{
    if (l->count < RAIDC_NODELIST_MAX)
        l->nodes[l->count++] = n;
}

bool nodeNameIs(const XMLNode *n, const char *name)
{
    return n->nodeName && strcmp(n->nodeName, name) == 0;
}

// Allocates an empty list and, when the controller exists, lets `collect`
// fill it from the controller element.
template <typename Collect> NodeList *buildList(NodeList *ctrls, int ctrlIdx, Collect &&collect)
{
    auto *l = static_cast<NodeList *>(plat_calloc(1, sizeof(NodeList)));
    if (!l || !ctrls || ctrls->count <= 0 || ctrlIdx < 0 || ctrlIdx >= ctrls->count || !ctrls->nodes[ctrlIdx])
        return l;
    collect(ctrls->nodes[ctrlIdx], l);
    return l;
}

// The children named `name` of `parent`, appended to the list.
template <typename Match> void collectChildren(const XMLNode *parent, const char *name, NodeList *l, Match match)
{
    for (XMLNode *c = parent->firstChild; c; c = c->nextSibling) {
        if (match(c, name))
            push(l, c);
    }
}

} // namespace

extern "C" {

NodeList *raidInternal_getCtrlList(XMLNode *node) noexcept
{
    return getElementsByLocalName(node, "Adapter");
}

NodeList *raidInternal_getPdList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) {
        for (XMLNode *c = ctrl->firstChild; c; c = c->nextSibling) {
            if (isNamed(c, "PhysicalDrive")) {
                push(l, c);
            } else if (isNamed(c, "Port")) {
                for (XMLNode *p = c->firstChild; p; p = p->nextSibling) {
                    if (isNamed(p, "PhysicalDrive"))
                        push(l, p);
                    else if (isNamed(p, "Enclosure"))
                        collectChildren(p, "PhysicalDrive", l, isNamed);
                }
            }
        }
    });
}

NodeList *raidInternal_getLdList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx,
                     [](XMLNode *ctrl, NodeList *l) { collectChildren(ctrl, "LogicalDrive", l, isNamed); });
}

NodeList *raidInternal_getEncList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) {
        for (XMLNode *c = ctrl->firstChild; c; c = c->nextSibling) {
            if (isNamed(c, "Port"))
                collectChildren(c, "Enclosure", l, isNamed);
        }
    });
}

NodeList *raidInternal_getArrayList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) { collectChildren(ctrl, "Array", l, isNamed); });
}

NodeList *raidInternal_getPortList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) { collectChildren(ctrl, "Port", l, nodeNameIs); });
}

NodeList *raidInternal_getProcessorList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) {
        for (XMLNode *port = ctrl->firstChild; port; port = port->nextSibling) {
            if (!nodeNameIs(port, "Port"))
                continue;
            for (XMLNode *enc = port->firstChild; enc; enc = enc->nextSibling) {
                if (nodeNameIs(enc, "Enclosure"))
                    collectChildren(enc, "Processor", l, nodeNameIs);
            }
        }
    });
}

NodeList *raidInternal_getBatteryList(NodeList *ctrls, int ctrlIdx) noexcept
{
    return buildList(ctrls, ctrlIdx, [](XMLNode *ctrl, NodeList *l) { collectChildren(ctrl, "Battery", l, isNamed); });
}

} // extern "C"
