// Base64: the standard vectors, the decoder's fixed results for text that is not canonical, and
// the table-driven paths checked against a plain transcription of the decoding rule.
#include "codec/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zentrak {
namespace {

using namespace std::string_literals;

// The decoding rule written out the long way: character values with -1, group arithmetic on ints.
std::string ReferenceDecode(std::string_view text) {
  static const std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t length = text.size();
  if (length > 0 && text[length - 1] == '=') --length;
  if (length > 0 && text[length - 1] == '=') --length;
  auto value = [&](size_t i) {
    size_t at = kAlphabet.find(text[i]);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
  };
  std::string out;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    int c1 = value(i), c2 = value(i + 1), c3 = value(i + 2), c4 = value(i + 3);
    out += static_cast<char>(((c1 << 2) & 0xFC) | ((c2 >> 4) & 0x03));
    out += static_cast<char>(((c2 << 4) & 0xF0) | ((c3 >> 2) & 0x0F));
    out += static_cast<char>(((c3 << 6) & 0xC0) | c4);
  }
  if (length - i >= 2) out += static_cast<char>(((value(i) << 2) & 0xFC) | ((value(i + 1) >> 4) & 0x03));
  if (length - i == 3) out += static_cast<char>(((value(i + 1) << 4) & 0xF0) | ((value(i + 2) >> 2) & 0x0F));
  return out;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(Base64Standard, Rfc4648Section10Vectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(EncodeBase64(bytes), text);
    EXPECT_EQ(DecodeBase64(text), bytes) << text;
  }
}

TEST(Base64Standard, EveryByteValueAndAlphabetEnds) {
  EXPECT_EQ(EncodeBase64("\x00\x00\x00"s), "AAAA");
  EXPECT_EQ(EncodeBase64("\xFF\xFF\xFF"), "////");
  EXPECT_EQ(EncodeBase64("\xFB\xEF\xBE"), "++++");
  EXPECT_EQ(EncodeBase64("\xFF"), "/w==");
  EXPECT_EQ(EncodeBase64("\xFF\xFF"), "//8=");
}

TEST(Base64RoundTrip, EncodeThenDecodeAndLengths) {
  // Lengths around the 12-byte fast path and its tail.
  for (size_t n = 0; n < 80; ++n) {
    const std::string bytes = RandomBytes(n, static_cast<uint32_t>(n));
    const std::string text = EncodeBase64(bytes);
    EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(DecodeBase64(text), bytes) << n;
    EXPECT_EQ(EncodeBase64(DecodeBase64(text)), text) << n;
  }
  const std::string big = RandomBytes(1 << 20, 7);
  EXPECT_EQ(DecodeBase64(EncodeBase64(big)), big);
}

TEST(Base64NonCanonical, FixedResults) {
  const std::pair<std::string, std::string> cases[] = {
      {"QQ==", "A"},                       // canonical
      {"QQ", "A"},                         // padding removed
      {"QUI", "AB"},                       // padding removed
      {"QQ===", "A\x0F"},                  // third "=" is a character of value -1
      {"QUI====", "AB\xFF"},               // "=" in the fourth position: third byte 0xFF
      {"QUJD====", "ABC\xFF"},             // two groups' worth less two: "==" left as characters
      {"QUJD\r\nREVG", "ABC\xFF\xF4\x44T"},  // CR and LF each take a position
      {"Zm9v\nYmFy", "foo\xFD\x89\x85"},   // the break shifts every later character
      {"QUJDR", "ABC"},                    // length 5: the fifth character is lost
      {"QUJ*", "AB\xFF"},                  // foreign character fourth
      {"*AAA", "\xFC\x00\x00"s},           // foreign character first acts as 63
      {"QQ=A", "A\x0F\xC0"},               // an inner "=" is an ordinary character
      {"Zg= =", "f\x0F\xFF"},              // space and "=" both -1
      {"=", ""}, {"==", ""}, {"===", ""}, {"A", ""}, {"", ""},
  };
  for (const auto& [text, bytes] : cases) {
    EXPECT_EQ(DecodeBase64(text), bytes) << text;
    EXPECT_EQ(ReferenceDecode(text), bytes) << text;
  }
}

TEST(Base64NonCanonical, EveryCharacterInEveryPositionMatchesTheRule) {
  for (int position = 0; position < 4; ++position) {
    for (int c = 0; c < 256; ++c) {
      std::string text = "QUJDZm9v";
      text[position + 4] = static_cast<char>(c);
      if (c == '=' && position == 3) text += "Zg";  // keep the "=" from being taken as padding
      ASSERT_EQ(DecodeBase64(text), ReferenceDecode(text)) << position << " " << c;
    }
  }
}

TEST(Base64NonCanonical, RandomTextsMatchTheRule) {
  // Mostly alphabet characters with some foreign ones, every length up to 100 and some long ones.
  std::mt19937 random(42);
  const std::string pool = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/==\r\n \t\x80\xFF";
  for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 17, 31, 64, 99, 100, 4097, 65539}) {
    for (int round = 0; round < 8; ++round) {
      std::string text(n, '\0');
      for (char& ch : text) ch = pool[random() % pool.size()];
      ASSERT_EQ(DecodeBase64(text), ReferenceDecode(text)) << n;
    }
  }
}

TEST(Base64NonCanonical, LongTextsWithEveryCharacterMatchTheRule) {
  // Long enough for the vector path: every byte value at every offset of a 32-character step.
  std::string base = EncodeBase64(RandomBytes(3000, 5));
  for (int c = 0; c < 256; ++c) {
    std::string text = base;
    for (size_t at = static_cast<size_t>(c) % 37; at < text.size() - 8; at += 37) text[at] = static_cast<char>(c);
    ASSERT_EQ(DecodeBase64(text), ReferenceDecode(text)) << c;
  }
  std::string all;
  for (int round = 0; round < 5; ++round) {
    for (int c = 0; c < 256; ++c) all += static_cast<char>((c * 7 + round) & 0xFF);
  }
  for (size_t cut = 0; cut < 40; ++cut) ASSERT_EQ(DecodeBase64(all.substr(cut)), ReferenceDecode(all.substr(cut))) << cut;
}

TEST(Base64Blocks, PiecesJoinToTheWholeText) {
  const std::string bytes = RandomBytes(1000, 3);
  std::string text(base64::EncodedSize(bytes.size()), '\0');
  base64::EncodeInto(std::string_view(bytes).substr(0, 300), text.data());
  base64::EncodeInto(std::string_view(bytes).substr(300), text.data() + 400);
  EXPECT_EQ(text, EncodeBase64(bytes));

  const std::string messy = "QUJD\r\nREVG" + text + "===";
  const std::string_view data(messy.data(), base64::DataLength(messy));
  std::string decoded(base64::DecodedSize(data.size()), '\0');
  base64::DecodeDataInto(data.substr(0, 400), decoded.data());
  base64::DecodeDataInto(data.substr(400), decoded.data() + 300);
  EXPECT_EQ(decoded, DecodeBase64(messy));
}

}  // namespace
}  // namespace zentrak
