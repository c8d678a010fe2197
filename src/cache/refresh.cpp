// Reading the device tree file and rebuilding the cache.
#include "cache.h"

#include "../../platform/unix/libunix.h"
#include "../../platform/xml/xmlparser.h"

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

XMLNode *rootNode = nullptr;
NodeList *nodeList = nullptr;
XMLNode *systemNode = nullptr;

namespace {

// st_mtime of the file at the last successful parse, in whole seconds.
int32_t g_fileTime = 0;
// Its size: a tree much smaller than the one before it hands the heap that
// the larger one's lists and map left free back to the system.
long g_fileSize = 0;

void returnFreedHeap(long size)
{
    long before = g_fileSize;
    g_fileSize = size;
#ifdef __GLIBC__
    if (before > 2 * size + (1L << 20))
        malloc_trim(0);
#endif
}

// Reads the whole file under the file lock, straight into the parser's
// buffer. 0 with the reader and the file's time, or the update result of the
// failure. The time comes from the open file before its bytes are read: a
// rewrite that lands during the read then leaves a newer time behind, which
// the next refresh sees, instead of the new time standing for old bytes.
int readLocked(XMLRead **readOut, int32_t *timeOut, long *sizeOut, bool *unchanged)
{
    FILE *f = fopen(RAIDC_DEVICE_TREE_PATH, "r+b");
    if (!f || plat_fault_hit()) {
        if (f)
            fclose(f);
        return RAIDC_UPDATE_OPEN_FAILED;
    }
    // Unbuffered, the one fread of the whole file is one read into the
    // parser's buffer instead of thousands of stdio-sized ones.
    setvbuf(f, nullptr, _IONBF, 0);
    int fd = fileno(f);
    if (lockf(fd, F_LOCK, 0) != 0) {
        fclose(f);
        return RAIDC_UPDATE_OPEN_FAILED;
    }
    auto unlockClose = [&]() {
        // A failed unlock needs no handling: closing the file drops the lock.
        if (lockf(fd, F_ULOCK, 0) != 0) {
        }
        fclose(f);
    };
    struct stat st;
    if (fstat(fd, &st) != 0) {
        unlockClose();
        return RAIDC_UPDATE_OPEN_FAILED;
    }
    *timeOut = static_cast<int32_t>(st.st_mtime);
    if (*timeOut == g_fileTime) {
        unlockClose();
        *unchanged = true;
        return RAIDC_UPDATE_OK;
    }
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    if (size < 1 || fseek(f, 0, SEEK_SET) != 0) {
        unlockClose();
        return RAIDC_UPDATE_UNUSABLE;
    }
    char *text = nullptr;
    XMLRead *r = xmlReadStart(static_cast<size_t>(size), &text);
    if (!r) {
        unlockClose();
        return RAIDC_UPDATE_UNUSABLE;
    }
    if (plat_fault_hit() || fread(text, static_cast<size_t>(size), 1, f) != 1) {
        xmlReadCancel(r);
        unlockClose();
        return RAIDC_UPDATE_UNUSABLE;
    }
    plat_fault_pause("refresh-read");
    unlockClose();
    *readOut = r;
    *sizeOut = size;
    return RAIDC_UPDATE_OK;
}

} // namespace

extern "C" int raidc_Internal_UpdateCache(void) noexcept
{
    using namespace raidc;
    XMLParseError err;
    memset(&err, 0, sizeof err);

    XMLRead *read = nullptr;
    int32_t fileTime = 0;
    long fileSize = 0;
    bool unchanged = false;
    int r = readLocked(&read, &fileTime, &fileSize, &unchanged);
    if (r != RAIDC_UPDATE_OK || unchanged)
        return r;

    XMLDoc *doc = xmlReadFinish(read, &err);
    if (!doc || !doc->documentElement) {
        freeXMLDoc(doc);
        return RAIDC_UPDATE_UNUSABLE;
    }

    // From here on the new tree replaces the old one.
    systemNode = nullptr;
    freeXMLNode(rootNode);
    rootNode = nullptr;
    free(nodeList);
    nodeList = getElementsByLocalName(doc->documentElement, "System");
    if (!nodeList) {
        freeXMLDoc(doc);
        releaseControllerState();
        return RAIDC_UPDATE_UNUSABLE;
    }
    systemNode = countOf(nodeList) > 0 ? nodeList->nodes[0] : nullptr;
    rootNode = doc->documentElement;
    free(doc);

    g_fileTime = fileTime;

    switch (rebuildControllerState()) {
    case Rebuild::Done: break;
    case Rebuild::NoControllers: return RAIDC_UPDATE_UNUSABLE;
    case Rebuild::ListMissing:
        // A missing list would read as a controller without devices: rather
        // answer nothing, and read the file again next time.
        g_fileTime = 0;
        return RAIDC_UPDATE_UNUSABLE;
    }
    returnFreedHeap(fileSize);
    return RAIDC_UPDATE_OK;
}
