// A test's own folder for whole jobs: a printer store, an application-data folder and a
// fixed reception time, all inside one fresh temporary folder removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace velmora::testing {

class JobFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own, so that suites run from several checkouts at once never meet.
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-job-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    ::setenv("VELMORA_STORE", (dir / "store.db").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("SOURCE_DATE_EPOCH");
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;
};

}  // namespace velmora::testing
