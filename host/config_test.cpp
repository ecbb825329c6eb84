// The configuration file: settings, their errors, and the kept answers about origins.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "base/testing/scoped.h"
#include "host/config.h"

namespace zentrak::host {
namespace {

namespace fs = std::filesystem;

class ConfigTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << text;
  }
  std::string Read() {
    std::stringstream s;
    s << std::ifstream(path_).rdbuf();
    return s.str();
  }
  ScopedTempDir dir_{"zentrak-config"};
  const std::string path_ = dir_.File("sub/host.json");
};

TEST_F(ConfigTest, MissingFileGivesDefaults) {
  HostSettings s = ConfigFile(path_).Load();
  EXPECT_EQ(s.port, kDefaultPort);
  EXPECT_EQ(s.idle_timeout_seconds, 600u);
  EXPECT_FALSE(s.allow_null_origin);
  EXPECT_TRUE(s.allowed_origins.empty());
}

TEST_F(ConfigTest, SettingsAreRead) {
  Write(R"({"port":5000,"idleTimeoutSeconds":30,"maxSessions":3,"maxObjectsPerSession":4,
            "maxRequestBytes":2048,"allowNullOrigin":true,
            "allowedOrigins":["HTTPS://Intranet.example:443/"],"blockedOrigins":["http://evil.example"],
            "somethingElse":1})");
  HostSettings s = ConfigFile(path_).Load();
  EXPECT_EQ(s.port, 5000);
  EXPECT_EQ(s.idle_timeout_seconds, 30u);
  EXPECT_EQ(s.max_sessions, 3u);
  EXPECT_EQ(s.max_objects_per_session, 4u);
  EXPECT_EQ(s.max_request_bytes, 2048u);
  EXPECT_TRUE(s.allow_null_origin);
  EXPECT_EQ(s.allowed_origins, std::vector<std::string>{"https://intranet.example"});
  EXPECT_EQ(s.blocked_origins, std::vector<std::string>{"http://evil.example"});
}

TEST_F(ConfigTest, BadFilesAreErrorsThatNameTheSetting) {
  struct Case {
    const char* text;
    const char* message_part;
  } cases[] = {
      {"{", "not JSON"},
      {"[]", "must hold a JSON object"},
      {R"({"port":-1})", "\"port\" must be an integer from 0 to 65535"},
      {R"({"port":65536})", "\"port\""},
      {R"({"port":"80"})", "\"port\""},
      {R"({"idleTimeoutSeconds":0})", "\"idleTimeoutSeconds\""},
      {R"({"maxRequestBytes":10})", "\"maxRequestBytes\""},
      {R"({"allowNullOrigin":1})", "\"allowNullOrigin\" must be true or false"},
      {R"({"allowedOrigins":"https://a.example"})", "\"allowedOrigins\" must be a list"},
      {R"({"allowedOrigins":["https://a.example/path"]})", "which is no origin"},
      {R"({"blockedOrigins":[3]})", "\"blockedOrigins\" holds 3"},
  };
  for (const auto& c : cases) {
    Write(c.text);
    try {
      ConfigFile(path_).Load();
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << c.text << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
    }
  }
}

TEST_F(ConfigTest, AnswersAreKeptBesideOtherSettings) {
  ConfigFile file(path_);
  std::string error;
  // A new file, in a folder that does not exist yet.
  ASSERT_TRUE(file.Remember("https://a.example", true, error)) << error;
  EXPECT_EQ(file.Load().allowed_origins, std::vector<std::string>{"https://a.example"});

  Write(R"({"port":5000,"allowedOrigins":["https://A.example:443"],"blockedOrigins":[],"note":"kept"})");
  ASSERT_TRUE(file.Remember("https://a.example", false, error)) << error;  // a block replaces an allow
  ASSERT_TRUE(file.Remember("https://b.example", true, error)) << error;
  ASSERT_TRUE(file.Remember("https://b.example", true, error)) << error;   // not twice
  auto tree = nlohmann::json::parse(Read());
  EXPECT_EQ(tree["port"], 5000);
  EXPECT_EQ(tree["note"], "kept");
  EXPECT_EQ(tree["allowedOrigins"], nlohmann::json::parse(R"(["https://b.example"])"));
  EXPECT_EQ(tree["blockedOrigins"], nlohmann::json::parse(R"(["https://a.example"])"));
  EXPECT_FALSE(fs::exists(path_ + ".tmp" + std::to_string(getpid())));
}

TEST_F(ConfigTest, AnswerIntoABrokenFileFailsWithoutTouchingIt) {
  Write("{ not json");
  std::string error;
  EXPECT_FALSE(ConfigFile(path_).Remember("https://a.example", true, error));
  EXPECT_NE(error.find("not JSON"), std::string::npos) << error;
  EXPECT_EQ(Read(), "{ not json");
}

TEST_F(ConfigTest, SitesListAnswersWithTheirTimeAndForgetRemovesOne) {
  ConfigFile file(path_);
  std::string error;
  EXPECT_TRUE(file.Sites().empty());  // no file yet
  bool found = true;
  ASSERT_TRUE(file.Forget("https://a.example", found, error)) << error;
  EXPECT_FALSE(found);
  EXPECT_FALSE(fs::exists(path_));  // forgetting nothing writes nothing

  // One origin written by hand (no time), answers given later, and a change of mind.
  Write(R"({"allowedOrigins":["HTTPS://Hand.example"],"port":5000})");
  ASSERT_TRUE(file.Remember("https://a.example", true, error, "2026-01-02T03:04:05Z")) << error;
  ASSERT_TRUE(file.Remember("https://b.example", true, error, "2026-01-02T03:04:06Z")) << error;
  ASSERT_TRUE(file.Remember("https://b.example", false, error, "2026-01-03T00:00:00Z")) << error;
  std::vector<std::tuple<std::string, bool, std::string>> got;
  for (const SiteAnswer& a : file.Sites()) got.emplace_back(a.origin, a.allowed, a.decided_at);
  EXPECT_EQ(got, (decltype(got){{"https://hand.example", true, ""},
                                {"https://a.example", true, "2026-01-02T03:04:05Z"},
                                {"https://b.example", false, "2026-01-03T00:00:00Z"}}));

  struct Case {
    const char* origin;
    bool found;
  } cases[] = {
      {"https://b.example", true},     // a blocked one, with its time
      {"https://hand.example", true},  // written by hand in another spelling
      {"https://b.example", false},    // already gone
      {"https://c.example", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(file.Forget(c.origin, found, error)) << error;
    EXPECT_EQ(found, c.found) << c.origin;
  }
  auto tree = nlohmann::json::parse(Read());
  EXPECT_EQ(tree["port"], 5000);
  EXPECT_EQ(tree["allowedOrigins"], nlohmann::json::parse(R"(["https://a.example"])"));
  EXPECT_EQ(tree["blockedOrigins"], nlohmann::json::array());
  EXPECT_EQ(tree["decidedAt"], nlohmann::json::parse(R"({"https://a.example":"2026-01-02T03:04:05Z"})"));
}

TEST_F(ConfigTest, ForgetInABrokenFileFailsWithoutTouchingIt) {
  Write("{ not json");
  std::string error;
  bool found = false;
  EXPECT_FALSE(ConfigFile(path_).Forget("https://a.example", found, error));
  EXPECT_NE(error.find("not JSON"), std::string::npos) << error;
  EXPECT_EQ(Read(), "{ not json");
  EXPECT_THROW(ConfigFile(path_).Sites(), ConfigError);
}

// A running host rereads the origins when the stamp changes: every rewrite must change it.
TEST_F(ConfigTest, StampChangesWithEveryRewrite) {
  ConfigFile file(path_);
  EXPECT_FALSE(file.Stamp().exists);
  std::string error;
  ASSERT_TRUE(file.Remember("https://a.example", true, error)) << error;
  FileStamp first = file.Stamp();
  EXPECT_TRUE(first.exists);
  EXPECT_EQ(file.Stamp(), first);
  ASSERT_TRUE(file.Remember("https://a.example", true, error)) << error;  // same content, new file
  EXPECT_NE(file.Stamp(), first);
}

TEST(ConfigTime, IsUtcInSeconds) {
  std::string t = UtcTimestamp();
  ASSERT_EQ(t.size(), 20u) << t;
  EXPECT_EQ(t[4], '-');
  EXPECT_EQ(t[10], 'T');
  EXPECT_EQ(t.back(), 'Z');
}

TEST(ConfigPath, FollowsXdgConfigHome) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x/conf");
    EXPECT_EQ(DefaultConfigPath(), "/x/conf/zentrak/host.json");
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(DefaultConfigPath(), std::string(std::getenv("HOME")) + "/.config/zentrak/host.json");
}

}  // namespace
}  // namespace zentrak::host
