// Whole outputs compared byte for byte with a file under tests/; with
// RAIDC_UPDATE_GOLDEN=1 the file is written anew from the output first.
#pragma once

#include "testutil.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

inline void expectGolden(const std::string &file, const std::string &output)
{
    const std::string path = RAIDC_SOURCE_DIR "/tests/" + file;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && std::string(update) == "1")
        std::ofstream(path, std::ios::binary) << output;
    EXPECT_EQ(testutil::readFile(path), output) << "golden file " << path;
}
