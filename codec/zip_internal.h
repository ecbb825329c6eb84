// Inside the zip reader: the compressed bytes of one entry as they come from the archive, the
// capped output they are decoded into, and the decoders of the legacy methods.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/exception.h"
#include "codec/memory_stream.h"

namespace zentrak::zip_internal {

// The output of an entry would pass its declared uncompressed size. Ends the decoding of that
// entry; never reaches the caller.
class EBiggerThanUncompressed : public Exception {
 public:
  EBiggerThanUncompressed() : Exception("Bigger than uncompressed") {}
};

constexpr size_t kBlockSize = 32 * 1024;

// An entry's compressed bytes: the `size` bytes of the archive from `start`, or fewer when the
// archive ends first, handed out in blocks of up to 32 KiB.
class EntryInput {
 public:
  EntryInput(TMemoryStream& archive, size_t start, size_t size);
  // The next block; empty when the data (or the archive) is exhausted.
  std::string_view NextBlock();
  // Bytes a full block would have had at this point: min(32 KiB, what is left of `size`).
  size_t WantedNextBlock() const;

 private:
  TMemoryStream& archive_;
  size_t position_;
  size_t remaining_;
  std::vector<char> block_;
};

// Decoded bytes on their way into the output stream, collected into blocks of 32 KiB. Every block
// is written only up to the declared uncompressed size; a block that would pass it is cut there
// and EBiggerThanUncompressed is thrown. Keeps the CRC-32 of what was written.
class EntryOutput {
 public:
  EntryOutput(TMemoryStream& output, uint64_t limit);
  void Put(uint8_t byte) {
    buffer_[used_++] = byte;
    if (used_ == kBlockSize) Flush();
  }
  void Write(const uint8_t* data, size_t count);
  void Flush();
  // Bytes decoded so far, held back or written.
  uint64_t Produced() const { return written_ + used_; }
  uint64_t Limit() const { return limit_; }
  uint32_t Crc() const { return crc_; }

 private:
  TMemoryStream& output_;
  uint64_t limit_;
  uint64_t written_ = 0;
  uint32_t crc_ = 0;
  size_t used_ = 0;
  std::vector<uint8_t> buffer_;
};

// The legacy methods. Each decodes until the output reaches its limit, the input ends or the data
// turns out to be malformed; none of them throws for bad data (the CRC then tells).
void Unshrink(EntryInput& input, EntryOutput& output);             // method 1
void Unreduce(EntryInput& input, EntryOutput& output, int factor);  // methods 2 to 5: factor 1 to 4
void Explode(EntryInput& input, EntryOutput& output, uint16_t flags);  // method 6

}  // namespace zentrak::zip_internal
