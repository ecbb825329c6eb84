// The user's number and date conventions, for the locale-aware steps of the variant conversions
// and for cell texts. On Linux they follow the process locale (LC_NUMERIC, LC_TIME); on Windows
// the user's default locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zentrak::platform {

// The decimal separator of the user's locale, as one 8-bit character ('.' or ',').
char DecimalSeparator();

enum class ParseResult { kOk, kTypeMismatch, kOverflow };

// The platform's locale-aware text-to-number conversion: blanks around the number, a sign, the
// locale's thousands and decimal separators and an exponent are accepted; a fraction is rounded
// to the nearest integer, halves to even. kOverflow when the value is outside [min, max].
ParseResult LocaleTextToInteger(std::u16string_view text, int64_t min, int64_t max, int64_t& out);

// The same text read as a floating-point number.
ParseResult LocaleTextToDouble(std::u16string_view text, double& out);

// The platform's locale-aware text-to-boolean conversion: the locale's words for true and false
// (any case) and numbers (true when not zero).
ParseResult LocaleTextToBoolean(std::u16string_view text, bool& out);

// Text forms of a currency (value scaled by 10000) and of an automation date (days since
// 30 December 1899) for the user's locale.
std::u16string CurrencyToText(int64_t scaled);
std::u16string DateToText(double date);

}  // namespace zentrak::platform
