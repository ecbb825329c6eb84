// End to end: zentrak-host --stdio driven from another process, one request per line.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/testing/scoped.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

// Runs the host with the lines as its standard input and returns its output lines.
std::vector<std::string> RunHost(const std::vector<std::string>& lines, const fs::path& profile) {
  fs::path in = profile / "requests.txt";
  {
    FILE* f = std::fopen(in.c_str(), "w");
    for (const auto& l : lines) std::fprintf(f, "%s\n", l.c_str());
    std::fclose(f);
  }
  std::string cmd = "USERPROFILE='" + profile.string() + "' '" ZENTRAK_HOST "' --stdio < '" + in.string() + "'";
  FILE* p = popen(cmd.c_str(), "r");
  std::vector<std::string> out;
  char buf[1 << 16];
  std::string line;
  while (std::fgets(buf, sizeof buf, p)) {
    line += buf;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      out.push_back(line);
      line.clear();
    }
  }
  int status = pclose(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return out;
}

class StdioTest : public ::testing::Test {
 protected:
  zentrak::ScopedTempDir dir_{"zentrak-stdio"};
  const fs::path profile_ = dir_.path();
};

std::string Call(int id, const std::string& name, const json& args) {
  return json{{"id", id}, {"op", "call"}, {"object", 1}, {"name", name}, {"args", args}}.dump();
}

// A message out of the number range or nested too deep gets an answer; the host answers the
// next line and ends normally.
TEST_F(StdioTest, HostileLinesAreAnswered) {
  std::string deep = R"({"op":"session","id":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  auto out = RunHost({"1e400", "[1e400]", deep, R"({"id":4,"op":"create","progid":"Zentrak.LocalDB"})"}, profile_);
  ASSERT_EQ(out.size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(json::parse(out[i])["error"]["code"], -2147024809) << out[i];
  EXPECT_EQ(out[3], R"({"id":4,"ok":true,"object":1})");
}

TEST_F(StdioTest, AnswersInOrderWithTheExampleTexts) {
  std::vector<std::string> requests = {
      R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})",
      Call(2, "setDBName", {"orders", ""}),
      Call(3, "queryAll", {"select * from CacheObjs"}),
      Call(4, "executeSql", {"create table t(id INTEGER, name TEXT)"}),
      Call(5, "executeSql", {"insert into t values(1,'abc'),(2,null)"}),
      Call(6, "queryAll", {"select * from t"}),
      R"({"id":7,"op":"call","object":1,"dispid":210,"args":[null]})",
      "this is not json",
      R"({"id":8,"op":"names","object":1,"names":["QUERYALL","nothing"]})",
      Call(9, "executeSql", {"select * from missing"}),
      R"({"id":10,"op":"release","object":1})",
  };
  std::vector<std::string> answers = RunHost(requests, profile_);
  ASSERT_EQ(answers.size(), 11u);
  EXPECT_EQ(answers[0], R"({"id":1,"ok":true,"object":1})");
  EXPECT_EQ(answers[1], R"({"id":2,"ok":true,"value":true})");
  EXPECT_EQ(json::parse(answers[2])["value"], R"({"size":-1,"total":0,"page":-1,"meta":[],"data":[]})");
  EXPECT_EQ(json::parse(answers[5])["value"],
            R"({"size":-1,"total":2,"page":-1,"meta":["ID","NAME"],"data":[["1","abc"],["2",null]]})");
  EXPECT_EQ(answers[6],
            R"J({"id":7,"ok":false,"error":{"code":-2147418113,"description":"Could not convert variant of type (Null) into type (String)","source":"Zentrak.LocalDB"}})J");
  json bad = json::parse(answers[7]);
  EXPECT_FALSE(bad["ok"].get<bool>());
  EXPECT_EQ(bad["error"]["code"], -2147024809);
  EXPECT_EQ(answers[8], R"({"id":8,"ok":false,"dispids":[210,-1],"error":{"code":-2147352570}})");
  json failed = json::parse(answers[9]);
  EXPECT_EQ(failed["value"], failed["outs"][0]["value"]);
  EXPECT_EQ(failed["value"].get<std::string>().substr(0, 64),
            "Error executing SQL.\rError [1]: SQL error or missing database.\r\"");
  EXPECT_EQ(answers[10], R"({"id":10,"ok":true})");
  EXPECT_TRUE(fs::exists(profile_ / "Zentrak" / "orders.db"));
}

TEST_F(StdioTest, PagingAndComposedMessagesThroughTheWire) {
  std::vector<std::string> requests = {
      R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})",
      Call(2, "setDBName", {"p", ""}),
      Call(3, "executeSql", {"create table p(n INTEGER)"}),
      Call(4, "executeSql",
           {"with recursive c(x) as (select 0 union all select x+1 from c where x<24) insert into p select x from c"}),
      Call(5, "queryByPage", {"select * from p", 10, 3}),
      Call(6, "queryByPage", {"select * from p", 10, 4}),
      Call(7, "queryByPage", {"select * from p", "10", 0}),
      Call(8, "executeSql", {""}),
      Call(9, "executeSql", {"\tselect * from p"}),
      Call(10, "queryAll", {"select * from nothere"}),
  };
  auto answers = RunHost(requests, profile_);
  ASSERT_EQ(answers.size(), 10u);
  EXPECT_EQ(json::parse(answers[4])["value"],
            R"({"size":10,"total":25,"page":3,"meta":["N"],"data":[["20"],["21"],["22"],["23"],["24"]]})");
  EXPECT_EQ(json::parse(answers[5])["value"], R"({"size":10,"total":25,"page":4,"meta":["N"],"data":[]})");
  EXPECT_EQ(json::parse(answers[6])["value"],
            R"({"size":10,"total":25,"page":0,"meta":["N"],"data":[["0"],["1"],["2"],["3"],["4"],["5"],["6"],["7"],["8"],["9"]]})");
  json empty = json::parse(answers[7]);
  EXPECT_EQ(empty["value"], false);
  EXPECT_EQ(empty["outs"][0]["value"].get<std::string>().rfind("Could not prepare SQL statement", 0), 0u);
  json tab = json::parse(answers[8]);
  EXPECT_EQ(tab["value"], false);
  // A statement that yields a row fails after the statement is reset, so SQLite reports no error.
  EXPECT_EQ(tab["outs"][0]["value"], "Error executing SQL statement.\r\"\tselect * from p\": No message");
  json missing = json::parse(answers[9]);
  EXPECT_EQ(missing["error"]["code"], -2147418113);
  EXPECT_EQ(missing["error"]["description"],
            "Error executing SQL.\rError [1]: SQL error or missing database.\r\"select * from nothere\": no such table: "
            "nothere");
  EXPECT_EQ(missing["error"]["source"], "Zentrak.LocalDB");
}

TEST_F(StdioTest, EndOfInputClosesTheDatabases) {
  // The host leaves an open transaction behind; at the end of input the database is closed and
  // the transaction rolled back, so the insert is not kept.
  std::vector<std::string> requests = {
      R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})",
      Call(2, "setDBName", {"t", ""}),
      Call(3, "executeSql", {"create table k(a)"}),
      Call(4, "BeginTrans", json::array()),
      Call(5, "executeSql", {"insert into k values(1)"}),
  };
  ASSERT_EQ(RunHost(requests, profile_).size(), 5u);
  std::vector<std::string> again = {
      R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})",
      Call(2, "setDBName", {"t", ""}),
      Call(3, "queryAll", {"select count(*) from k"}),
  };
  auto answers = RunHost(again, profile_);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(json::parse(answers[2])["value"],
            R"J({"size":-1,"total":1,"page":-1,"meta":["COUNT(*)"],"data":[["0"]]})J");
}

}  // namespace
