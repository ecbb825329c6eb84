// The test helpers for temporary folders and environment variables.
#include "base/testing/scoped.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace zentrak {
namespace {

namespace fs = std::filesystem;

TEST(ScopedTempDir, IsFreshAndGoesWithItsContents) {
  fs::path kept;
  {
    ScopedTempDir a("zentrak-scoped"), b("zentrak-scoped");
    EXPECT_NE(a.path(), b.path());
    EXPECT_TRUE(fs::is_directory(a.path()));
    EXPECT_TRUE(fs::is_empty(a.path()));
    EXPECT_EQ(a.path().filename().string().rfind("zentrak-scoped-", 0), 0u) << a.path();
    fs::create_directories(a.path() / "sub" / "deeper");
    std::ofstream(a.File("sub/f.txt")) << "x";
    kept = a.path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(ScopedEnv, RestoresTheEarlierValueOrAbsence) {
  const char* kName = "ZENTRAK_SCOPED_ENV_TEST";
  ::unsetenv(kName);
  {
    ScopedEnv outer(kName, "one");
    EXPECT_STREQ(std::getenv(kName), "one");
    {
      ScopedEnv inner(kName, std::nullopt);
      EXPECT_EQ(std::getenv(kName), nullptr);
      ScopedEnv empty(kName, "");
      EXPECT_STREQ(std::getenv(kName), "");
    }
    EXPECT_STREQ(std::getenv(kName), "one");
  }
  EXPECT_EQ(std::getenv(kName), nullptr);
}

}  // namespace
}  // namespace zentrak
