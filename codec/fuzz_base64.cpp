// libFuzzer target for Base64: any text through the decoder, which never fails and whose
// block-wise pieces must give the same bytes; and the input as bytes through the encoder and back,
// which must give the bytes again. Seed corpus: codec/fuzz_seeds_base64.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace b64 = zentrak::base64;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string decoded = zentrak::DecodeBase64(input);
  const size_t length = b64::DataLength(input);
  if (decoded.size() != b64::DecodedSize(length)) std::abort();
  // Block by block, cut at a multiple of four characters, as callers that stream do.
  std::string pieces(decoded.size(), '\0');
  const size_t cut = length / 8 * 4;
  b64::DecodeDataInto(input.substr(0, cut), pieces.data());
  b64::DecodeDataInto(input.substr(cut, length - cut), pieces.data() + b64::DecodedSize(cut));
  if (pieces != decoded) std::abort();
  // What decodes re-encodes to text that decodes to the same bytes.
  if (zentrak::DecodeBase64(zentrak::EncodeBase64(decoded)) != decoded) std::abort();

  const std::string encoded = zentrak::EncodeBase64(input);
  if (encoded.size() != b64::EncodedSize(size)) std::abort();
  if (zentrak::DecodeBase64(encoded) != input) std::abort();
  return 0;
}
