// The JSON writer: number texts, the escaping table, the worked example of a result document and
// locale independence, all byte for byte.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "base/testing/scoped.h"
#include "json/value.h"

namespace zentrak {
namespace {

std::string Write(const TvxJSONbase& v) { return TvxJSON::WriteText(&v); }

std::string NumberText(long double v) { return Write(TvxJSONnumber(v)); }

TEST(WriterNumbers, GeneralFormatWithFifteenDigits) {
  struct Case {
    long double value;
    const char* text;
  } cases[] = {
      {0.0L, "0"},
      {-0.0L, "0"},
      {100.0L, "100"},
      {-2.5L, "-2.5"},
      {0.1L, "0.1"},
      {1.0L / 3.0L, "0.333333333333333"},
      {1e-4L, "0.0001"},
      {1e-5L, "1E-5"},
      {999999999999999.0L, "999999999999999"},
      {1e15L, "1E15"},
      {123456789012345678.0L, "1.23456789012346E17"},
      {2147483647.0L, "2147483647"},
      {-2147483648.0L, "-2147483648"},
      {1.5e-7L, "1.5E-7"},
      {0.00123L, "0.00123"},
      {12345.678L, "12345.678"},
      {9999999999999995.0L, "1E16"},  // rounding carries into a new digit
      {1e400L, "1E400"},
      {std::numeric_limits<long double>::infinity(), "INF"},
      {-std::numeric_limits<long double>::infinity(), "-INF"},
      {std::numeric_limits<long double>::quiet_NaN(), "NAN"},
      {-std::numeric_limits<long double>::quiet_NaN(), "NAN"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberText(c.value), c.text) << c.text;
  EXPECT_EQ(Write(TvxJSONnumber(static_cast<int32_t>(2147483647))), "2147483647");
}

TEST(WriterStrings, EscapingTable) {
  struct Case {
    std::u16string value;
    const char* text;
  } cases[] = {
      {u"a/b", "\"a\\/b\""},
      {u"x\"y", "\"x\\\"y\""},
      {u"back\\slash", "\"back\\\\slash\""},
      {u"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
      {u"\x0B\x1B", "\"\\u000B\\u001B\""},
      {std::u16string(1, u'\0'), "\"\\u0000\""},
      {u"\x01\x1F", "\"\\u0001\\u001F\""},
      {u"' \x7F", "\"' \x7F\""},
      {u"\u00E9", "\"\xC3\xA9\""},
      {u"\u4E2D", "\"\xE4\xB8\xAD\""},
      // A surrogate pair becomes two three-byte sequences, unescaped.
      {u"\U0001F600", "\"\xED\xA0\xBD\xED\xB8\x80\""},
      {u"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(Write(TvxJSONstring(c.value)), c.text) << c.text;
}

TEST(WriterStrings, EveryControlByteIsEscaped) {
  for (int b = 0; b < 0x20; ++b) {
    std::string text = Write(TvxJSONstring(std::u16string(1, static_cast<char16_t>(b))));
    EXPECT_EQ(text.find_first_of(std::string("\0", 1) + "\x01\x1F"), std::string::npos) << b;
    EXPECT_EQ(text[1], '\\') << b;
  }
}

TEST(WriterDocuments, WorkedExample) {
  for (bool index : {false, true}) {
    TvxJSONobject obj(index);
    obj.AddMember(u"name", std::make_unique<TvxJSONstring>(u"A/B"));
    obj.AddMember(u"n", 1.5);
    obj.AddMember(u"ok", std::make_unique<TvxJSONboolean>(true));
    auto list = std::make_unique<TvxJSONlist>();
    list->Append(std::make_unique<TvxJSONnumber>(1));
    list->Append(std::make_unique<TvxJSONnull>());
    list->Append(u"x\"y");
    obj.AddMember(u"list", std::move(list));
    obj.AddMember(u"t", std::make_unique<TvxJSONstring>(u"\u00E9"));
    obj.AddMember(u"tab", std::make_unique<TvxJSONstring>(u"\t"));
    EXPECT_EQ(Write(obj),
              "{\"name\":\"A\\/B\",\"n\":1.5,\"ok\":true,\"list\":[1,null,\"x\\\"y\"],"
              "\"t\":\"\xC3\xA9\",\"tab\":\"\\t\"}");
  }
}

TEST(WriterDocuments, ShapesAndEdges) {
  EXPECT_EQ(TvxJSON::WriteText(nullptr), "");
  EXPECT_EQ(Write(TvxJSONlist()), "[]");
  EXPECT_EQ(Write(TvxJSONobject()), "{}");
  EXPECT_EQ(Write(TvxJSONboolean(false)), "false");
  EXPECT_EQ(Write(TvxJSONnull()), "null");
  EXPECT_EQ(Write(TvxJSONbase()), "");
  EXPECT_EQ(Write(TvxJSONobjectmethod(u"k", std::make_unique<TvxJSONnumber>(2))), "\"k\":2");

  TvxJSONobject obj;
  obj.AddMember(u"", 1);
  obj.AddMember(u"a/\u00E9", 2);
  obj.AddMember(u"", 3);  // repeated names are all written
  EXPECT_EQ(Write(obj), "{\"\":1,\"a\\/\xC3\xA9\":2,\"\":3}");

  TvxJSONlist nested;
  auto inner = std::make_unique<TvxJSONlist>();
  inner->Append(std::make_unique<TvxJSONlist>());
  inner->Append(std::make_unique<TvxJSONobject>(true));
  nested.Append(std::move(inner));
  nested.Append("8-bit");
  EXPECT_EQ(Write(nested), "[[[],{}],\"8-bit\"]");
}

TEST(WriterDocuments, NumbersIgnoreTheLocale) {
  std::string one_and_a_half, small;
  std::unique_ptr<TvxJSONbase> read;
  {
    ScopedLocale german(LC_ALL, "de_DE.UTF-8");
    if (!german.Installed()) GTEST_SKIP() << "no German locale installed";
    one_and_a_half = NumberText(1.5L);
    small = NumberText(1.25e-9L);
    read = TvxJSON::ReadText("[2.5, 1.0e40]");
  }
  EXPECT_EQ(one_and_a_half, "1.5");
  EXPECT_EQ(small, "1.25E-9");
  ASSERT_TRUE(read);
  EXPECT_EQ(TvxJSON::WriteText(read.get()), "[2.5,1E40]");
}

}  // namespace
}  // namespace zentrak
