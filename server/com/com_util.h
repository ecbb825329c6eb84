// Small owners and translations used throughout the COM frame: a COM pointer, a BSTR, a VARIANT,
// GUIDs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

#include "automation/typelib.h"

namespace zentrak::com {

// Holds one reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference that the caller already holds.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out parameters: releases what is held and returns the slot.
  T** Put() {
    Reset();
    return &p_;
  }
  // Hands the reference to an out parameter.
  T* Detach() { return std::exchange(p_, nullptr); }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text)
      : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }
  std::u16string Text() const {
    return b_ ? std::u16string(reinterpret_cast<const char16_t*>(b_), SysStringLen(b_)) : std::u16string();
  }

 private:
  BSTR b_ = nullptr;
};

// Owns a VARIANT: cleared (its string freed, its object released) when the owner goes.
class ComVariant {
 public:
  ComVariant() noexcept { VariantInit(&v_); }
  ComVariant(ComVariant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  ComVariant& operator=(ComVariant&& o) noexcept {
    if (this != &o) {
      VariantClear(&v_);
      v_ = o.v_;
      VariantInit(&o.v_);
    }
    return *this;
  }
  ComVariant(const ComVariant&) = delete;
  ComVariant& operator=(const ComVariant&) = delete;
  ~ComVariant() { VariantClear(&v_); }

  const VARIANT& Get() const noexcept { return v_; }
  // The held VARIANT itself, for a callee that may change it in place (a by-reference argument).
  VARIANT& Value() noexcept { return v_; }
  // For an out parameter: clears what is held and returns the VARIANT to fill.
  VARIANT* Put() noexcept {
    VariantClear(&v_);
    return &v_;
  }
  // Hands the value over; the owner is left Empty.
  VARIANT Detach() noexcept {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }

 private:
  VARIANT v_;
};

inline GUID ToGUID(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[static_cast<size_t>(i)];
  return out;
}

inline Guid FromGUID(REFGUID g) {
  Guid out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  for (int i = 0; i < 8; ++i) out.data4[static_cast<size_t>(i)] = g.Data4[i];
  return out;
}

inline std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

}  // namespace zentrak::com
