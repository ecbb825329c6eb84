// The wire protocol, in process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <vector>

#include "base/testing/scoped.h"
#include "base/text.h"
#include "host/test_classes.h"
#include "host/wire.h"
#include "automation/convert.h"

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

std::string Nested(size_t levels, std::string_view inner = "") {
  return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
}

// Messages an attacker on the machine can send: each gets an E_INVALIDARG answer and the session
// goes on serving.
TEST(Wire, HostileMessagesAreAnsweredAndTheSessionLivesOn) {
  struct Case {
    std::string text;
    const char* says;
  } cases[] = {
      {"1e400", "number overflow"},
      {"[1e400]", "number overflow"},
      {"-1e400", "number overflow"},
      {R"({"op":"create","progid":"Zentrak.LocalDB","id":1e400})", "number overflow"},
      {R"({"op":"call","object":1,"name":"isTableCached","args":[1e999]})", "number overflow"},
      {R"({"op":"session","id":)" + Nested(100000) + "}", "the request nests deeper than 64 levels"},
      {Nested(100000), "the request nests deeper than 64 levels"},
      {R"({"op":"call","object":1,"name":"isTableCached","args":[)" + Nested(100000) + "]}",
       "an argument value nests deeper than 1000 levels"},
      // "args" gives the larger bound only as a member of a request.
      {R"({"op":"call","x":{"args":[)" + Nested(100) + "]}}", "the request nests deeper than 64 levels"},
      {R"([[{"op":"call","args":[)" + Nested(100) + "]}]]", "the request nests deeper than 64 levels"},
  };
  Session s;
  for (const auto& c : cases) {
    json a = json::parse(s.HandleText(c.text));
    EXPECT_EQ(a["error"]["code"], kE_INVALIDARG) << c.text.substr(0, 80);
    EXPECT_NE(a["error"]["description"].get<std::string>().find(c.says), std::string::npos)
        << a["error"]["description"];
  }
  EXPECT_TRUE(Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["ok"].get<bool>());
}

// The bounds hold exactly: 64 levels for the request (the outermost value is level 1, so a batch
// leaves one less for its requests), 1000 for each argument value.
TEST(Wire, NestingBoundsAreExact) {
  Session s;
  auto with_id = [](size_t levels) { return R"({"op":"fly","id":)" + Nested(levels) + "}"; };
  json echoed = Ask(s, with_id(63).c_str());
  EXPECT_EQ(echoed["id"], json::parse(Nested(63))) << "an id at level 64";
  EXPECT_EQ(echoed["error"]["description"], "Bad request: unknown op \"fly\"");
  EXPECT_EQ(Ask(s, with_id(64).c_str())["id"], nullptr);
  EXPECT_EQ(Ask(s, ("[" + with_id(62) + "]").c_str())[0]["id"], json::parse(Nested(62)));
  EXPECT_TRUE(Ask(s, ("[" + with_id(63) + "]").c_str()).is_object()) << "one answer: the refusal";

  int64_t obj = Ask(s, R"({"op":"create","progid":"Zentrak.LocalDB"})")["object"];
  auto with_arg = [&](size_t levels) {
    return R"({"op":"call","name":"isTableCached","object":)" + std::to_string(obj) + R"(,"args":[)" +
           Nested(levels) + "]}";
  };
  auto description = [&](const std::string& text) { return Ask(s, text.c_str())["error"]["description"]; };
  EXPECT_EQ(description(with_arg(1000)),
            "Bad request: an argument must be a string, number, boolean, null or a {\"vt\":...} object");
  EXPECT_EQ(description(with_arg(1001)), "Bad request: an argument value nests deeper than 1000 levels");
  // A value nested by reference, 500 Variants deep, is read and passed.
  std::string deep = "\"t\"";
  for (int i = 0; i < 500; ++i) deep = R"({"vt":"Variant","byref":true,"value":)" + deep + "}";
  json passed = Ask(s, (R"({"op":"call","name":"isTableCached","object":)" + std::to_string(obj) + R"(,"args":[)" +
                        deep + "]}").c_str());
  EXPECT_FALSE(passed["error"]["description"].get<std::string>().starts_with("Bad request")) << passed;
}

// The answer writer keeps its own stack: an answer of any depth is written.
TEST(Wire, AnswerTextOfAnyDepth) {
  json root = json::array();
  json* at = &root;
  const size_t levels = 300000;
  for (size_t i = 1; i < levels; ++i) {
    at->push_back(json::object());
    at = &(*at)[0]["k"];
    *at = json::array();
  }
  std::string text = WireText(root);
  EXPECT_EQ(text.size(), levels * 2 + (levels - 1) * 6);
  EXPECT_EQ(text.substr(0, 8), "[{\"k\":[{");
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

namespace zentrak::host {
namespace {

// The answer text of a string value as the JSON library's string gives it: the wire's UTF-8
// first, then WireText's escaping pass. The one-pass writer must give the same bytes.
std::string TwoPass(std::u16string_view w) { return WireText(json(WideToStandardUtf8(w))); }
std::string OnePass(std::u16string_view w) {
  std::string out;
  AppendWireString(w, out);
  return out;
}

std::u16string Units(std::initializer_list<unsigned> units) {
  std::u16string w;
  for (unsigned u : units) w += static_cast<char16_t>(u);
  return w;
}

TEST(WireString, RulesForUtf16) {
  struct Case {
    std::u16string in;
    const char* out;
  } cases[] = {
      {u"", R"("")"},
      {Units({'a', 0xD800}), "\"a\xEF\xBF\xBD\""},                 // a lone high surrogate at the end
      {Units({0xDC00, 'a'}), "\"\xEF\xBF\xBD" "a\""},               // a lone low surrogate
      {Units({0xDC00, 0xD800}), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},     // a pair in the wrong order
      {Units({0xD83D, 0xDE00}), "\"\xF0\x9F\x98\x80\""},            // U+1F600
      {Units({0xDBFF, 0xDFFF}), "\"\xF4\x8F\xBF\xBF\""},            // U+10FFFF
      {Units({0xD800, 0xD800, 0xDC00}), "\"\xEF\xBF\xBD\xF0\x90\x80\x80\""},
      {Units({0x01, 0x1F, 0x7F}), "\"\\u0001\\u001f\x7F\""},
      {u"\b\f\n\r\t\"\\/", R"("\b\f\n\r\t\"\\/")"},
      {Units({0x80, 0x7FF, 0x800, 0xFFFF}), "\"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OnePass(c.in), c.out) << c.out;
    EXPECT_EQ(TwoPass(c.in), c.out) << c.out;
  }
  std::string out = "prefix";
  AppendWireString(u"x", out);
  EXPECT_EQ(out, "prefix\"x\"");
}

// Tricky units at every position relative to the sixteen-unit steps and the 2048-unit blocks
// of the writer: after ASCII of many lengths, with and without ASCII after them.
TEST(WireString, TrickyTextsAtEveryOffset) {
  std::vector<std::u16string> tricky = {
      Units({0xD800}), Units({0xDBFF}), Units({0xDC00}), Units({0xDFFF}), Units({0xD83D, 0xDE00}),
      Units({0xD83D, 0xDE00, 0xD83D, 0xDE00}), Units({0xDC00, 0xD800}), Units({0xD800, 0xD800, 0xDC00}),
      u"\"", u"\\", u"\"\\\"\\", u"a\"b\\c", Units({0x7F}), Units({0x80}), Units({0x7FF}), Units({0x800}),
      Units({0xFFFF}), Units({0xFFFD}), Units({0xFEFF}), Units({0xD7FF}), Units({0xE000}), u"\u8336 tea",
      u"caf\u00e9", std::u16string(40, u'"'), std::u16string(40, u'\u4e2d'),
  };
  for (unsigned c = 0; c < 0x20; ++c) tricky.push_back(Units({c}));
  for (size_t n : {15, 16, 17, 31, 32, 33, 2047, 2048, 2049, 4097}) tricky.push_back(std::u16string(n, u'x'));
  std::vector<size_t> pads;
  for (size_t p = 0; p <= 40; ++p) pads.push_back(p);
  for (size_t p = 2030; p <= 2050; ++p) pads.push_back(p);
  for (size_t p : {4095, 4096, 4097}) pads.push_back(p);
  for (const auto& t : tricky) {
    for (size_t pad : pads) {
      for (const char16_t* tail : {u"", u"xyz", u"\"tail\\"}) {
        std::u16string w = std::u16string(pad, u'a') + t + tail;
        ASSERT_EQ(OnePass(w), TwoPass(w)) << "pad " << pad << ", first unit " << static_cast<unsigned>(t[0]);
      }
    }
  }
}

TEST(WireString, RandomUtf16) {
  std::mt19937 rng(20240607);
  auto r = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  // Kinds of unit, weighted towards what query results hold.
  auto unit = [&]() -> std::u16string {
    switch (rng() % 16) {
      case 0: return Units({r(0x20)});
      case 1: return r(2) ? u"\"" : u"\\";
      case 2: return Units({0x7F + r(0x781)});      // 0x7F to 0x7FF
      case 3: return Units({0x800 + r(0xD000)});    // up to the surrogates
      case 4: return Units({0xD800 + r(0x400)});    // high
      case 5: return Units({0xDC00 + r(0x400)});    // low
      case 6: return Units({0xD800 + r(0x400), 0xDC00 + r(0x400)});
      case 7: return Units({0xE000 + r(0x2000)});
      default: return Units({0x20 + r(0x5F)});
    }
  };
  for (int i = 0; i < 3000; ++i) {
    size_t length = i % 10 == 0 ? r(6000) : r(80);
    std::u16string w;
    while (w.size() < length) w += unit();
    ASSERT_EQ(OnePass(w), TwoPass(w)) << "string " << i;
  }
}

// WireText's pass over UTF-8: what the JSON library writes for valid text, and one U+FFFD for
// each byte that does not start a well-formed sequence.
TEST(WireString, Utf8TextsAsTheLibraryWritesThem) {
  std::mt19937 rng(7);
  auto code_point = [&]() -> uint32_t {
    switch (rng() % 8) {
      case 0: return rng() % 0x20;
      case 1: return rng() % 2 ? '"' : '\\';
      case 2: return 0x7F + rng() % 0x781;
      case 3: return 0x800 + rng() % 0xD000;
      case 4: return 0x10000 + rng() % 0x100000;
      default: return 0x20 + rng() % 0x5F;
    }
  };
  for (int i = 0; i < 2000; ++i) {
    size_t length = i % 10 == 0 ? static_cast<size_t>(rng() % 5000) : static_cast<size_t>(rng() % 70);
    std::u16string w;
    while (w.size() < length) {
      uint32_t c = code_point();
      if (c >= 0x10000)
        w += Units({0xD800 + ((c - 0x10000) >> 10), 0xDC00 + ((c - 0x10000) & 0x3FFu)});
      else
        w += static_cast<char16_t>(c);
    }
    json j = {{"value", WideToStandardUtf8(w)}, {WideToStandardUtf8(w.substr(0, 20)), 1}};
    ASSERT_EQ(WireText(j), j.dump()) << "string " << i;
  }
  struct Bad {
    std::string in, out;
  } bad[] = {
      {"\x80", "\xEF\xBF\xBD"},                                   // a continuation byte alone
      {"\xC3", "\xEF\xBF\xBD"},                                   // cut short at the end
      {"\xC3x", "\xEF\xBF\xBDx"},                                 // cut short by ASCII
      {"\xE4\xB8x", "\xEF\xBF\xBD\xEF\xBF\xBDx"},                 // each byte of a cut sequence
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                   // overlong
      {"\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},   // overlong in three bytes
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},   // an encoded surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
      {"\xF5\xFF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},  // well-formed
  };
  for (const auto& b : bad) {
    for (size_t pad : {0, 1, 13, 14, 15, 16, 17, 2046, 2047, 2048}) {
      std::string a(pad, 'a');
      EXPECT_EQ(WireText(json(a + b.in + "\"")), "\"" + a + b.out + "\\\"\"") << "pad " << pad;
    }
  }
}

// Answers through a real Session: AnswerText against WireText(Handle(...)) for the same
// requests, on a database in a scratch profile.
class AnswerTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Ask(s_, R"({"op":"create","progid":"Zentrak.LocalDB"})")["object"], 1);
    ASSERT_EQ(Call("setDBName", {"answers", ""})["value"], true);
  }
  void TearDown() override { s_.ReleaseAll(); }
  json Call(const char* name, const json& args) {
    return s_.Handle({{"op", "call"}, {"object", 1}, {"name", name}, {"args", args}});
  }
  // Both texts of the answer to request; they must be equal.
  void ExpectSame(const json& request) {
    std::string fast = s_.AnswerText(request);
    EXPECT_EQ(fast, WireText(s_.Handle(request))) << request.dump().substr(0, 200);
    EXPECT_TRUE(json::accept(fast));
  }

  // A scratch profile for the session's database; the session goes first.
  ScopedTempDir profile_{"zentrak-wire"};
  ScopedEnv profile_env_{"USERPROFILE", profile_.path().string()};
  Session s_;
};

json CallRequest(const json& id, const char* name, const json& args) {
  return {{"id", id}, {"op", "call"}, {"object", 1}, {"name", name}, {"args", args}};
}

TEST_F(AnswerTextTest, QueryResultsWithTrickyCells) {
  // Cell texts in the system's UTF-8, written as bytes: lone surrogates (encoded as three bytes),
  // a pair, quotes, backslashes, slashes, control characters, 0x7F, and text from 0x80 up.
  ASSERT_EQ(Call("executeSql", {"create table t(a TEXT, b TEXT)"})["value"], true);
  const char* cells[] = {
      "EDA080",           "EDBFBF" "41",   "41" "EDB080",      "F09F9880",         "EDA0BDEDB880",
      "22" "5C" "2F",     "01" "1F" "7F",  "C280DFBF",         "E0A080EFBFBF",     "E88CB6" "20" "746561",
  };
  for (const char* hex : cells) {
    std::string sql = std::string("insert into t values(cast(x'") + hex + "' as text), 'x')";
    ASSERT_EQ(Call("executeSql", {sql})["value"], true) << sql;
  }
  // Enough rows that the answer spans many blocks, some of them text from 0x800 up, which
  // needs more room than the first reservation.
  ASSERT_EQ(Call("executeSql", {"create table big(a TEXT)"})["value"], true);
  ASSERT_EQ(Call("executeSql", {"insert into big with recursive n(i) as (select 1 union all select i + 1 from n "
                                "where i < 3000) select case when i % 3 = 0 then 'O''Hara \"' || i else "
                                "replace(hex(zeroblob(20)), '00', char(20013, 25991)) end from n"})["value"],
            true);
  for (const char* sql : {"select * from t", "select a from t where rowid = 1", "select * from big",
                          "select a from big where a like 'O%'", "select * from t where 0"})
    ExpectSame(CallRequest(7, "queryAll", {sql}));
  ExpectSame(CallRequest("p", "queryByPage", {"select * from big", 100, 3}));
  ExpectSame(CallRequest(nullptr, "GetVersion", json::array()));
  // executeSql answers a query's text with "outs" after "value": only the value is written
  // from the text.
  ExpectSame(CallRequest(8, "executeSql", {{{"vt", "Variant"}, {"byref", true}, {"value", "select * from t"}}}));
  ExpectSame(CallRequest(9, "executeSql", {"select * from t"}));
  // A failed query's message quotes the statement: control characters reach the answer raw.
  ExpectSame(CallRequest(10, "executeSql", {"select \x01\x1f\t\x7f \"\\"}));
}

// Long texts apart: each answer's JSON says how many bytes its text took, and the texts,
// joined in order, are what the plain answers carry as their values.
TEST_F(AnswerTextTest, LongTextsTravelApart) {
  ASSERT_EQ(Call("executeSql", {"create table w(a TEXT)"})["value"], true);
  ASSERT_EQ(Call("executeSql", {"insert into w with recursive n(i) as (select 1 union all select i + 1 from n "
                                "where i < 500) select char(20013) || '\"' || i from n"})["value"],
            true);
  json batch = json::array({CallRequest(1, "queryAll", {"select * from w"}), CallRequest(2, "GetVersion", json::array()),
                            CallRequest(3, "queryAll", {"select * from missing"}),
                            CallRequest(4, "queryAll", {"select a from w where rowid < 300"})});
  json plain = json::parse(s_.AnswerText(batch));
  const struct {
    size_t min_raw;
    std::vector<bool> apart;  // per answer: whether its text travels apart
  } cases[] = {
      {0, {true, true, false, true}},  // every text, the short version included
      {30, {true, false, false, true}},
      {20 + 500 * 8, {true, false, false, false}},  // only the longer query result
      {SIZE_MAX - 1, {false, false, false, false}},
  };
  for (const auto& c : cases) {
    std::string raw;
    json parts = json::parse(s_.AnswerParts(batch, c.min_raw, raw));
    size_t at = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
      json expected = plain[i];
      if (c.apart[i]) {
        ASSERT_TRUE(parts[i].contains("rawLength")) << c.min_raw << " " << i;
        size_t n = parts[i]["rawLength"];
        EXPECT_EQ(raw.substr(at, n), expected["value"].get<std::string>()) << c.min_raw << " " << i;
        at += n;
        expected["value"] = nullptr;
        expected["rawLength"] = n;
      }
      EXPECT_EQ(parts[i], expected) << c.min_raw << " " << i;
    }
    EXPECT_EQ(at, raw.size()) << c.min_raw;
  }
}

TEST_F(AnswerTextTest, BatchesAndFailures) {
  json batch = json::array({
      CallRequest(1, "queryAll", {"select 'a\"b' as x"}),
      {{"id", 2}, {"op", "fly"}},
      CallRequest(3, "queryAll", {"select * from missing"}),  // the member fails: description and source
      CallRequest(4, "queryAll", {nullptr}),
      CallRequest(5, "nothing", json::array()),
      CallRequest(6, "GetVersion", {1}),
      {{"id", 7}, {"op", "call"}, {"object", 99}, {"name", "GetVersion"}},
      {{"id", 8}, {"op", "names"}, {"object", 1}, {"names", {"queryAll", "nothing"}}},
      {{"id", 9}, {"op", "describe"}, {"progid", "Zentrak.LocalDB"}},
      CallRequest(10, "executeSql", {"select 1 as \"q\"\"\""}),
      42,
      json::array({1}),
      {{"id", "\u00e9\"\\"}, {"op", "create"}, {"progid", "Zentrak.Nothing"}},
      CallRequest(11, "isTableCached", {"t"}),
  });
  ExpectSame(batch);
  ExpectSame(json::array());
  for (const auto& one : batch) ExpectSame(one);
  // A batch's answers are in order and each is what the request alone answers.
  json answers = json::parse(s_.AnswerText(batch));
  ASSERT_EQ(answers.size(), batch.size());
  EXPECT_EQ(answers[0]["value"], R"({"size":-1,"total":1,"page":-1,"meta":["X"],"data":[["a\"b"]]})");
  EXPECT_EQ(answers[2]["error"]["source"], "Zentrak.LocalDB");
  EXPECT_EQ(answers[3]["error"]["code"], -2147418113);
  // HandleText answers the same text for the same request.
  Session other;
  EXPECT_EQ(other.HandleText(R"({"id":1,"op":"create","progid":"Zentrak.LocalDB"})"),
            R"({"id":1,"ok":true,"object":1})");
  EXPECT_EQ(other.HandleText(R"({"id":2,"op":"call","object":1,"name":"GetVersion"})"),
            R"({"id":2,"ok":true,"value":"Corvel SqliteDB 0.8"})");
}

}  // namespace
}  // namespace zentrak::host

namespace zentrak::host {
namespace {

class EventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PressTestFinishedKeys().clear();
    obj_ = s_.Handle({{"op", "create"}, {"progid", "zentrak.presstest"}})["object"];
  }
  json Press(int key) { return s_.Handle({{"op", "call"}, {"object", obj_}, {"name", "Press"}, {"args", {key}}}); }
  json Reply(int64_t event, const json& args) {
    json r = {{"op", "eventResult"}, {"event", event}};
    if (!args.is_discarded()) r["args"] = args;
    return s_.Handle(r);
  }
  json LastKey() { return s_.Handle({{"op", "call"}, {"object", obj_}, {"name", "LastKey"}, {"kind", "get"}})["value"]; }

  int64_t now_ = 0;
  Session s_{256, TestClasses(), [this] { return now_; }};
  int64_t obj_ = 0;
};

// The event travels with the answer of the call that raised it, and the page's value comes back.
TEST_F(EventTest, ByReferenceArgumentIsWrittenBack) {
  json answer = Press(65);
  EXPECT_EQ(answer["events"], json::parse(R"([{"event":1,"object":1,"dispid":1,"name":"OnKeyPress",
      "args":[{"vt":"Smallint","value":65,"byref":true}],"reply":true}])"));
  EXPECT_EQ(s_.Handle({{"op", "events"}})["events"], json::array()) << "each event is sent once";
  EXPECT_EQ(LastKey(), 0) << "the object waits for the page";
  EXPECT_TRUE(Reply(1, {66})["ok"].get<bool>());
  EXPECT_EQ(LastKey(), 66);
  EXPECT_EQ(Reply(1, {67})["error"]["code"], kE_INVALIDARG) << "answered once";
  EXPECT_EQ(PressTestFinishedKeys(), std::vector<int32_t>{66});
}

TEST_F(EventTest, WrittenValuesTakeTheArgumentsType) {
  struct Case {
    const char* written;
    int32_t key;  // what the object sees; 0: the answer fails and the event keeps waiting
  } cases[] = {
      {"[66]", 66},           {"[\"67\"]", 67},  {"[null]", 65},       {"[true]", -1},
      {"[40000]", 0},         {"[\"x\"]", 0},    {"[1, 2]", 0},        {"[{\"vt\":\"Double\",\"value\":2.5}]", 2},
      {"[-32768]", -32768},   {"[32767]", 32767},
  };
  int64_t event = 0;
  for (const auto& c : cases) {
    event = Press(65)["events"][0]["event"];
    json answer = Reply(event, json::parse(c.written));
    if (c.key == 0) {
      EXPECT_FALSE(answer["ok"].get<bool>()) << c.written;
      EXPECT_TRUE(Reply(event, json::parse("[null]"))["ok"].get<bool>());
      EXPECT_EQ(LastKey(), 65) << c.written;
    } else {
      EXPECT_TRUE(answer["ok"].get<bool>()) << c.written << answer;
      EXPECT_EQ(LastKey(), c.key) << c.written;
    }
  }
  event = Press(65)["events"][0]["event"];
  EXPECT_TRUE(Reply(event, json(json::value_t::discarded))["ok"].get<bool>()) << "no args: unchanged";
  EXPECT_EQ(LastKey(), 65);
}

// Without an answer the object goes on with the key unchanged: after the time-out, when the
// session ends; and not at all once the object is released.
TEST_F(EventTest, UnansweredEventsFinishUnchanged) {
  Press(70);
  now_ += kEventTimeoutMicros - 1;
  EXPECT_EQ(LastKey(), 0);
  now_ += 1;
  EXPECT_EQ(LastKey(), 70) << "timed out at the next request";
  Press(71);
  s_.ReleaseAll();
  EXPECT_EQ(PressTestFinishedKeys(), (std::vector<int32_t>{70, 71}));

  int64_t second = s_.Handle({{"op", "create"}, {"progid", "Zentrak.PressTest"}})["object"];
  int64_t event = s_.Handle({{"op", "call"}, {"object", second}, {"name", "Press"}, {"args", {72}}})["events"][0]["event"];
  s_.Handle({{"op", "release"}, {"object", second}});
  EXPECT_EQ(Reply(event, {73})["error"]["code"], kE_INVALIDARG);
  now_ += kEventTimeoutMicros;
  s_.Handle({{"op", "events"}});
  EXPECT_EQ(PressTestFinishedKeys(), (std::vector<int32_t>{70, 71})) << "the released object's done never runs";
}

// Events the object does not wait for are delivered without "reply"; an events poll picks them
// up, and a batch carries them in the answer of the request that raised them.
TEST_F(EventTest, PollsBatchesAndDescription) {
  s_.Handle({{"op", "call"}, {"object", obj_}, {"name", "Notice"}, {"args", {"hello"}}});
  json batch = s_.Handle(json::parse(R"([{"op":"names","object":1,"names":["Press"]},
      {"op":"call","object":1,"name":"Notice","args":["a"]},{"op":"events"}])"));
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_FALSE(batch[0].contains("events"));
  EXPECT_EQ(batch[1]["events"], json::parse(R"([{"event":2,"object":1,"dispid":2,"name":"OnNotice","args":["a"]}])"));
  EXPECT_EQ(batch[2]["events"], json::array());
  json described = s_.Handle({{"op", "describe"}, {"object", obj_}})["value"]["events"];
  EXPECT_EQ(described, json::parse(R"([{"name":"OnKeyPress","dispid":1,"params":[{"name":"Key","type":"int16","byref":true}]},
      {"name":"OnNotice","dispid":2,"params":[{"name":"Text","type":"text","byref":false}]}])"));
  // The answer text carries the events exactly as the answer does.
  json call = {{"op", "call"}, {"object", obj_}, {"name", "Press"}, {"args", {1}}};
  std::string text = s_.AnswerText(call);
  EXPECT_EQ(json::parse(text)["events"][0]["args"][0]["value"], 1);
}

}  // namespace
}  // namespace zentrak::host
