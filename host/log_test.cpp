// The host's log file: its lines and its size bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/testing/scoped.h"
#include "host/log.h"

namespace zentrak::host {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

TEST(HostLog, LinesAreStampedAndRotateAtTheBound) {
  ScopedTempDir dir("zentrak-log");
  const std::string path = dir.File("state/zentrak/host.log");
  std::string error;
  // A line is 20 bytes of time, a blank, the text and a newline: 20 + 1 + 8 + 1 = 30.
  ASSERT_TRUE(OpenLog(path, error, 70)) << error;
  Log("line 001");
  Log("line 002");
  EXPECT_EQ(fs::file_size(path), 60u);
  std::string first = ReadAll(path);
  EXPECT_EQ(first.substr(20, 10), " line 001\n") << first;
  EXPECT_EQ(first[19], 'Z');

  Log("line 003");  // 60 + 30 > 70: the file moves to host.log.1
  EXPECT_EQ(ReadAll(path + ".1"), first);
  EXPECT_NE(ReadAll(path).find("line 003"), std::string::npos);
  Log("line 004");
  Log("line 005");  // again: the older kept file is replaced
  EXPECT_NE(ReadAll(path + ".1").find("line 003"), std::string::npos);
  EXPECT_EQ(ReadAll(path + ".1").find("line 001"), std::string::npos);
  EXPECT_NE(ReadAll(path).find("line 005"), std::string::npos);
  EXPECT_FALSE(fs::exists(path + ".2"));

  // A line longer than the bound still goes in, alone.
  Log(std::string(100, 'x'));
  EXPECT_NE(ReadAll(path).find(std::string(100, 'x')), std::string::npos);
  CloseLog();
  Log("after closing");
  EXPECT_EQ(ReadAll(path).find("after closing"), std::string::npos);
}

TEST(HostLog, UnwritableFolderIsAnError) {
  ScopedTempDir dir("zentrak-log");
  std::ofstream(dir.File("file")) << "x";
  std::string error;
  EXPECT_FALSE(OpenLog(dir.File("file/host.log"), error));
  EXPECT_NE(error.find("file/host.log"), std::string::npos) << error;
}

TEST(HostLog, PathFollowsXdgStateHome) {
  {
    ScopedEnv xdg("XDG_STATE_HOME", "/x/state");
    EXPECT_EQ(DefaultLogPath(), "/x/state/zentrak/host.log");
  }
  ScopedEnv xdg("XDG_STATE_HOME", std::nullopt);
  EXPECT_EQ(DefaultLogPath(), std::string(std::getenv("HOME")) + "/.local/state/zentrak/host.log");
}

}  // namespace
}  // namespace zentrak::host
