// The small-block pool of the JSON value tree and the shared member names.
//
// One pool per thread. Each size class (8, 16, ... 128 bytes) carves its blocks from 64 KiB chunks
// of its own, so a block whose size is a multiple of 16 is 16-aligned; freed blocks go to the
// class's free list. When the last block of a thread's pool is released (the tree of a call has
// been destroyed) the pool gives its memory back, keeping its first small region for the next
// tree.
#include "json/value_pool.h"

#include <cstdlib>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZENTRAK_JSON_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZENTRAK_JSON_POOL_OFF 1
#endif
#endif

namespace zentrak::json_internal {
namespace {

#ifdef ZENTRAK_JSON_POOL_OFF
// Under AddressSanitizer every block comes from the heap, so that misuse is caught.
constexpr bool kPoolOn = false;
#else
constexpr bool kPoolOn = true;
#endif

constexpr std::size_t kGranule = 8;
constexpr std::size_t kClasses = kMaxPooledSize / kGranule;
constexpr std::size_t kChunkBytes = 64 * 1024;
// Chunks are carved from regions: a small first one, then regions of 2 MiB that the system may
// back with large pages (a large tree then costs a few hundred page faults instead of tens of
// thousands).
constexpr std::size_t kFirstRegionBytes = 4 * kChunkBytes;
constexpr std::size_t kRegionBytes = 2 * 1024 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

struct Region {
  Region* next;
  char* memory;
  std::size_t bytes;
};

struct SizeClass {
  FreeBlock* free = nullptr;
  char* bump = nullptr;
  char* end = nullptr;
};

struct Pool {
  SizeClass classes[kClasses];
  std::size_t live = 0;
  Region* regions = nullptr;  // newest first; the oldest is the small first region
  char* carve = nullptr;      // next free chunk of the newest region
  char* carve_end = nullptr;

  void NewRegion() {
    std::size_t bytes = regions ? kRegionBytes : kFirstRegionBytes;
    void* memory = ::operator new(bytes, std::align_val_t(bytes));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes == kRegionBytes) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    Region* r;
    try {
      r = new Region{regions, static_cast<char*>(memory), bytes};
    } catch (...) {
      ::operator delete(memory, std::align_val_t(bytes));
      throw;
    }
    regions = r;
    carve = r->memory;
    carve_end = r->memory + bytes;
  }

  void* Refill(SizeClass& c, std::size_t block) {
    if (carve == carve_end) NewRegion();
    c.bump = carve;
    c.end = carve + kChunkBytes;
    carve += kChunkBytes;
    void* r = c.bump;
    c.bump += block;
    return r;
  }

  // Every block is free again: keep the first region, give the others back.
  void Trim() noexcept {
    while (regions && regions->next) {
      Region* r = regions;
      regions = r->next;
      ::operator delete(r->memory, std::align_val_t(r->bytes));
      delete r;
    }
    for (SizeClass& c : classes) c = SizeClass();
    if (regions) {
      carve = regions->memory;
      carve_end = regions->memory + regions->bytes;
    }
  }
};

// Never destroyed: blocks may outlive the thread's other state at exit.
thread_local Pool* tls_pool = nullptr;

Pool& ThreadPool() {
  if (!tls_pool) tls_pool = new Pool;
  return *tls_pool;
}

}  // namespace

void* PoolAllocate(std::size_t size) {
  if (!kPoolOn || size > kMaxPooledSize) return ::operator new(size);
  if (size == 0) size = 1;
  Pool& pool = ThreadPool();
  std::size_t index = (size - 1) / kGranule;
  SizeClass& c = pool.classes[index];
  void* block;
  if (c.free) {
    block = c.free;
    c.free = c.free->next;
  } else {
    std::size_t bytes = (index + 1) * kGranule;
    if (static_cast<std::size_t>(c.end - c.bump) >= bytes) {
      block = c.bump;
      c.bump += bytes;
    } else {
      block = pool.Refill(c, bytes);
    }
  }
  ++pool.live;
  return block;
}

void PoolRelease(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (!kPoolOn || size > kMaxPooledSize) {
    ::operator delete(block);
    return;
  }
  if (size == 0) size = 1;
  Pool& pool = *tls_pool;
  SizeClass& c = pool.classes[(size - 1) / kGranule];
  FreeBlock* f = static_cast<FreeBlock*>(block);
  f->next = c.free;
  c.free = f;
  if (--pool.live == 0) pool.Trim();
}

void AdviseLargePages(void* data, std::size_t size) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t page = kRegionBytes;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

SharedName::SharedName(std::string_view bytes) {
  if (bytes.empty()) return;
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  void* block = PoolAllocate(sizeof(Record) + bytes.size());
  rec_ = static_cast<Record*>(block);
  rec_->refs = 1;
  rec_->size = static_cast<uint32_t>(bytes.size());
  std::memcpy(rec_->data(), bytes.data(), bytes.size());
}

void SharedName::Release() noexcept {
  if (rec_ && --rec_->refs == 0) PoolRelease(rec_, sizeof(Record) + rec_->size);
  rec_ = nullptr;
}

}  // namespace zentrak::json_internal
