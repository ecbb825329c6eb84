// The system's one Base64 encoder and decoder (RFC 4648 alphabet, "=" padding, no line breaks).
// Byte strings are std::string used as byte containers. The encoder is strict; the decoder never
// fails and gives fixed results for text that is not canonical Base64.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zentrak {

// Returns 4 * ceil(n / 3) characters, padded with "=", never broken into lines.
std::string EncodeBase64(std::string_view bytes);

// Never fails. At most two trailing "=" are dropped; every other character takes one position,
// a character outside the alphabet (a third "=", a space, a line break) counting as the value -1:
// as 63 in the first three positions of a group, and making the group's third byte 0xFF in the
// fourth. Two characters left after the last group give one byte, three give two, one is lost.
std::string DecodeBase64(std::string_view text);

// Pieces of the two functions above, for callers that encode or decode a long text block by block
// into buffers of their own.
namespace base64 {

// Bytes needed for EncodeInto.
constexpr size_t EncodedSize(size_t byte_count) { return (byte_count + 2) / 3 * 4; }

// Writes EncodedSize(bytes.size()) characters to out. Only the last block of a text may have a
// length that is not a multiple of 3.
void EncodeInto(std::string_view bytes, char* out);

// The characters of text that take part in decoding: its length less at most two trailing "=".
size_t DataLength(std::string_view text);

// Bytes that `data_length` characters decode to.
constexpr size_t DecodedSize(size_t data_length) {
  size_t rest = data_length % 4;
  return data_length / 4 * 3 + (rest > 1 ? rest - 1 : 0);
}

// Decodes characters that have already had their padding dropped (see DataLength) and writes
// DecodedSize(data.size()) bytes to out. Only the last block of a text may have a length that is
// not a multiple of 4.
void DecodeDataInto(std::string_view data, char* out);

}  // namespace base64
}  // namespace zentrak
