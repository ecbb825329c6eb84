// A byte stream held in memory: the archive, input and output streams of the zip reader and
// writer. Plain data with a position; reads past the end return fewer bytes, writes grow it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace zentrak {

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  size_t Size() const { return bytes_.size(); }
  size_t Position() const { return position_; }
  // The position may lie past the end; a write there first fills the gap with zeros.
  void Seek(size_t position) { position_ = position; }

  // Reads up to `count` bytes at the position and moves past them; returns how many were read.
  size_t Read(void* buffer, size_t count) {
    if (position_ >= bytes_.size()) return 0;
    count = std::min(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
  }

  // Writes at the position, overwriting or growing the stream, and moves past what was written.
  void Write(std::string_view data) {
    if (position_ > bytes_.size()) bytes_.resize(position_, '\0');
    const size_t overlap = std::min(data.size(), bytes_.size() - position_);
    bytes_.replace(position_, overlap, data);
    position_ += data.size();
  }
  void Write(const void* data, size_t count) { Write(std::string_view(static_cast<const char*>(data), count)); }

  // Cuts or extends the stream (with zeros); the position is kept.
  void SetSize(size_t size) { bytes_.resize(size, '\0'); }
  void Clear() {
    bytes_.clear();
    position_ = 0;
  }

  const std::string& Bytes() const { return bytes_; }
  std::string TakeBytes() {
    position_ = 0;
    return std::exchange(bytes_, std::string());
  }

 private:
  std::string bytes_;
  size_t position_ = 0;
};

}  // namespace zentrak
