/* A user of the installed library: the header's version and paths must be
 * the ones of the library it loads, and a device tree at the header's path
 * must be read. Prints the device tree path, then the controller count. */
#include <raidcommon.h>

int main(void)
{
    if (strcmp(RaidC_GetVersion(), RAIDC_VERSION_STRING) != 0) {
        fprintf(stderr, "header %s, library %s\n", RAIDC_VERSION_STRING, RaidC_GetVersion());
        return 1;
    }
    printf("%s\n", RAIDC_DEVICE_TREE_PATH);
    int r = RaidC_updateCache();
    int64_t n = -1;
    if (r != RAIDC_UPDATE_OK || RaidC_getCtrlsNumber(&n) != RAIDC_SUCCESS_INT || n < 1) {
        fprintf(stderr, "refresh %d, controllers %lld\n", r, (long long)n);
        return 1;
    }
    printf("%lld\n", (long long)n);
    return 0;
}
