// raidc-agent-sim: a stand-in for the RAID agent, for tests and demos.
#pragma once

#include "raidcommon.h"

// Each takes the words after its command name; returns the exit code.
int simInstall(int argc, char **argv); // install FILE: becomes the device tree file
int simTouch(int argc, char **argv);   // touch: gives the device tree file a new time
int simServe(int argc, char **argv);   // serve [options]: answers locate commands
int simTrap(int argc, char **argv);    // trap [options] WORDS...: sends trap events
