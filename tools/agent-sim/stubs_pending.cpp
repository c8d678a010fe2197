// TEMPORARY until the command and trap stand-ins are in.
#include "sim.h"
#include <cstdio>
__attribute__((weak)) int simServe(int, char **) { fprintf(stderr, "serve: not available yet\n"); return 1; }
__attribute__((weak)) int simTrap(int, char **) { fprintf(stderr, "trap: not available yet\n"); return 1; }
