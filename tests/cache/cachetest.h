// Helpers of the cache tests.
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

// A controller parameter as text, or "status N" when the query gives no text.
inline std::string ctrlText(const char *param, int ctrl = 0)
{
    char buf[128];
    int st = RaidC_getCtrlInfo(param, ctrl, buf, sizeof buf, nullptr);
    return st == RAIDC_SUCCESS_STRING ? std::string(buf) : "status " + std::to_string(st);
}
