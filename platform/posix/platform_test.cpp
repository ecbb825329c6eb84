// Code page, locale and path mapping on Linux.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "base/testing/scoped.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/locale.h"

namespace zentrak::platform {
namespace {

TEST(CodePage, RoundTripsWhatTheCodePageHolds) {
  std::u16string chinese = u"\u4E2D\u6587";  // held by both UTF-8 and GBK
  EXPECT_EQ(AnsiToWide(WideToAnsi(chinese)), chinese);
  if (SystemCodePage() == 936) {
    EXPECT_EQ(WideToAnsi(chinese), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(WideToAnsi(u"a\u0E01b\U0001F600c"), "a?b??c");  // not in GBK: one ? per unit
    EXPECT_EQ(WideToAnsi(u"\u00E9"), "\xA8\xA6");
  } else {
    EXPECT_EQ(SystemCodePage(), kCodePageUtf8);
    EXPECT_EQ(WideToAnsi(chinese), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(WideToAnsi(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(AnsiToWide("a\xFF" "b"), u"a\uFFFDb");
  }
}

TEST(CodePage, UpperCasesOnlyLettersAndKeepsMultiByteText) {
  EXPECT_EQ(AnsiUpperCase("name_1"), "NAME_1");
  std::string zh = WideToAnsi(u"\u540D\u79F0x");
  std::string expected = zh;
  expected.back() = 'X';
  EXPECT_EQ(AnsiUpperCase(zh), expected);
}

TEST(Locale, TextToIntegerFollowsTheLocale) {
  int64_t v = 0;
  EXPECT_EQ(LocaleTextToInteger(u" 12 ", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(LocaleTextToInteger(u"2.5", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(LocaleTextToInteger(u"3.5", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(LocaleTextToInteger(u"-1e3", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, -1000);
  EXPECT_EQ(LocaleTextToInteger(u"&HFF", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 255);
  EXPECT_EQ(LocaleTextToInteger(u"abc", INT32_MIN, INT32_MAX, v), ParseResult::kTypeMismatch);
  EXPECT_EQ(LocaleTextToInteger(u"$10", INT32_MIN, INT32_MAX, v), ParseResult::kTypeMismatch);
  EXPECT_EQ(LocaleTextToInteger(u"2147483648", INT32_MIN, INT32_MAX, v), ParseResult::kOverflow);
  EXPECT_EQ(LocaleTextToInteger(u"", INT32_MIN, INT32_MAX, v), ParseResult::kTypeMismatch);
}

TEST(Locale, CommaLocaleUsesCommaAsDecimalSeparator) {
  ScopedLocale german(LC_NUMERIC, "de_DE.UTF-8");
  if (!german.Installed()) GTEST_SKIP() << "de_DE.UTF-8 not generated";
  EXPECT_EQ(DecimalSeparator(), ',');
  int64_t v = 0;
  EXPECT_EQ(LocaleTextToInteger(u"2,5", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(LocaleTextToInteger(u"1.000", INT32_MIN, INT32_MAX, v), ParseResult::kOk);
  EXPECT_EQ(v, 1000);
  EXPECT_EQ(CurrencyToText(125000), u"12,5");
}

TEST(Locale, BooleanAndCurrencyText) {
  bool b = false;
  EXPECT_EQ(LocaleTextToBoolean(u"TRUE", b), ParseResult::kOk);
  EXPECT_TRUE(b);
  EXPECT_EQ(LocaleTextToBoolean(u"0", b), ParseResult::kOk);
  EXPECT_FALSE(b);
  EXPECT_EQ(LocaleTextToBoolean(u"maybe", b), ParseResult::kTypeMismatch);
  EXPECT_EQ(CurrencyToText(-30000), u"-3");
  EXPECT_EQ(CurrencyToText(12345), u"1.2345");
}

// Dates outside the automation range have no text (found by fuzz_convert: the day count
// overflowed on the way to time_t).
TEST(Locale, DatesOutsideTheAutomationRangeHaveNoText) {
  for (double date : {-657435.0, 2958466.0, -1.6e153, 1e300, std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity()})
    EXPECT_EQ(DateToText(date), u"") << date;
  for (double date : {-657434.0, -657434.5, 0.0, 2958465.0, 2958465.99})
    EXPECT_NE(DateToText(date), u"") << date;
}

TEST(Paths, BackslashesAndDrivesMapOntoFolders) {
  EXPECT_EQ(NativePath("\\home\\u\\Zentrak\\a.db"), "/home/u/Zentrak/a.db");
  ScopedEnv drive_f("ZENTRAK_DRIVE_F", "/tmp");
  EXPECT_EQ(NativePath("F:\\demo.db"), "/tmp/demo.db");
  EXPECT_EQ(NativePath("f:\\x\\y"), "/tmp/x/y");
}

// Drive letters fold by ASCII rules: under a Turkish locale the C library would take 'i' to
// dotted I and 'I' to dotless i, and drive I: would then name no variable and no folder.
TEST(Paths, DriveLettersFoldTheSameUnderATurkishLocale) {
  ScopedLocale turkish(LC_ALL, "tr_TR.UTF-8");
  if (!turkish.Installed()) GTEST_SKIP() << "tr_TR.UTF-8 is not installed (scripts/install-deps.sh makes it)";
  {
    ScopedEnv drive_i("ZENTRAK_DRIVE_I", "/tmp");
    EXPECT_EQ(NativePath("i:\\x.db"), "/tmp/x.db");
    EXPECT_EQ(NativePath("I:\\x.db"), "/tmp/x.db");
  }
  ScopedTempDir home("zentrak-home");
  ScopedEnv home_env("HOME", home.path().string()), drive_i("ZENTRAK_DRIVE_I", std::nullopt);
  EXPECT_EQ(NativePath("I:\\x.db"), home.File(".local/share/zentrak/drives/i/x.db"));
  EXPECT_TRUE(std::filesystem::is_directory(home.File(".local/share/zentrak/drives/i")));
}

TEST(Paths, ProfileFallsBackToHomeAndIsCut) {
  {
    ScopedEnv profile("USERPROFILE", std::string(300, 'p'));
    EXPECT_EQ(UserProfileDir().size(), 254u);
  }
  ScopedEnv profile("USERPROFILE", std::nullopt);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(UserProfileDir(), "/home/someone");
}

}  // namespace
}  // namespace zentrak::platform
