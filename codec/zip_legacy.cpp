// The entry input and capped output of the zip reader, and the decoders of the three legacy
// methods of the ZIP format: shrinking (dynamic LZW with partial clearing), reducing (follower
// sets feeding a run-length and back-reference expander) and imploding (Shannon-Fano coded
// literals, lengths and distances over a 4K or 8K sliding dictionary). Bits are taken from each
// byte lowest first. Bad data ends decoding quietly; the entry's CRC-32 then fails to match.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <numeric>

#include "codec/zip_internal.h"

namespace zentrak::zip_internal {

EntryInput::EntryInput(TMemoryStream& archive, size_t start, size_t size)
    : archive_(archive), position_(start), remaining_(size), block_(kBlockSize) {}

size_t EntryInput::WantedNextBlock() const { return std::min(kBlockSize, remaining_); }

std::string_view EntryInput::NextBlock() {
  // A GUI host would process its pending window messages here, once per block read.
  const size_t wanted = WantedNextBlock();
  archive_.Seek(position_);
  const size_t got = archive_.Read(block_.data(), wanted);
  position_ += got;
  remaining_ = got < wanted ? 0 : remaining_ - got;
  return {block_.data(), got};
}

EntryOutput::EntryOutput(TMemoryStream& output, uint64_t limit)
    : output_(output), limit_(limit), crc_(static_cast<uint32_t>(crc32(0, nullptr, 0))), buffer_(kBlockSize) {}

void EntryOutput::Write(const uint8_t* data, size_t count) {
  while (count > 0) {
    const size_t part = std::min(count, kBlockSize - used_);
    std::copy(data, data + part, buffer_.data() + used_);
    used_ += part;
    data += part;
    count -= part;
    if (used_ == kBlockSize) Flush();
  }
}

void EntryOutput::Flush() {
  if (used_ == 0) return;
  const uint64_t room = limit_ > written_ ? limit_ - written_ : 0;
  const size_t part = static_cast<size_t>(std::min<uint64_t>(used_, room));
  output_.Write(buffer_.data(), part);
  crc_ = static_cast<uint32_t>(crc32(crc_, buffer_.data(), static_cast<uInt>(part)));
  written_ += part;
  const bool cut = part < used_;
  used_ = 0;
  if (cut) throw EBiggerThanUncompressed();
}

namespace {

// Bits of the compressed data, lowest bit of each byte first. Past the end of the data it yields
// zero bits and remembers that it did.
class BitReader {
 public:
  explicit BitReader(EntryInput& input) : input_(input) {}

  // REQUIRES: count <= 24.
  uint32_t Get(int count) {
    while (held_ < count) {
      if (at_ == block_.size()) {
        block_ = input_.NextBlock();
        at_ = 0;
        if (block_.empty()) {
          overrun_ = true;
          held_ += 8;
          continue;
        }
      }
      bits_ |= uint64_t{static_cast<uint8_t>(block_[at_++])} << held_;
      held_ += 8;
    }
    const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1));
    bits_ >>= count;
    held_ -= count;
    return value;
  }
  bool Overrun() const { return overrun_; }

 private:
  EntryInput& input_;
  std::string_view block_;
  size_t at_ = 0;
  uint64_t bits_ = 0;
  int held_ = 0;
  bool overrun_ = false;
};

// The bytes already decoded, for back-references; positions before the start read as zeros.
// Large enough for the longest distance of both methods that use it (8,192).
class History {
 public:
  void Put(uint8_t byte, EntryOutput& output) {
    ring_[position_++ & kMask] = byte;
    output.Put(byte);
  }
  void Copy(size_t distance, size_t length, EntryOutput& output) {
    for (size_t i = 0; i < length; ++i) Put(ring_[(position_ - distance) & kMask], output);
  }

 private:
  static constexpr size_t kMask = (1 << 14) - 1;
  std::array<uint8_t, kMask + 1> ring_{};
  size_t position_ = 0;
};

}  // namespace

// Shrinking: codes of 9 to 13 bits; 0 to 255 stand for themselves, 256 is followed by a control
// code (1: one bit more per code, 2: free every code that no other code extends). A new code
// (previous code + first character of the next string) takes the lowest free code. It is reserved
// as soon as its prefix is read and its last character filled in from the next string. Partial
// clearing happens, on the compressor's side, between emitting a code and adding its extension:
// so the reserved code does not keep its prefix from being freed, and afterwards it moves to the
// lowest free code, still extending that prefix (whose entry stays as it was until reused).
void Unshrink(EntryInput& input, EntryOutput& output) {
  constexpr int kCodes = 8192;
  constexpr int kControl = 256;
  constexpr int kFirstFree = 257;
  std::vector<uint16_t> prefix(kCodes, 0);
  std::vector<uint8_t> last_char(kCodes, 0), first_char(kCodes, 0);
  std::vector<char> used(kCodes, 0), extended(kCodes, 0);
  for (int c = 0; c < 256; ++c) {
    used[c] = 1;
    last_char[c] = first_char[c] = static_cast<uint8_t>(c);
  }
  auto lowest_free = [&](int from) {
    while (from < kCodes && used[from]) ++from;
    return from;
  };

  BitReader bits(input);
  std::vector<uint8_t> text(kCodes);  // one code's string, filled from its end
  int code_size = 9;
  int pending = -1;  // the reserved code whose last character is not known yet
  int next_free = kFirstFree;
  while (output.Produced() < output.Limit()) {
    const int code = static_cast<int>(bits.Get(code_size));
    if (bits.Overrun()) return;
    if (code == kControl) {
      const uint32_t control = bits.Get(code_size);
      if (bits.Overrun()) return;
      if (control == 1 && code_size < 13) {
        ++code_size;
      } else if (control == 2) {
        if (pending >= 0) used[pending] = 0;
        std::fill(extended.begin(), extended.end(), 0);
        for (int c = kFirstFree; c < kCodes; ++c) {
          if (used[c]) extended[prefix[c]] = 1;
        }
        for (int c = kFirstFree; c < kCodes; ++c) {
          if (!extended[c]) used[c] = 0;
        }
        next_free = lowest_free(kFirstFree);
        if (pending >= 0) {
          const int moved = next_free;  // never in use here: at least the old slot is free
          used[moved] = 1;
          prefix[moved] = prefix[pending];
          first_char[moved] = first_char[pending];
          pending = moved;
          next_free = lowest_free(moved + 1);
        }
      } else {
        return;
      }
      continue;
    }
    if (code == pending) {
      // The code being defined: the previous string plus its own first character.
      last_char[pending] = first_char[pending];
      pending = -1;
    } else if (!used[code]) {
      return;
    }
    size_t length = 0;
    for (int c = code;; c = prefix[c]) {
      if (length == text.size()) return;
      text[text.size() - ++length] = last_char[c];
      if (c < 256) break;
    }
    const uint8_t* string = text.data() + text.size() - length;
    if (pending >= 0) last_char[pending] = string[0];
    output.Write(string, length);
    if (next_free < kCodes) {
      pending = next_free;
      used[pending] = 1;
      prefix[pending] = static_cast<uint16_t>(code);
      first_char[pending] = string[0];
      next_free = lowest_free(next_free + 1);
    } else {
      pending = -1;
    }
  }
}

// Reducing: 256 follower sets (read for the characters 255 down to 0) give short codes for the
// characters likely to follow the previous one; the characters they yield drive an expander in
// which 144 (DLE) introduces a length and distance, or stands for itself when followed by 0.
// The factor (1 to 4) is the number of a length byte's high bits that belong to the distance.
void Unreduce(EntryInput& input, EntryOutput& output, int factor) {
  constexpr unsigned kDle = 144;
  BitReader bits(input);
  std::array<std::array<uint8_t, 64>, 256> followers{};
  std::array<uint8_t, 256> set_size{};
  for (int j = 255; j >= 0; --j) {
    set_size[j] = static_cast<uint8_t>(bits.Get(6));
    for (unsigned k = 0; k < set_size[j]; ++k) followers[j][k] = static_cast<uint8_t>(bits.Get(8));
  }
  if (bits.Overrun()) return;
  // Bits of an index into a set of n characters: the fewest that can count to n - 1, at least 1.
  auto index_bits = [](unsigned n) {
    int b = 1;
    while ((1u << b) < n) ++b;
    return b;
  };

  const int length_bits = 8 - factor;
  const unsigned length_mask = (1u << length_bits) - 1;
  History history;
  unsigned last = 0, state = 0, lead = 0, length = 0;
  while (output.Produced() < output.Limit()) {
    unsigned c;
    const unsigned n = set_size[last];
    if (n == 0 || bits.Get(1) == 1) {
      c = bits.Get(8);
    } else {
      const unsigned index = bits.Get(index_bits(n));
      if (index >= n) return;
      c = followers[last][index];
    }
    if (bits.Overrun()) return;
    last = c;
    switch (state) {
      case 0:
        if (c != kDle) {
          history.Put(static_cast<uint8_t>(c), output);
        } else {
          state = 1;
        }
        break;
      case 1:
        if (c == 0) {
          history.Put(kDle, output);
          state = 0;
        } else {
          lead = c;
          length = c & length_mask;
          state = length == length_mask ? 2 : 3;
        }
        break;
      case 2:
        length += c;
        state = 3;
        break;
      default:
        history.Copy(((lead >> length_bits) << 8) + c + 1, length + 3, output);
        state = 0;
        break;
    }
  }
}

namespace {

// A Shannon-Fano code as the imploding method describes it: bit lengths are sorted (stably), and
// codes are handed out from the longest length up, each step adding 2^(16 - length) to a 16-bit
// code. The codes of one length are then consecutive in their top `length` bits, so decoding
// keeps, per length, the first such value and the symbols in order.
struct ShannonFanoCode {
  std::array<uint32_t, 17> first{};
  std::array<uint32_t, 17> count{};
  std::array<std::vector<uint16_t>, 17> symbols;
};

// Reads the description of a code for `size` symbols: a byte holding the number of bytes that
// follow less one, then bytes of (repeat - 1) << 4 | (bit length - 1). False when it does not
// describe exactly `size` lengths.
bool ReadCode(BitReader& bits, size_t size, ShannonFanoCode& code) {
  std::vector<uint8_t> lengths;
  lengths.reserve(size);
  const unsigned bytes = bits.Get(8) + 1;
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned b = bits.Get(8);
    const size_t repeat = (b >> 4) + 1;
    if (lengths.size() + repeat > size) return false;
    lengths.insert(lengths.end(), repeat, static_cast<uint8_t>((b & 0x0F) + 1));
  }
  if (bits.Overrun() || lengths.size() != size) return false;

  std::vector<uint16_t> order(size);
  std::iota(order.begin(), order.end(), uint16_t{0});
  std::stable_sort(order.begin(), order.end(), [&](uint16_t a, uint16_t b) { return lengths[a] < lengths[b]; });
  uint32_t value = 0, increment = 0;
  unsigned last_length = 0;
  for (size_t i = size; i-- > 0;) {
    value += increment;
    const unsigned length = lengths[order[i]];
    if (length != last_length) {
      last_length = length;
      increment = 1u << (16 - length);
      code.first[length] = value >> (16 - length);
    }
    code.symbols[length].push_back(order[i]);
    ++code.count[length];
  }
  return true;
}

// The next symbol, the code's first bit being the first read; -1 when no code matches.
int DecodeSymbol(BitReader& bits, const ShannonFanoCode& code) {
  uint32_t value = 0;
  for (unsigned length = 1; length <= 16; ++length) {
    value = (value << 1) | bits.Get(1);
    const uint32_t k = value - code.first[length];
    if (k < code.count[length]) return code.symbols[length][k];
  }
  return -1;
}

}  // namespace

// Imploding: flag bit 1 selects the 8K dictionary (7 low distance bits, else 6), flag bit 2 a
// third code for literals (and a minimum match of 3, else literals are plain bytes and the minimum
// match 2). A 1 bit introduces a literal, a 0 bit a match: low distance bits, the distance's upper
// six bits, then the length, whose value 63 is followed by a byte to add.
void Explode(EntryInput& input, EntryOutput& output, uint16_t flags) {
  const bool big_dictionary = (flags & 2) != 0;
  const bool literal_code = (flags & 4) != 0;
  BitReader bits(input);
  ShannonFanoCode literals, lengths, distances;
  if (literal_code && !ReadCode(bits, 256, literals)) return;
  if (!ReadCode(bits, 64, lengths) || !ReadCode(bits, 64, distances)) return;
  const int low_bits = big_dictionary ? 7 : 6;
  const unsigned min_match = literal_code ? 3 : 2;

  History history;
  while (output.Produced() < output.Limit()) {
    if (bits.Get(1) == 1) {
      const int literal = literal_code ? DecodeSymbol(bits, literals) : static_cast<int>(bits.Get(8));
      if (literal < 0 || bits.Overrun()) return;
      history.Put(static_cast<uint8_t>(literal), output);
      continue;
    }
    const uint32_t low = bits.Get(low_bits);
    const int high = DecodeSymbol(bits, distances);
    if (high < 0) return;
    int length = DecodeSymbol(bits, lengths);
    if (length < 0) return;
    if (length == 63) length += static_cast<int>(bits.Get(8));
    if (bits.Overrun()) return;
    history.Copy(((static_cast<size_t>(high) << low_bits) | low) + 1, static_cast<size_t>(length) + min_match, output);
  }
}

}  // namespace zentrak::zip_internal
