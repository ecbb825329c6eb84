// The four argument conversions, their messages and the locale-aware steps.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <limits>
#include <optional>

#include "base/exception_testing.h"
#include "platform/codepage.h"
#include "automation/convert.h"

namespace zentrak {
namespace {

TEST(ConversionToText, Table) {
  struct Case {
    Variant v;
    const char* text;
  } cases[] = {
      {Variant(), ""},
      {Variant::FromInteger(VarType::Smallint, -5), "-5"},
      {Variant::FromInt32(2147483647), "2147483647"},
      {Variant::FromInteger(VarType::LongWord, 4294967295u), "4294967295"},
      {Variant::FromInt64(-9223372036854775807LL - 1), "-9223372036854775808"},
      {Variant::FromInteger(VarType::Byte, 255), "255"},
      {Variant::FromDouble(2.5), "2.5"},
      {Variant::FromDouble(1e20), "1E20"},
      // Fixed down to 0.00001, scientific below it; JSON numbers turn scientific one step sooner.
      {Variant::FromDouble(1e-6), "1E-6"},
      {Variant::FromDouble(0.0000099), "9.9E-6"},
      {Variant::FromDouble(0.00001), "0.00001"},
      {Variant::FromDouble(0.00005), "0.00005"},
      {Variant::FromDouble(-0.000012345), "-0.000012345"},
      {Variant::FromDouble(0.0001), "0.0001"},
      {Variant::FromDouble(123456789012345.0), "123456789012345"},
      {Variant::FromDouble(1234567890123456.0), "1.23456789012346E15"},
      {Variant::FromSingle(0.1f), "0.100000001490116"},  // widened to double first
      {Variant::FromBool(true), "True"},
      {Variant::FromBool(false), "False"},
      {Variant(u"abc"), "abc"},
      {Variant::FromAnsi("xyz"), "xyz"},
      {Variant::FromCurrency(125000), "12.5"},
      {Variant::FromDecimal({2, true, 0, 12345}), "-123.45"},
      {Variant::ByRefVariant(Variant::FromInt32(7)), "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(VarToText(c.v), c.text) << c.text;
}

TEST(ConversionToText, Errors) {
  EXPECT_EQ(RaisedMessage([] { VarToText(Variant::Null()); }),
            "Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(RaisedMessage([] { VarToText(Variant::FromError(5)); }),
            "Could not convert variant of type (Error) into type (String)");
  Variant by_ref_null = Variant::Null();
  by_ref_null.SetByRef(true);
  EXPECT_EQ(RaisedMessage([&] { VarToText(by_ref_null); }),
            "Could not convert variant of type (ByRef Null) into type (String)");
  // A by-reference Variant is followed to its value.
  EXPECT_EQ(RaisedMessage([] { VarToText(Variant::ByRefVariant(Variant::Null())); }),
            "Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(RaisedMessage([] { VarToText(Variant::FromObject(VarType::Dispatch, nullptr)); }),
            "Could not convert variant of type (Dispatch) into type (String)");
}

TEST(ConversionToInteger, Table) {
  struct Case {
    Variant v;
    int32_t n;
  } cases[] = {
      {Variant(), 0},
      {Variant::FromDouble(3.5), 4},
      {Variant::FromDouble(2.5), 2},
      {Variant::FromDouble(-2.5), -2},
      {Variant::FromDouble(-3.5), -4},
      {Variant::FromBool(true), -1},
      {Variant::FromBool(false), 0},
      {Variant(u"12"), 12},
      {Variant(u"true"), 1},
      {Variant(u"False"), 0},
      {Variant(u"$1F"), 31},
      {Variant(u" 2.5 "), 2},
      {Variant::FromCurrency(25000), 2},
      {Variant::FromCurrency(35000), 4},
      {Variant::FromCurrency(-15000), -2},
      {Variant::FromInteger(VarType::LongWord, 2147483647), 2147483647},
      {Variant::FromDate(1.5), 2},
      {Variant::FromDecimal({1, false, 0, 25}), 2},
  };
  for (const auto& c : cases) EXPECT_EQ(VarToInteger(c.v), c.n) << VarToText(c.v);
}

TEST(ConversionToInteger, ErrorsAndOverflow) {
  struct Case {
    Variant v;
    const char* message;
  } cases[] = {
      {Variant::Null(), "Could not convert variant of type (Null) into type (Integer)"},
      {Variant(u"abc"), "Could not convert variant of type (OleStr) into type (Boolean)"},
      {Variant::FromAnsi("abc"), "Could not convert variant of type (String) into type (Boolean)"},
      {Variant(u"2147483648"), "Overflow while converting variant of type (OleStr) into type (Integer)"},
      {Variant::FromInteger(VarType::LongWord, 2147483648u),
       "Overflow while converting variant of type (LongWord) into type (Integer)"},
      {Variant::FromInt64(1LL << 40), "Overflow while converting variant of type (Int64) into type (Integer)"},
      {Variant::FromDouble(3e9), "Overflow while converting variant of type (Double) into type (Integer)"},
      {Variant::FromDouble(std::numeric_limits<double>::quiet_NaN()),
       "Overflow while converting variant of type (Double) into type (Integer)"},
      {Variant::FromError(1), "Could not convert variant of type (Error) into type (Integer)"},
  };
  for (const auto& c : cases) EXPECT_EQ(RaisedMessage([&] { VarToInteger(c.v); }), c.message);
  EXPECT_EQ(RaisedMessage([] { VarToInt64(Variant::Null()); }),
            "Could not convert variant of type (Null) into type (Int64)");
  EXPECT_EQ(VarToInt64(Variant(u"9223372036854775807")), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(VarToInt64(Variant::FromDouble(3e9)), 3000000000LL);
  EXPECT_EQ(RaisedMessage([] { VarToInt64(Variant(u"9223372036854775808")); }),
            "Overflow while converting variant of type (OleStr) into type (Int64)");
}

TEST(ConversionToBoolean, Table) {
  EXPECT_FALSE(VarToBoolean(Variant()));
  EXPECT_TRUE(VarToBoolean(Variant::FromInt32(2)));
  EXPECT_FALSE(VarToBoolean(Variant::FromDouble(0)));
  EXPECT_TRUE(VarToBoolean(Variant::FromDouble(0.1)));
  EXPECT_TRUE(VarToBoolean(Variant(u"TRUE")));
  EXPECT_FALSE(VarToBoolean(Variant(u"false")));
  EXPECT_TRUE(VarToBoolean(Variant(u"-1")));
  EXPECT_FALSE(VarToBoolean(Variant(u"0")));
  EXPECT_EQ(RaisedMessage([] { VarToBoolean(Variant(u"maybe")); }),
            "Could not convert variant of type (OleStr) into type (Boolean)");
  EXPECT_EQ(RaisedMessage([] { VarToBoolean(Variant::Null()); }),
            "Could not convert variant of type (Null) into type (Boolean)");
}

TEST(ConversionLocale, CommaDecimalSeparator) {
  std::string keep = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not available";
  EXPECT_EQ(VarToText(Variant::FromDouble(2.5)), "2,5");
  EXPECT_EQ(VarToText(Variant::FromDouble(1.5e-7)), "1,5E-7");
  EXPECT_EQ(VarToInteger(Variant(u"3,5")), 4);
  EXPECT_EQ(VarToText(Variant::FromCurrency(15000)), "1,5");
  std::setlocale(LC_NUMERIC, keep.c_str());
}

TEST(ConversionText, WideTextPassesThroughTheCodePage) {
  // Characters the code page cannot hold become "?" (GBK) or survive (UTF-8).
  std::u16string thai = u"\u0E01";
  if (platform::SystemCodePage() == 936) {
    EXPECT_EQ(VarToWideText(Variant(thai)), u"?");
  } else {
    EXPECT_EQ(VarToWideText(Variant(thai)), thai);
  }
  EXPECT_EQ(VarToWideText(Variant(u"\u4E2D\u6587")), u"\u4E2D\u6587");
}

TEST(CoercionToParameterType, Table) {
  // What a member declared with each type receives; "mismatch" where the call is refused with
  // DISP_E_TYPEMISMATCH. The ranges are those of the declared types: short, and OLE_COLOR, which
  // takes any 32-bit value, signed or not.
  struct Case {
    Variant value;
    ParamType type;
    std::optional<VarType> tag;  // none: a mismatch
    int64_t number;              // the coerced value, for numeric tags
  } cases[] = {
      {Variant(u"x"), ParamType::kVariant, VarType::OleStr, 0},
      {Variant::Null(), ParamType::kVariant, VarType::Null, 0},
      {Variant::FromInt32(2), ParamType::kBoolean, VarType::Boolean, 1},
      {Variant(u"false"), ParamType::kBoolean, VarType::Boolean, 0},
      {Variant(u"maybe"), ParamType::kBoolean, std::nullopt, 0},
      {Variant::FromInt32(32767), ParamType::kInt16, VarType::Smallint, 32767},
      {Variant::FromInt32(32768), ParamType::kInt16, std::nullopt, 0},
      {Variant::FromInt32(-32768), ParamType::kInt16, VarType::Smallint, -32768},
      {Variant::FromInt32(-32769), ParamType::kInt16, std::nullopt, 0},
      {Variant::FromDouble(2.5), ParamType::kInt32, VarType::Integer, 2},  // halves to even
      {Variant::FromInt64(1LL << 31), ParamType::kInt32, std::nullopt, 0},
      {Variant(u"7"), ParamType::kBorderStyle, VarType::Integer, 7},
      {Variant::Null(), ParamType::kPrintScale, std::nullopt, 0},
      {Variant::FromInt32(-1), ParamType::kColor, VarType::LongWord, 0xFFFFFFFF},
      {Variant::FromInt64(0xFFFFFFFFLL), ParamType::kColor, VarType::LongWord, 0xFFFFFFFF},
      {Variant::FromInt64(0x100000000LL), ParamType::kColor, std::nullopt, 0},
      {Variant::FromInt64(-0x80000001LL), ParamType::kColor, std::nullopt, 0},
      {Variant::FromInt32(12), ParamType::kText, VarType::OleStr, 0},
      {Variant::Null(), ParamType::kText, std::nullopt, 0},
      {Variant(), ParamType::kFont, VarType::Empty, 0},
      {Variant::FromInt32(1), ParamType::kFont, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    std::string what =
        std::string(VarTypeName(c.value.Type())) + " to type " + std::to_string(static_cast<int>(c.type));
    std::optional<Variant> got = Coerce(c.value, c.type);
    ASSERT_EQ(got.has_value(), c.tag.has_value()) << what;
    if (!got) continue;
    EXPECT_EQ(got->Type(), *c.tag) << what;
    if (*c.tag == VarType::LongWord) {
      EXPECT_EQ(static_cast<uint32_t>(got->IntegerValue()), static_cast<uint32_t>(c.number)) << what;
    } else if (*c.tag == VarType::Boolean) {
      EXPECT_EQ(got->BoolValue(), c.number != 0) << what;
    } else if (*c.tag == VarType::Smallint || *c.tag == VarType::Integer) {
      EXPECT_EQ(got->IntegerValue(), c.number) << what;
    }
  }
  EXPECT_EQ(Coerce(Variant::FromInt32(12), ParamType::kText)->WideText(), u"12");
  // Text the system code page cannot hold (under code page 936 too) arrives whole, by reference too.
  const std::u16string wide = u"\u1100\U0001F600 \u6587";
  EXPECT_EQ(Coerce(Variant(wide), ParamType::kText)->WideText(), wide);
  EXPECT_EQ(Coerce(Variant::ByRefVariant(Variant(wide)), ParamType::kText)->WideText(), wide);
}

TEST(ConversionFailures, NameWhatTheMessageNames) {
  // The non-raising forms report what the raising ones would say: text that is neither a number
  // nor a truth value fails as a Boolean even on the way to an integer.
  int32_t n = 0;
  Conversion c = TryVarToInteger(Variant(u"abc"), n);
  EXPECT_EQ(c.result, Conversion::kTypeMismatch);
  EXPECT_EQ(RaisedMessage([&] { c.Raise(); }), "Could not convert variant of type (OleStr) into type (Boolean)");
  c = TryVarToInteger(Variant::FromInt64(1LL << 40), n);
  EXPECT_EQ(c.result, Conversion::kOverflow);
  EXPECT_EQ(RaisedMessage([&] { c.Raise(); }), "Overflow while converting variant of type (Int64) into type (Integer)");
  std::string text;
  EXPECT_TRUE(TryVarToText(Variant::FromInt32(5), text));
  EXPECT_EQ(text, "5");
}

}  // namespace
}  // namespace zentrak
