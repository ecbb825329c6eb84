// Storage of the JSON value tree: a small-block pool for the tree's objects, element arrays and
// names, and the compact text forms that strings and member names keep. Not part of the public
// interface; value.h uses it for its class layouts.
//
// Trees are large (a query result of a few hundred thousand rows holds millions of values) and
// are built and destroyed within one call, so the value classes take their memory from a pool of
// the calling thread instead of the general heap: no per-block header, sizes in steps of 8 bytes.
// REQUIRES: a tree is destroyed on the thread that built it (every tree of the system is built and
// destroyed within one call on the apartment thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

namespace zentrak::json_internal {

// Blocks up to kMaxPooledSize bytes come from the pool, larger ones from operator new.
constexpr std::size_t kMaxPooledSize = 128;

void* PoolAllocate(std::size_t size);
void PoolRelease(void* block, std::size_t size) noexcept;

// A hint that the untouched memory [data, data + size) will be filled in full and is better
// backed by large pages. Only blocks of several MiB are affected.
void AdviseLargePages(void* data, std::size_t size) noexcept;

// Allocator for the element arrays of containers.
template <class T>
struct PoolAllocator {
  using value_type = T;
  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(PoolAllocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { PoolRelease(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

// Text in the system's UTF-8 form (each UTF-16 unit as one to three bytes, so that it converts
// back to exactly the same units). Up to 23 bytes are held inline; longer texts in one pooled
// block of exactly their size.
class Utf8Text {
 public:
  Utf8Text() noexcept { raw_[kTagByte] = 0; }
  // REQUIRES: bytes are in the system's UTF-8 form.
  explicit Utf8Text(std::string_view bytes) { Init(bytes); }
  Utf8Text(const Utf8Text&) = delete;
  Utf8Text& operator=(const Utf8Text&) = delete;
  ~Utf8Text() { Free(); }

  void Assign(std::string_view bytes) {
    Utf8Text fresh(bytes);
    Swap(fresh);
  }
  void Swap(Utf8Text& other) noexcept {
    unsigned char tmp[sizeof raw_];
    std::memcpy(tmp, raw_, sizeof raw_);
    std::memcpy(raw_, other.raw_, sizeof raw_);
    std::memcpy(other.raw_, tmp, sizeof raw_);
  }

  std::string_view View() const noexcept {
    if (raw_[kTagByte] != kHeapTag) {
      return {reinterpret_cast<const char*>(raw_), raw_[kTagByte]};
    }
    char* data;
    std::size_t size;
    std::memcpy(&data, raw_, sizeof data);
    std::memcpy(&size, raw_ + sizeof data, sizeof size);
    return {data, size};
  }

 private:
  static constexpr std::size_t kTagByte = 23;
  static constexpr unsigned char kHeapTag = 0xFF;

  void Init(std::string_view bytes) {
    if (bytes.size() <= kTagByte) {
      if (!bytes.empty()) std::memcpy(raw_, bytes.data(), bytes.size());
      raw_[kTagByte] = static_cast<unsigned char>(bytes.size());
      return;
    }
    char* data = static_cast<char*>(PoolAllocate(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    std::size_t size = bytes.size();
    std::memcpy(raw_, &data, sizeof data);
    std::memcpy(raw_ + sizeof data, &size, sizeof size);
    raw_[kTagByte] = kHeapTag;
  }
  void Free() noexcept {
    if (raw_[kTagByte] == kHeapTag) {
      std::string_view v = View();
      PoolRelease(const_cast<char*>(v.data()), v.size());
    }
  }

  alignas(void*) unsigned char raw_[24];
};

// An immutable member name in the system's UTF-8 form, shared by reference count between the
// members of one tree that carry the same name (the reader gives every object of a result set the
// same name records). The count is not atomic: names are shared only inside one tree.
class SharedName {
 public:
  SharedName() noexcept = default;
  explicit SharedName(std::string_view bytes);
  SharedName(const SharedName& other) noexcept : rec_(other.rec_) {
    if (rec_) ++rec_->refs;
  }
  SharedName(SharedName&& other) noexcept : rec_(other.rec_) { other.rec_ = nullptr; }
  SharedName& operator=(const SharedName&) = delete;
  SharedName& operator=(SharedName&& other) noexcept {
    if (this != &other) {
      Release();
      rec_ = other.rec_;
      other.rec_ = nullptr;
    }
    return *this;
  }
  ~SharedName() { Release(); }

  std::string_view View() const noexcept {
    return rec_ ? std::string_view(rec_->data(), rec_->size) : std::string_view();
  }

 private:
  struct Record {
    uint32_t refs;
    uint32_t size;
    char* data() noexcept { return reinterpret_cast<char*>(this + 1); }
  };
  void Release() noexcept;

  Record* rec_ = nullptr;
};

}  // namespace zentrak::json_internal
