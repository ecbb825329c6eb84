// The system's UTF-8 rules.
#include <gtest/gtest.h>

#include "base/text.h"

namespace zentrak {
namespace {

TEST(Utf8Encoding, OneUnitAtATime) {
  EXPECT_EQ(WideToUtf8(u"a\u00E9\u4E2D"), "a\xC3\xA9\xE4\xB8\xAD");
  // A surrogate pair becomes two three-byte sequences.
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(Utf8Decoding, AcceptsOneToThreeBytesAndFourByteCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xC3\xA9\xE4\xB8\xAD"), u"a\u00E9\u4E2D");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), std::u16string(1, u'\0'));  // overlong form kept as is
  EXPECT_EQ(Utf8ToWide("\xED\xA0\xBD\xED\xB8\x80"), u"\U0001F600");  // encoded surrogates
  EXPECT_EQ(Utf8ToWide("x\xF0\x9F\x98\x80y"), u"x\U0001F600y");  // a four-byte sequence
}

TEST(Utf8Decoding, MalformedTextBecomesEmpty) {
  const char* cases[] = {"\xE9", "ab\xE9", "\xC3", "\xE4\xB8", "\xC3\x41",
                         "\xF4\x90\x80\x80"};
  for (const char* c : cases) EXPECT_EQ(Utf8ToWide(c), u"") << c;
}

TEST(Utf8Decoding, FourByteLeadWithoutFourthByteKeepsThreeByteReading) {
  // F0 with two continuation bytes and then ASCII reads as a three-byte sequence.
  EXPECT_EQ(Utf8ToWide("\xF1\x80\x80" "a"), std::u16string(u"\x1000" u"a"));
}

TEST(StandardUtf8, PairsAreFourBytesAndLoneSurrogatesReplaced) {
  EXPECT_EQ(WideToStandardUtf8(u"a\u00E9\u4E2D\U0001F600"), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToStandardUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToStandardUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToStandardUtf8(u""), "");
}

}  // namespace
}  // namespace zentrak
