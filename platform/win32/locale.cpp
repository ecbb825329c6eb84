// Number and date conventions of the user's default locale, through OLE Automation's own
// locale-aware conversions.
#include "platform/locale.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace zentrak::platform {
namespace {

std::wstring Terminated(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

ParseResult FromStatus(HRESULT hr) {
  if (SUCCEEDED(hr)) return ParseResult::kOk;
  if (hr == DISP_E_OVERFLOW) return ParseResult::kOverflow;
  return ParseResult::kTypeMismatch;
}

// Takes ownership of a BSTR and returns its text.
std::u16string TakeBstr(BSTR b) {
  std::u16string out;
  if (b) {
    out.assign(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
    SysFreeString(b);
  }
  return out;
}

}  // namespace

char DecimalSeparator() {
  char buf[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 0 && buf[0] &&
      !(buf[0] & 0x80))
    return buf[0];
  return '.';
}

ParseResult LocaleTextToInteger(std::u16string_view text, int64_t min, int64_t max, int64_t& out) {
  std::wstring t = Terminated(text);
  if (min >= INT32_MIN && max <= INT32_MAX) {
    LONG v = 0;
    ParseResult r = FromStatus(VarI4FromStr(t.data(), LOCALE_USER_DEFAULT, 0, &v));
    if (r != ParseResult::kOk) return r;
    if (v < min || v > max) return ParseResult::kOverflow;
    out = v;
    return r;
  }
  LONG64 v = 0;
  ParseResult r = FromStatus(VarI8FromStr(t.data(), LOCALE_USER_DEFAULT, 0, &v));
  if (r != ParseResult::kOk) return r;
  if (v < min || v > max) return ParseResult::kOverflow;
  out = v;
  return r;
}

ParseResult LocaleTextToDouble(std::u16string_view text, double& out) {
  std::wstring t = Terminated(text);
  double v = 0;
  ParseResult r = FromStatus(VarR8FromStr(t.data(), LOCALE_USER_DEFAULT, 0, &v));
  if (r == ParseResult::kOk) out = v;
  return r;
}

ParseResult LocaleTextToBoolean(std::u16string_view text, bool& out) {
  std::wstring t = Terminated(text);
  VARIANT_BOOL v = VARIANT_FALSE;
  ParseResult r = FromStatus(VarBoolFromStr(t.data(), LOCALE_USER_DEFAULT, 0, &v));
  if (r == ParseResult::kOk) out = v != VARIANT_FALSE;
  return r;
}

std::u16string CurrencyToText(int64_t scaled) {
  CY cy;
  cy.int64 = scaled;
  BSTR b = nullptr;
  if (FAILED(VarBstrFromCy(cy, LOCALE_USER_DEFAULT, 0, &b))) return std::u16string();
  return TakeBstr(b);
}

std::u16string DateToText(double date) {
  BSTR b = nullptr;
  if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &b))) return std::u16string();
  return TakeBstr(b);
}

}  // namespace zentrak::platform
