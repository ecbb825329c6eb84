// Base64 through lookup tables: a table of character pairs for twelve bits at a time when
// encoding, and one table per position of a four-character group when decoding. The decoding
// tables hold each character's contribution to the group's three bytes, so that a foreign
// character's value of -1 is carried exactly: all of its bits set in whichever bytes it reaches.
// On x86 processors with SSSE3, AVX2 or AVX-512 VBMI (checked at run time) the bulk of a text goes through
// vector versions of the same steps; the tables finish the rest.
#include "codec/base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZENTRAK_BASE64_X86 1
#include <immintrin.h>
#endif

namespace zentrak {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every 12-bit value as its two characters.
constexpr std::array<std::array<char, 2>, 4096> MakePairTable() {
  std::array<std::array<char, 2>, 4096> table{};
  for (unsigned v = 0; v < 4096; ++v) table[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
  return table;
}
constexpr auto kPairs = MakePairTable();

// The value of each character: its position in the alphabet, or -1.
constexpr std::array<int, 256> MakeValueTable() {
  std::array<int, 256> table{};
  for (int& v : table) v = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr auto kValues = MakeValueTable();

// decode[p][c]: what character c in position p of a group contributes to the group's bytes,
// laid out as the 32-bit little-endian word whose first three bytes are the group's bytes.
//   byte 1 = ((c1 << 2) & 0xFC) | ((c2 >> 4) & 0x03)
//   byte 2 = ((c2 << 4) & 0xF0) | ((c3 >> 2) & 0x0F)
//   byte 3 = ((c3 << 6) & 0xC0) | c4            (c4 = -1 sets all eight bits)
constexpr std::array<std::array<uint32_t, 256>, 4> MakeDecodeTables() {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (unsigned c = 0; c < 256; ++c) {
    const int value = kValues[c];
    const uint32_t v = static_cast<uint32_t>(value) & 0xFF;  // -1 -> 0xFF, all bits set
    t[0][c] = (v << 2) & 0xFC;
    t[1][c] = ((v >> 4) & 0x03) | (((v << 4) & 0xF0) << 8);
    t[2][c] = (((v >> 2) & 0x0F) << 8) | (((v << 6) & 0xC0) << 16);
    t[3][c] = v << 16;
  }
  return t;
}
constexpr auto kDecode = MakeDecodeTables();

inline uint32_t DecodeGroup(const unsigned char* s) {
  return kDecode[0][s[0]] | kDecode[1][s[1]] | kDecode[2][s[2]] | kDecode[3][s[3]];
}

inline void PutGroupBytes(uint32_t word, char* out) {
  out[0] = static_cast<char>(word);
  out[1] = static_cast<char>(word >> 8);
  out[2] = static_cast<char>(word >> 16);
}

inline uint64_t LoadBigEndian64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

#if ZENTRAK_BASE64_X86
// Twelve bytes become sixteen characters per step, with byte shuffles standing in for the tables:
// the four 6-bit values of each group are moved into the four bytes of a 32-bit lane, then each
// value is turned into its character by adding the offset of its range of the alphabet. Returns
// the number of bytes consumed, a multiple of 12; stops 4 bytes short of the end of the input
// because every step loads 16.
__attribute__((target("ssse3"))) size_t EncodeSsse3(const unsigned char* in, size_t n, char* out) {
  const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m128i high_mask = _mm_set1_epi32(0x0FC0FC00);
  const __m128i high_shift = _mm_set1_epi32(0x04000040);
  const __m128i low_mask = _mm_set1_epi32(0x003F03F0);
  const __m128i low_shift = _mm_set1_epi32(0x01000010);
  // Offsets by range: index 0 for 26..51, 1..10 for 52..61, 11 for 62, 12 for 63, 13 for 0..25.
  const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62,
                                        '/' - 63, 'A', 0, 0);
  size_t i = 0;
  for (; i + 16 <= n; i += 12, out += 16) {
    __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), spread);
    const __m128i values = _mm_or_si128(_mm_mulhi_epu16(_mm_and_si128(v, high_mask), high_shift),
                                        _mm_mullo_epi16(_mm_and_si128(v, low_mask), low_shift));
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    range = _mm_or_si128(range, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values), _mm_set1_epi8(13)));
    const __m128i chars = _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
  }
  return i;
}

// The same steps on 24 bytes at a time, twelve in each half of a 256-bit register.
__attribute__((target("avx2"))) size_t EncodeAvx2(const unsigned char* in, size_t n, char* out) {
  const __m256i spread = _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1,
                                         10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m256i high_mask = _mm256_set1_epi32(0x0FC0FC00);
  const __m256i high_shift = _mm256_set1_epi32(0x04000040);
  const __m256i low_mask = _mm256_set1_epi32(0x003F03F0);
  const __m256i low_shift = _mm256_set1_epi32(0x01000010);
  const __m256i offsets = _mm256_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A',
      0, 0);
  size_t i = 0;
  for (; i + 28 <= n; i += 24, out += 32) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 12));
    __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    v = _mm256_shuffle_epi8(v, spread);
    const __m256i values = _mm256_or_si256(_mm256_mulhi_epu16(_mm256_and_si256(v, high_mask), high_shift),
                                           _mm256_mullo_epi16(_mm256_and_si256(v, low_mask), low_shift));
    __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    range = _mm256_or_si256(
        range, _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(26), values), _mm256_set1_epi8(13)));
    const __m256i chars = _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
  }
  return i;
}

// Forty-eight bytes become sixty-four characters per step: a byte permutation spreads each group
// over a 32-bit lane as for SSSE3, a multishift picks the four 6-bit fields out of every lane, and
// a second permutation looks the values up in the alphabet.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) size_t EncodeAvx512(const unsigned char* in, size_t n,
                                                                            char* out) {
  const __m512i spread = _mm512_setr_epi32(0x01020001, 0x04050304, 0x07080607, 0x0A0B090A, 0x0D0E0C0D, 0x10110F10,
                                           0x13141213, 0x16171516, 0x191A1819, 0x1C1D1B1C, 0x1F201E1F, 0x22232122,
                                           0x25262425, 0x28292728, 0x2B2C2A2B, 0x2E2F2D2E);
  // Bit offsets of the four fields in each lane: 10, 4, 22 and 16, and 32 more for the second lane.
  const __m512i fields = _mm512_set1_epi64(0x3036242A1016040A);
  const __m512i alphabet = _mm512_loadu_si512(kAlphabet);
  // The zero-masking forms with all lanes selected: GCC 12 warns about the unmasked ones.
  const __mmask64 all = ~__mmask64{0};
  size_t i = 0;
  for (; i + 48 <= n; i += 48, out += 64) {
    const __m512i bytes = _mm512_maskz_loadu_epi8((uint64_t{1} << 48) - 1, in + i);
    const __m512i values = _mm512_maskz_multishift_epi64_epi8(all, fields, _mm512_maskz_permutexvar_epi8(all, spread, bytes));
    _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(all, values, alphabet));
  }
  return i;
}

// Thirty-two characters become twenty-four bytes per step. Values come from nibble tables: two
// lookups flag the characters outside the alphabet, a third gives the offset from character to
// value. A flagged character takes the value 63, and in the fourth position of a group it also
// sets all bits of the group's third byte, as the tables of the plain path do. Returns the
// characters consumed, a multiple of 32; stops while at least 12 remain, because every step
// stores 32 bytes of which 8 belong to the next one.
__attribute__((target("avx2"))) size_t DecodeAvx2(const unsigned char* in, size_t n, char* out) {
  const __m256i lut_lo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                          0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                          0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lut_hi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                          0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                                          0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m256i lut_roll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                            -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x2F);  // also the character "/", the one value with its own offset
  const __m256i gather = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                                          10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  size_t i = 0;
  for (; i + 44 <= n; i += 32, out += 24) {
    const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(src, 4), nibble);
    const __m256i lo = _mm256_shuffle_epi8(lut_lo, _mm256_and_si256(src, nibble));
    const __m256i hi = _mm256_shuffle_epi8(lut_hi, hi_nibbles);
    const __m256i foreign =
        _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_and_si256(lo, hi), _mm256_setzero_si256()), _mm256_set1_epi8(-1));
    const __m256i roll = _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(_mm256_cmpeq_epi8(src, nibble), hi_nibbles));
    const __m256i values = _mm256_and_si256(_mm256_or_si256(_mm256_add_epi8(src, roll), foreign), _mm256_set1_epi8(0x3F));
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    groups = _mm256_or_si256(groups, _mm256_srli_epi32(foreign, 24));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(groups, gather), lanes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
  }
  return i;
}

// 0: tables only, 1: SSSE3, 2: AVX2, 3: AVX2 and AVX-512 VBMI.
int VectorLevel() {
  static const int level = !__builtin_cpu_supports("avx2")    ? (__builtin_cpu_supports("ssse3") ? 1 : 0)
                           : __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") ? 3
                                                                                                        : 2;
  return level;
}
#endif

}  // namespace

namespace base64 {

void EncodeInto(std::string_view bytes, char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
#if ZENTRAK_BASE64_X86
  if (n >= 16 && VectorLevel() > 0) {
    if (VectorLevel() == 3) i = EncodeAvx512(in, n, out);
    if (VectorLevel() >= 2) i += EncodeAvx2(in + i, n - i, out + i / 3 * 4);
    i += EncodeSsse3(in + i, n - i, out + i / 3 * 4);
    out += i / 3 * 4;
  }
#endif
  // Twelve bytes at a time from two overlapping 8-byte loads; the top 48 bits of each load are
  // two groups. Needs 2 bytes of input beyond the last group read, hence the bound.
  for (; i + 14 <= n; i += 12, out += 16) {
    const uint64_t a = LoadBigEndian64(in + i);
    const uint64_t b = LoadBigEndian64(in + i + 6);
    std::memcpy(out + 0, kPairs[(a >> 52) & 0xFFF].data(), 2);
    std::memcpy(out + 2, kPairs[(a >> 40) & 0xFFF].data(), 2);
    std::memcpy(out + 4, kPairs[(a >> 28) & 0xFFF].data(), 2);
    std::memcpy(out + 6, kPairs[(a >> 16) & 0xFFF].data(), 2);
    std::memcpy(out + 8, kPairs[(b >> 52) & 0xFFF].data(), 2);
    std::memcpy(out + 10, kPairs[(b >> 40) & 0xFFF].data(), 2);
    std::memcpy(out + 12, kPairs[(b >> 28) & 0xFFF].data(), 2);
    std::memcpy(out + 14, kPairs[(b >> 16) & 0xFFF].data(), 2);
  }
  for (; i + 3 <= n; i += 3, out += 4) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(out, kPairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[v & 0xFFF].data(), 2);
  }
  if (n - i == 1) {
    out[0] = kAlphabet[in[i] >> 2];
    out[1] = kAlphabet[(in[i] & 0x03) << 4];
    out[2] = '=';
    out[3] = '=';
  } else if (n - i == 2) {
    out[0] = kAlphabet[in[i] >> 2];
    out[1] = kAlphabet[((in[i] & 0x03) << 4) | (in[i + 1] >> 4)];
    out[2] = kAlphabet[(in[i + 1] & 0x0F) << 2];
    out[3] = '=';
  }
}

size_t DataLength(std::string_view text) {
  size_t length = text.size();
  if (length > 0 && text[length - 1] == '=') --length;
  if (length > 0 && text[length - 1] == '=') --length;
  return length;
}

void DecodeDataInto(std::string_view data, char* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(data.data());
  size_t groups = data.size() / 4;
#if ZENTRAK_BASE64_X86
  if (data.size() >= 44 && VectorLevel() >= 2) {
    const size_t done = DecodeAvx2(s, data.size(), out);
    s += done;
    out += done / 4 * 3;
    groups -= done / 4;
  }
#endif
  size_t g = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Two groups per step, stored as one 8-byte word of which six bytes count; the two extra
    // bytes land where the next step writes, so the last two groups go the slow way.
    for (; g + 3 <= groups; g += 2, s += 8, out += 6) {
      const uint64_t word = DecodeGroup(s) | (uint64_t{DecodeGroup(s + 4)} << 24);
      std::memcpy(out, &word, 8);
    }
  }
  for (; g < groups; ++g, s += 4, out += 3) PutGroupBytes(DecodeGroup(s), out);
  const size_t rest = data.size() % 4;
  if (rest >= 2) {
    const uint32_t word = kDecode[0][s[0]] | kDecode[1][s[1]] | (rest == 3 ? kDecode[2][s[2]] : 0);
    out[0] = static_cast<char>(word);
    if (rest == 3) out[1] = static_cast<char>(word >> 8);
  }
}

}  // namespace base64

std::string EncodeBase64(std::string_view bytes) {
  std::string text(base64::EncodedSize(bytes.size()), '\0');
  base64::EncodeInto(bytes, text.data());
  return text;
}

std::string DecodeBase64(std::string_view text) {
  const std::string_view data = text.substr(0, base64::DataLength(text));
  std::string bytes(base64::DecodedSize(data.size()), '\0');
  base64::DecodeDataInto(data, bytes.data());
  return bytes;
}

}  // namespace zentrak
