// Helpers of the cache and relation map tests.
#pragma once

#include "testutil.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

// A controller parameter as text, or "status N" when the query gives no text.
inline std::string ctrlText(const char *param, int ctrl = 0)
{
    char buf[128];
    int st = RaidC_getCtrlInfo(param, ctrl, buf, sizeof buf, nullptr);
    return st == RAIDC_SUCCESS_STRING ? std::string(buf) : "status " + std::to_string(st);
}

// A whole output compared byte for byte with a file under tests/; with
// RAIDC_UPDATE_GOLDEN=1 the file is written anew from the output first.
inline void expectGolden(const std::string &file, const std::string &output)
{
    const std::string path = RAIDC_SOURCE_DIR "/tests/" + file;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && std::string(update) == "1")
        std::ofstream(path, std::ios::binary) << output;
    EXPECT_EQ(testutil::readFile(path), output) << "golden file " << path;
}
