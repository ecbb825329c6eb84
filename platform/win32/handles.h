// Move-only owners of the Win32 handles that the system holds: registry keys (RegCloseKey),
// printers (ClosePrinter) and VARIANTs (VariantClear), with the makers of the VARIANTs that
// dispatch calls pass. Windows only; the portable layers never see these types.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <winspool.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/codepage.h"

namespace zentrak::platform {

// Owns one handle of a kind described by Traits: its type, its empty value and how it closes.
template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle h) noexcept : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Traits::Empty())) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.h_, Traits::Empty()));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Handle Get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::Empty(); }
  // For the out parameter of an opening call: closes what is held and returns the slot.
  Handle* Put() noexcept {
    Reset();
    return &h_;
  }
  Handle Release() noexcept { return std::exchange(h_, Traits::Empty()); }
  void Reset(Handle h = Traits::Empty()) noexcept {
    if (Handle old = std::exchange(h_, h); old != Traits::Empty()) Traits::Close(old);
  }

 private:
  Handle h_ = Traits::Empty();
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { RegCloseKey(h); }
};

// A printer opened with OpenPrinter; using it links winspool.
struct PrinterTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ClosePrinter(h); }
};

using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using PrinterHandle = UniqueHandle<PrinterTraits>;

// A VARIANT cleared when destroyed: empty (for a result), or wide text made from 8-bit text in
// the system code page. v is handed to calls as it is.
struct ScopedVariant {
  VARIANT v;
  ScopedVariant() noexcept { VariantInit(&v); }
  explicit ScopedVariant(std::string_view text) {
    std::u16string wide = AnsiToWide(text);
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
  }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// The module (the control's DLL or a program) that this code is linked into.
inline HINSTANCE ThisModule() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// Registers a window class of this module with the arrow cursor; false when Windows refuses.
// `background` is a system colour index (COLOR_*), or -1 for none.
inline bool RegisterWindowClass(const wchar_t* name, WNDPROC proc, int background, HICON icon = nullptr) noexcept {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = proc;
  c.hInstance = ThisModule();
  c.hCursor = LoadCursor(nullptr, IDC_ARROW);
  c.hIcon = icon;
  if (background >= 0) c.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
  c.lpszClassName = name;
  return RegisterClassExW(&c) != 0;
}

// VARIANTs of the scalar kinds, which own nothing.
inline VARIANT I4Variant(int32_t value) noexcept {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
inline VARIANT I2Variant(int16_t value) noexcept {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}
inline VARIANT BoolVariant(bool value) noexcept {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

}  // namespace zentrak::platform
