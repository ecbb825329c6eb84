// The wire protocol, in process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "host/wire.h"
#include "server/convert.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

json Ask(Session& s, const char* text) { return json::parse(s.HandleText(text)); }

TEST(Wire, CreateCallReleaseByNameAndDispid) {
  Session s;
  json created = Ask(s, R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})");
  ASSERT_TRUE(created["ok"].get<bool>()) << created;
  int64_t obj = created["object"];
  json by_name = s.Handle({{"id", 2}, {"op", "call"}, {"object", obj}, {"name", "GETVERSION"}});
  EXPECT_EQ(by_name, json::parse(R"({"id":2,"ok":true,"value":"Corvel SqliteDB 0.8"})"));
  json by_dispid = s.Handle({{"id", 3}, {"op", "call"}, {"object", obj}, {"dispid", 201}, {"args", json::array()}});
  EXPECT_EQ(by_dispid["value"], "Corvel SqliteDB 0.8");
  json names = s.Handle({{"id", 4}, {"op", "names"}, {"object", obj}, {"names", {"QUERYALL"}}});
  EXPECT_EQ(names["dispids"], json::parse("[210]"));
  EXPECT_TRUE(s.Handle({{"id", 5}, {"op", "release"}, {"object", obj}})["ok"].get<bool>());
  EXPECT_FALSE(s.Handle({{"id", 6}, {"op", "release"}, {"object", obj}})["ok"].get<bool>());
  json by_clsid = Ask(s, R"({"id":7,"op":"create","clsid":"{F3F978B4-CA5D-4F99-8C81-E5406A068C89}"})");
  EXPECT_TRUE(by_clsid["ok"].get<bool>());
}

TEST(Wire, FailuresCarryCodeDescriptionAndSource) {
  Session s;
  int64_t obj = Ask(s, R"({"op":"create","progid":"zentrak.localdb"})")["object"];
  json null_arg = s.Handle({{"id", 1}, {"op", "call"}, {"object", obj}, {"name", "InitDB"},
                            {"args", {nullptr, 1, 2, 3}}});
  json expected = json::parse(
      R"j({"id":1,"ok":false,"error":{"code":-2147418113,)j"
      R"j("description":"Could not convert variant of type (Null) into type (String)","source":"Zentrak.LocalDB"}})j");
  EXPECT_EQ(null_arg, expected);
  json unknown = s.Handle({{"id", 2}, {"op", "call"}, {"object", obj}, {"name", "nothing"}});
  EXPECT_EQ(unknown["error"], json::parse(R"({"code":-2147352570})"));
  json bad_count = s.Handle({{"id", 3}, {"op", "call"}, {"object", obj}, {"name", "GetVersion"}, {"args", {1}}});
  EXPECT_EQ(bad_count["error"], json::parse(R"({"code":-2147352562})"));
  json no_member = s.Handle({{"id", 4}, {"op", "call"}, {"object", obj}, {"dispid", 300}});
  EXPECT_EQ(no_member["error"], json::parse(R"({"code":-2147352573})"));
}

TEST(Wire, TaggedValues) {
  struct Case {
    const char* in;
    const char* out;  // the value as it comes back through a text conversion
  } cases[] = {
      {R"({"vt":"Int64","value":"9007199254740993"})", "9007199254740993"},
      {R"({"vt":"Currency","value":"12.5"})", "12.5"},
      {R"({"vt":"Smallint","value":-3})", "-3"},
      {R"({"vt":"Boolean","value":true})", "True"},
      {R"({"vt":"Decimal","value":"-1.50"})", "-1.5"},
      {R"({"vt":"Variant","byref":true,"value":"x"})", "x"},
      {R"({"vt":"Empty"})", ""},
      {"2.5", "2.5"},
      {"7", "7"},
  };
  for (const auto& c : cases) {
    Variant v = ValueFromJson(json::parse(c.in));
    EXPECT_EQ(VarToText(v), c.out) << c.in;
    EXPECT_EQ(ValueFromJson(ValueToJson(v)).Type(), v.Type()) << c.in;  // round trip keeps the tag
  }
  EXPECT_EQ(ValueFromJson(json::parse("7")).Type(), VarType::Integer);
  EXPECT_EQ(ValueFromJson(json::parse("2147483648")).Type(), VarType::Double);
  EXPECT_EQ(ValueFromJson(json::parse("null")).Type(), VarType::Null);
  EXPECT_EQ(ValueFromJson(json::parse(R"({"vt":"Integer","value":5,"byref":true})")).IsByRef(), true);
  EXPECT_EQ(ValueToJson(Variant()), json::parse(R"({"vt":"Empty"})"));
  EXPECT_EQ(ValueToJson(Variant::FromBool(true)), json(true));
  EXPECT_EQ(ValueToJson(Variant::FromInt32(-4)), json(-4));
  EXPECT_EQ(ValueToJson(Variant(u"\U0001F600")), json("\xF0\x9F\x98\x80"));
}

TEST(Wire, BadRequestsAreAnsweredNeverFatal) {
  Session s;
  const char* bad[] = {
      "not json",
      "\xff\xfe",  // the parser's message quotes bytes that are not UTF-8
      "[1,2",
      "42",
      R"({"id":1})",
      R"({"id":1,"op":"fly"})",
      R"({"id":1,"op":"create"})",
      R"({"id":1,"op":"call","object":99,"name":"x"})",
      R"({"id":1,"op":"call","object":"x"})",
      R"({"id":1,"op":"create","progid":"Zentrak.Nothing"})",
      R"({"id":1,"op":"create","clsid":"not-a-guid"})",
  };
  for (const char* b : bad) {
    json a = json::parse(s.HandleText(b));
    EXPECT_FALSE(a.is_object() && a.value("ok", true)) << b;
  }
  int64_t obj = Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["object"];
  const char* bad_values[] = {
      R"({"vt":"Bogus"})",
      R"({"vt":"Int64","value":"12x"})",
      R"({"vt":"Smallint","value":40000})",
      R"({"vt":"Variant","value":1})",
      R"([1])",
      R"({"vt":"Decimal","value":"99999999999999999999999999999999"})",
  };
  for (const char* v : bad_values) {
    json a = s.Handle({{"op", "call"}, {"object", obj}, {"name", "isTableCached"}, {"args", {json::parse(v)}}});
    EXPECT_EQ(a["error"]["code"], kE_INVALIDARG) << v;
  }
}

TEST(Wire, ObjectLimitPerSession) {
  Session s(2);
  EXPECT_TRUE(Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["ok"].get<bool>());
  EXPECT_TRUE(Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["ok"].get<bool>());
  EXPECT_FALSE(Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["ok"].get<bool>());
}

TEST(Wire, BatchesAnswerInOrder) {
  Session s;
  json answers = Ask(s, R"([{"id":"a","op":"create","progid":"Zentrak.PrintServer"},{"id":"b","op":"fly"}])");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0]["id"], "a");
  EXPECT_EQ(answers[1]["id"], "b");
  EXPECT_FALSE(answers[1]["ok"].get<bool>());
}

TEST(Wire, QueryAnswersInterfaces) {
  Session s;
  int64_t db = Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["object"];
  int64_t fso = Ask(s, R"({"op":"create","progid":"Zentrak.FileSystemObject"})")["object"];
  const char* safety = "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}";
  json a = s.Handle({{"op", "query"}, {"object", db}, {"iid", "{00020400-0000-0000-C000-000000000046}"}});
  EXPECT_EQ(a["safety"], json::parse(R"({"code":0,"supported":3,"enabled":3})"));
  EXPECT_TRUE(s.Handle({{"op", "query"}, {"object", db}, {"iid", safety}})["value"].get<bool>());
  EXPECT_FALSE(s.Handle({{"op", "query"}, {"object", fso}, {"iid", safety}})["value"].get<bool>());
}

}  // namespace
}  // namespace zentrak::host

namespace zentrak::host {
namespace {

// The fast answer text is exactly what the JSON library writes.
TEST(Wire, AnswerTextMatchesTheLibrary) {
  json answer = {{"id", "x\"\\/\x01\x1f\x7f"},
                 {"ok", true},
                 {"value", "tab\tnl\ncr\rff\fbs\b \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
                 {"n", -2147418113},
                 {"d", 2.5},
                 {"list", {1, nullptr, false, "a"}},
                 {"empty", json::object()}};
  EXPECT_EQ(WireText(answer), answer.dump());
  json bad = {{"value", std::string("a\xFF" "b\xC3", 4)}};
  EXPECT_EQ(WireText(bad), bad.dump(-1, ' ', false, json::error_handler_t::replace));
}

}  // namespace
}  // namespace zentrak::host
