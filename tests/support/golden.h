// Exact expected pages kept as files under tests/golden/, so that a page's bytes are read as
// a page rather than as HTML retyped in C++. Run a test with TESSALY_UPDATE_GOLDEN=1 to write
// the files from what the code produces now; review the diff before committing it.
#ifndef TESSALY_TESTS_SUPPORT_GOLDEN_H_
#define TESSALY_TESTS_SUPPORT_GOLDEN_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace tessaly::support {

inline std::filesystem::path GoldenPath(const std::string& name) {
  return std::filesystem::path(TESSALY_GOLDEN_DIR) / name;
}

// Expects `actual` to equal the golden file `name` byte for byte.
inline void ExpectGolden(const std::string& actual, const std::string& name) {
  if (std::getenv("TESSALY_UPDATE_GOLDEN")) {
    std::ofstream(GoldenPath(name), std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(actual, ReadFile(GoldenPath(name))) << "golden file " << GoldenPath(name);
}

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_GOLDEN_H_
