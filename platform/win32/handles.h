// Move-only owners of the Win32 handles that the system holds: registry keys (RegCloseKey) and
// printers (ClosePrinter). Windows only; the portable layers never see these types.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <utility>

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

}  // namespace zentrak::platform
