// The JSON reader, rule by rule, and the public JSONTestSuite corpus: every file is read without
// harm, and the files on which this lenient reader departs from the JSON grammar are listed with
// the rule that explains each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "json/value.h"

namespace zentrak {
namespace {

// The document read back as compact text, or "<none>".
std::string Read(std::string_view text) {
  std::unique_ptr<TvxJSONbase> root = TvxJSON::ReadText(text);
  return root ? TvxJSON::WriteText(root.get()) : "<none>";
}

struct Case {
  std::string text;
  std::string written;
};

void ExpectReads(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(Read(c.text), c.written) << "reading [" << c.text << "]";
}

TEST(ReaderEntry, EmptyTextByteOrderMarkAndWhitespace) {
  ExpectReads({
      {"", "<none>"},
      {"\xEF\xBB\xBF", "<none>"},
      {"\xEF\xBB\xBF[1]", "[1]"},
      {"\xEF\xBB[1]", "<none>"},
      {" \t\r\n[ 1 ,\n\t2 ]\n ", "[1,2]"},
      {std::string("\0\x01\x1F [1]", 7), "[1]"},  // every byte up to 0x20 is whitespace
      {"\xC2\xA0[1]", "<none>"},                  // bytes from 0x80 up are not
      {"   ", "<none>"},
      {"[1]xyz", "[1]"},  // the bytes after the document are not examined
      {"{} {", "{}"},
  });
}

TEST(ReaderLiterals, ScalarRootsAndCase) {
  ExpectReads({
      {"true", "true"},
      {"false", "false"},
      {"null", "null"},
      {"nulls", "null"},
      {"truex", "true"},
      {"[truefalse null]", "[true,false,null]"},
      {"TRUE", "<none>"},
      {"Null", "<none>"},
      {"tru", "<none>"},
      {"fals", "<none>"},
      {"42", "42"},
      {"\"s\"", "\"s\""},
  });
}

TEST(ReaderNumbers, Grammar) {
  ExpectReads({
      {"+5", "5"},
      {"007", "7"},
      {"-0.5e+3", "-500"},
      {"1.5E2", "150"},
      {"2e-2", "0.02"},
      {"-0", "0"},
      {"0.1", "0.1"},
      {"1.", "<none>"},
      {".5", "<none>"},
      {"1e", "<none>"},
      {"1e+", "<none>"},
      {"-", "<none>"},
      {"+", "<none>"},
      {"[1.]", "<none>"},
      {"--1", "<none>"},
      {"1.5.3", "1.5"},
      {"0x10", "0"},
      {"[1 -2 +3]", "[1,-2,3]"},
  });
}

TEST(ReaderNumbers, ConversionAndRange) {
  ExpectReads({
      {"1e400", "1E400"},
      {"-1e400", "-1E400"},
      {"1e4932", "1E4932"},
      {"1e5000", "<none>"},
      {"[1, -1e5000]", "<none>"},
      {"1e-5000", "0"},  // below the range: zero
      {"0e99999999", "0"},
      {"123456789012345678901234567890", "1.23456789012346E29"},
      {"0.000000000000000000000000000000012345", "1.2345E-32"},
      {"9007199254740993", "9.00719925474099E15"},
      {"2147483647", "2147483647"},
      {"-2147483648", "-2147483648"},
  });
  // Digits beyond double precision are kept in the extended value.
  auto exact = TvxJSON::ReadText("[9007199254740993, 0.1, 1.7976931348623157e309]");
  ASSERT_TRUE(exact);
  auto* list = static_cast<TvxJSONlist*>(exact.get());
  EXPECT_EQ(static_cast<TvxJSONnumber*>(list->ItemAt(0))->Value(), 9007199254740993.0L);
  EXPECT_EQ(static_cast<TvxJSONnumber*>(list->ItemAt(1))->Value(), 0.1L);
  EXPECT_EQ(static_cast<TvxJSONnumber*>(list->ItemAt(2))->Value(), 1.7976931348623157e309L);
}

TEST(ReaderNumbers, FastConversionsRoundLikeTheCLibrary) {
  // Numbers that the reader converts without the C library must come out as strtold gives them.
  std::mt19937_64 rng(5);
  for (int round = 0; round < 20000; ++round) {
    std::string text = round % 3 == 0 ? "-" : "";
    int digits = 1 + static_cast<int>(rng() % 20);
    int point = static_cast<int>(rng() % (digits + 1));
    for (int k = 0; k < digits; ++k) {
      if (k == point && k > 0) text += '.';
      text += static_cast<char>('0' + rng() % 10);
    }
    if (rng() % 2) text += "e" + std::to_string(static_cast<int>(rng() % 61) - 30);
    std::unique_ptr<TvxJSONbase> v = TvxJSON::ReadText(text);
    ASSERT_TRUE(v) << text;
    ASSERT_EQ(v->TypeCode(), jsNumber) << text;
    long double expected = std::strtold(text.c_str(), nullptr);
    ASSERT_EQ(static_cast<TvxJSONnumber*>(v.get())->Value(), expected) << text;
  }
}

TEST(ReaderStrings, Escapes) {
  ExpectReads({
      {R"("a\"b")", R"("a\"b")"},
      {R"("\\")", R"("\\")"},
      {R"("\/")", R"("\/")"},
      {R"("it\'s")", R"("it's")"},
      {R"("\b\f\n\r\t")", R"("\b\f\n\r\t")"},
      {R"("a\xb")", R"("ab")"},  // an unknown escape reads as nothing
      {R"("\u00e9\u00E9")", "\"\xC3\xA9\xC3\xA9\""},
      {R"("\u0041\u07FF\u0800")", "\"A\xDF\xBF\xE0\xA0\x80\""},
      {R"("\u0000")", R"("\u0000")"},
      {R"("\uD83D\uDE00")", "\"\xED\xA0\xBD\xED\xB8\x80\""},
      {R"("\u41")", R"("A")"},  // fewer than four digits left in the string
      {R"("x\u4")", R"("x\u0004")"},
      {R"("\u12G4")", "<none>"},  // not hexadecimal: the whole read fails
      {R"(["ok", "\u")", "<none>"},
      {R"(["ok", "\u"])", "<none>"},
      {R"({"\uZZZZ":1})", "<none>"},
      {R"("\\u0041")", R"("\\u0041")"},
  });
}

TEST(ReaderStrings, RawBytesAndUtf8) {
  ExpectReads({
      {"\"line\nbreak\"", R"("line\nbreak")"},
      {"\"tab\there\x01\"", R"("tab\there\u0001")"},
      {"\"\xC3\xA9\"", "\"\xC3\xA9\""},
      {"[\"\xE9\", 1]", R"(["",1])"},  // malformed: that string is empty, the rest is read
      {"[\"ab\xC3\", \"\xC3\xA9\"]", "[\"\",\"\xC3\xA9\"]"},
      {"\"\xC0\xAF\"", R"("\/")"},  // an overlong form is taken as it is
      {"\"\xED\xA0\xBD\xED\xB8\x80\"", "\"\xED\xA0\xBD\xED\xB8\x80\""},
      // A four-byte sequence keeps its character: the surrogate pair, written as two
      // three-byte sequences.
      {"[\"x\xF0\x9F\x98\x80y\"]", "[\"x\xED\xA0\xBD\xED\xB8\x80y\"]"},
      // Four-byte lead without a fourth byte: the three-byte reading, lead bits discarded.
      {"\"\xF0\x9F\x98\"", "\"\xDF\x98\""},
      {"\"\xF0\x9F\"", R"("")"},
      {"\"unterminated", "<none>"},
      {R"("ends in backslash\")", "<none>"},
      {"\"a\\", "<none>"},
  });
  auto emoji = TvxJSON::ReadText("{\"e\":\"\xF0\x9F\x98\x80\"}");
  ASSERT_TRUE(emoji);
  EXPECT_EQ(static_cast<TvxJSONobject*>(emoji.get())->WideTextAt(0), u"\U0001F600");
}

TEST(ReaderContainers, Lists) {
  ExpectReads({
      {"[]", "[]"},
      {"[ ]", "[]"},
      {"[1 2 3]", "[1,2,3]"},
      {"[1,2,]", "[1,2]"},
      {"[,1]", "<none>"},
      {"[1,,2]", "<none>"},
      {"[1", "<none>"},
      {"[1,", "<none>"},
      {"[[1][2]]", "[[1],[2]]"},
      {"[[1]", "<none>"},
      {"[}", "<none>"},
  });
}

TEST(ReaderContainers, Objects) {
  ExpectReads({
      {"{}", "{}"},
      {R"({"a":1,})", R"({"a":1})"},
      {R"({"a":1 "b":2})", R"({"a":1,"b":2})"},
      {R"({ "a" : [ ] , "b" : { } })", R"({"a":[],"b":{}})"},
      {R"({a:1})", "<none>"},
      {R"({"a" 1})", "<none>"},
      {R"({"a":})", "<none>"},
      {R"({"a":1,,})", "<none>"},
      {R"({,"a":1})", "<none>"},
      {R"({"a":1)", "<none>"},
      {R"({"a)", "<none>"},
      {R"({"\u0041\/":true})", R"({"A\/":true})"},
  });
}

TEST(ReaderContainers, ObjectsHaveANameIndexAndKeepRepeatedNames) {
  auto root = TvxJSON::ReadText(R"({"a":1,"A":3,"a":2,"":4})");
  ASSERT_TRUE(root);
  ASSERT_EQ(root->TypeCode(), jsObject);
  auto* obj = static_cast<TvxJSONobject*>(root.get());
  EXPECT_TRUE(obj->UseNameIndex());
  EXPECT_EQ(obj->ItemCount(), 4);
  EXPECT_EQ(obj->MemberIndex(u"a"), 0);
  EXPECT_EQ(obj->IntAt(2), 1);
  EXPECT_EQ(obj->IntAt(1), 3);
  EXPECT_EQ(obj->MemberIndex(u""), 3);
  EXPECT_EQ(obj->MemberValueAt(3), nullptr);
  EXPECT_EQ(TvxJSON::WriteText(obj), R"({"a":1,"A":3,"a":2,"":4})");

  // Names shared between the objects of a result set stay separate values.
  auto rows = TvxJSON::ReadText(R"([{"id":1,"name":"x"},{"id":2,"name":"y"},{"name":"z","id":3}])");
  ASSERT_TRUE(rows);
  auto* list = static_cast<TvxJSONlist*>(rows.get());
  for (int i = 0; i < 3; ++i) {
    auto* row = static_cast<TvxJSONobject*>(list->ItemAt(i));
    EXPECT_EQ(static_cast<TvxJSONnumber*>(row->MemberValue(u"id"))->Value(), i + 1);
    EXPECT_EQ(static_cast<TvxJSONstring*>(row->MemberValue(u"name"))->Value(),
              std::u16string(1, static_cast<char16_t>(u'x' + i)));
  }
  rows.reset();
  EXPECT_EQ(obj->MemberName(0), u"a");
}

TEST(ReaderNesting, DeepDocumentsGiveNone) {
  auto nested = [](int depth, char open, char close, const std::string& inner) {
    return std::string(static_cast<std::size_t>(depth), open) + inner +
           std::string(static_cast<std::size_t>(depth), close);
  };
  EXPECT_NE(Read(nested(TvxJSON::kMaxNesting, '[', ']', "1")), "<none>");
  EXPECT_EQ(Read(nested(TvxJSON::kMaxNesting + 1, '[', ']', "1")), "<none>");
  std::string objects;
  for (int i = 0; i < TvxJSON::kMaxNesting; ++i) objects += i % 2 ? "[" : "{\"k\":";
  objects += "0";
  for (int i = TvxJSON::kMaxNesting - 1; i >= 0; --i) objects += i % 2 ? "]" : "}";
  EXPECT_NE(Read(objects), "<none>");
  EXPECT_EQ(Read("[" + objects + "]"), "<none>");
  // Far beyond the limit, and unterminated: no exhaustion of the stack.
  EXPECT_EQ(Read(std::string(1000000, '[')), "<none>");
  EXPECT_EQ(Read(std::string(1000000, '{')), "<none>");
}

TEST(ReaderRoundTrip, WrittenTextReadsBackTheSame) {
  const char* docs[] = {
      R"({"size":-1,"total":2,"page":-1,"meta":["A","B"],"data":[["1",null],["x\"y","\u00e9"]]})",
      R"([0.333333333333333,1E-5,1.23456789012346E17,-2.5,true,false,null,"\/\\\b\f\n\r\t\u001F"])",
      "[\"\xE4\xB8\xAD\xED\xA0\xBD\xED\xB8\x80\"]",
  };
  for (const char* doc : docs) {
    std::string once = Read(doc);
    ASSERT_NE(once, "<none>") << doc;
    EXPECT_EQ(Read(once), once);
  }
}

// ---- JSONTestSuite (test_parsing)

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Files of JSONTestSuite that must be rejected ("n_") but that this reader accepts, each with
// the rule of the reader that accepts it.
const std::map<std::string, const char*> kAcceptedInvalid = {
    {"n_array_1_true_without_comma.json", "commas between elements are optional"},
    {"n_array_inner_array_no_comma.json", "commas between elements are optional"},
    {"n_number_1_000.json", "commas are optional, leading zeros are accepted"},
    {"n_number_expression.json", "commas are optional, a leading + is accepted"},
    {"n_array_extra_comma.json", "a trailing comma is accepted"},
    {"n_array_number_and_comma.json", "a trailing comma is accepted"},
    {"n_object_trailing_comma.json", "a trailing comma is accepted"},
    {"n_number_+1.json", "a leading + is accepted"},
    {"n_number_-01.json", "leading zeros are accepted"},
    {"n_number_neg_int_starting_with_zero.json", "leading zeros are accepted"},
    {"n_number_with_leading_zero.json", "leading zeros are accepted"},
    {"n_string_backslash_00.json", "an unknown escape reads as nothing"},
    {"n_string_escape_x.json", "an unknown escape reads as nothing"},
    {"n_string_escaped_ctrl_char_tab.json", "an unknown escape reads as nothing"},
    {"n_string_escaped_emoji.json", "an unknown escape reads as nothing"},
    {"n_string_invalid_backslash_esc.json", "an unknown escape reads as nothing"},
    {"n_string_unicode_CapitalU.json", "an unknown escape reads as nothing"},
    {"n_string_incomplete_escaped_character.json", "\\u takes the digits that remain"},
    {"n_string_1_surrogate_then_escape_u1.json", "\\u takes the digits that remain"},
    {"n_string_incomplete_surrogate.json", "\\u takes the digits that remain"},
    {"n_string_incomplete_surrogate_escape_invalid.json", "an unknown escape reads as nothing"},
    {"n_string_invalid_utf8_after_escape.json", "an unknown escape reads as nothing"},
    {"n_object_lone_continuation_byte_in_key_and_trailing_comma.json",
     "malformed UTF-8 reads as the empty text, a trailing comma is accepted"},
    {"n_string_unescaped_ctrl_char.json", "any byte may appear raw in a string"},
    {"n_string_unescaped_newline.json", "any byte may appear raw in a string"},
    {"n_string_unescaped_tab.json", "any byte may appear raw in a string"},
    {"n_structure_null-byte-outside-string.json", "every byte up to 0x20 is whitespace"},
    {"n_structure_whitespace_formfeed.json", "every byte up to 0x20 is whitespace"},
    {"n_array_comma_after_close.json", "text after the document is ignored"},
    {"n_array_extra_close.json", "text after the document is ignored"},
    {"n_multidigit_number_then_00.json", "text after the document is ignored"},
    {"n_object_trailing_comment.json", "text after the document is ignored"},
    {"n_object_trailing_comment_open.json", "text after the document is ignored"},
    {"n_object_trailing_comment_slash_open.json", "text after the document is ignored"},
    {"n_object_trailing_comment_slash_open_incomplete.json", "text after the document is ignored"},
    {"n_object_with_trailing_garbage.json", "text after the document is ignored"},
    {"n_string_with_trailing_garbage.json", "text after the document is ignored"},
    {"n_structure_array_trailing_garbage.json", "text after the document is ignored"},
    {"n_structure_array_with_extra_array_close.json", "text after the document is ignored"},
    {"n_structure_close_unopened_array.json", "text after the document is ignored"},
    {"n_structure_double_array.json", "text after the document is ignored"},
    {"n_structure_number_with_trailing_garbage.json", "text after the document is ignored"},
    {"n_structure_object_followed_by_closing_object.json", "text after the document is ignored"},
    {"n_structure_object_with_trailing_garbage.json", "text after the document is ignored"},
    {"n_structure_trailing_#.json", "text after the document is ignored"},
};

// Files that must be accepted ("y_") but that this reader rejects. None: text that is not
// well-formed UTF-8 empties a string instead of failing the document.
const std::map<std::string, const char*> kRejectedValid = {};

TEST(JsonTestSuite, ReadsEveryFileAndDepartsOnlyWhereListed) {
  const std::filesystem::path dir =
      std::filesystem::path(ZENTRAK_TESTDATA) / "json" / "test_parsing";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  std::set<std::string> accepted_invalid, rejected_valid;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const std::string text = Slurp(entry.path());
    std::unique_ptr<TvxJSONbase> root = TvxJSON::ReadText(text);
    ++files;
    if (root) {
      // Whatever was read can be written and read back to the same text.
      std::string written = TvxJSON::WriteText(root.get());
      EXPECT_EQ(Read(written), written) << name;
    }
    if (name.rfind("n_", 0) == 0 && root) accepted_invalid.insert(name);
    if (name.rfind("y_", 0) == 0 && !root) rejected_valid.insert(name);
  }
  EXPECT_GT(files, 300);
  auto keys = [](const std::map<std::string, const char*>& m) {
    std::set<std::string> s;
    for (const auto& [k, v] : m) s.insert(k);
    return s;
  };
  auto describe = [](const std::set<std::string>& actual, const std::set<std::string>& listed) {
    std::string out;
    for (const auto& n : actual) {
      if (!listed.count(n)) out += " +" + n;
    }
    for (const auto& n : listed) {
      if (!actual.count(n)) out += " -" + n;
    }
    return out;
  };
  EXPECT_EQ(accepted_invalid, keys(kAcceptedInvalid))
      << "n_ files accepted (+ not listed, - listed but rejected):"
      << describe(accepted_invalid, keys(kAcceptedInvalid));
  EXPECT_EQ(rejected_valid, keys(kRejectedValid))
      << "y_ files rejected:" << describe(rejected_valid, keys(kRejectedValid));
}

TEST(JsonTestSuite, ValidFilesKeepTheirCharacters) {
  const std::filesystem::path dir =
      std::filesystem::path(ZENTRAK_TESTDATA) / "json" / "test_parsing";
  struct Expect {
    const char* file;
    std::u16string value;
  } cases[] = {
      {"y_string_utf8.json", u"\u20AC\U0001D11E"},  // raw three- and four-byte sequences
      {"y_string_accepted_surrogate_pair.json", u"\U00010437"},
      {"y_string_unicode_U+1FFFE_nonchar.json", u"\U0001FFFE"},
      {"y_string_nonCharacterInUTF-8_U+FFFF.json", u"\uFFFF"},
  };
  for (const Expect& c : cases) {
    std::unique_ptr<TvxJSONbase> root = TvxJSON::ReadText(Slurp(dir / c.file));
    ASSERT_TRUE(root) << c.file;
    ASSERT_EQ(root->TypeCode(), jsList) << c.file;
    EXPECT_EQ(static_cast<TvxJSONlist*>(root.get())->WideTextAt(0), c.value) << c.file;
  }
}

}  // namespace
}  // namespace zentrak
