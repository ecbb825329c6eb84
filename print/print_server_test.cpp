// PrintServer: the compressed-text codec for script.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/exception_testing.h"
#include "base/testing/scoped.h"
#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "platform/codepage.h"
#include "print/print_server.h"

namespace zentrak {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CompressedText, RoundTripsTextTheCodePageHolds) {
  TPrintServer ps;
  const std::u16string texts[] = {u"", u"a", u"hello hello hello hello", u"\u4E2D\u6587 text", std::u16string(100000, u'x')};
  for (const auto& t : texts) {
    Variant packed, unpacked;
    ps.compress(Variant(t), packed);
    ASSERT_EQ(packed.Type(), VarType::OleStr);
    ps.deCompress(packed, unpacked);
    EXPECT_EQ(unpacked.WideText(), t);
  }
  Variant empty;
  ps.compress(Variant(u""), empty);
  EXPECT_EQ(DecodeBase64(platform::WideToAnsi(empty.WideText())).size(), 106u);
}

TEST(CompressedText, Failures) {
  TPrintServer ps;
  Variant out;
  EXPECT_EQ(RaisedMessage([&] { ps.deCompress(Variant(platform::AnsiToWide(EncodeBase64("0123456789"))), out); }),
            "Incomplete Zip File");
  EXPECT_EQ(RaisedMessage([&] { ps.compress(Variant::Null(), out); }),
            "Could not convert variant of type (Null) into type (String)");
  ps.deCompress(Variant(u""), out);  // no bytes: empty result
  EXPECT_EQ(out.WideText(), u"");
}

uint32_t Le(const std::string& z, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(z[at + static_cast<size_t>(i)]);
  return v;
}
void PutLe(std::string& z, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) z[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A one-entry archive holding entry `index` of zip (found through its central directory), with
// the entry renamed "PDF" and everything else about it kept: method, flags, sizes, CRC.
std::string OnlyEntryAsPdf(const std::string& zip, int index) {
  size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  size_t cd = Le(zip, end + 16, 4);
  for (int i = 0; i < index; ++i) cd += 46 + Le(zip, cd + 28, 2) + Le(zip, cd + 30, 2) + Le(zip, cd + 32, 2);
  size_t local = Le(zip, cd + 42, 4);
  size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
  uint32_t csize = Le(zip, cd + 20, 4);
  std::string head = zip.substr(local, 30);
  PutLe(head, 26, 3, 2);
  PutLe(head, 28, 0, 2);
  std::string out = head + "PDF" + zip.substr(data, csize);
  std::string central = zip.substr(cd, 46);
  PutLe(central, 28, 3, 2);
  PutLe(central, 30, 0, 2);
  PutLe(central, 32, 0, 2);
  PutLe(central, 42, 0, 4);
  size_t cd_offset = out.size();
  out += central + "PDF";
  std::string tail = zip.substr(end, 22);
  PutLe(tail, 8, 1, 2);
  PutLe(tail, 10, 1, 2);
  PutLe(tail, 12, 49, 4);
  PutLe(tail, 16, static_cast<uint32_t>(cd_offset), 4);
  PutLe(tail, 20, 0, 2);
  return out + tail;
}

// Every entry of the legacy samples (shrunk, reduced, imploded), renamed "PDF", unpacks to the
// original file's bytes; the text entries also come back through deCompress as text.
TEST(CompressedText, LegacySamplesUnpackAsPdf) {
  const std::string dir = std::string(ZENTRAK_TESTDATA) + "/zip-legacy/";
  std::string cyrillic = ReadFile(dir + "sharpcompress-original-test-cyrillic.txt");
  std::string crlf;
  for (char c : cyrillic) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const std::string exe = ReadFile(dir + "sharpcompress-original-test.exe");
  const std::string jpg = ReadFile(dir + "sharpcompress-original-test.jpg");
  const std::string first = ReadFile(dir + "zip2-first.txt");
  struct Case {
    const char* archive;
    int entry;
    const std::string* original;
  } cases[] = {
      {"zip2-shrink.zip", 0, &first},
      {"zip2-reduce.zip", 0, &first},
      {"zip2-implode.zip", 0, &first},
      {"sharpcompress-Zip.shrink.zip", 0, &crlf},
      {"sharpcompress-Zip.shrink.zip", 1, &exe},
      {"sharpcompress-Zip.shrink.zip", 2, &jpg},
      {"sharpcompress-Zip.reduce1.zip", 1, &exe},
      {"sharpcompress-Zip.reduce2.zip", 1, &exe},
      {"sharpcompress-Zip.reduce3.zip", 1, &exe},
      {"sharpcompress-Zip.reduce4.zip", 1, &exe},
      {"sharpcompress-Zip.reduce4.zip", 2, &jpg},
      {"sharpcompress-Zip.implode.zip", 0, &exe},
      {"sharpcompress-Zip.implode.zip", 1, &jpg},
      {"sharpcompress-Zip.implode.zip", 2, &crlf},
  };
  for (const auto& c : cases) {
    std::string zip = ReadFile(dir + c.archive);
    ASSERT_FALSE(zip.empty()) << c.archive;
    std::string single = OnlyEntryAsPdf(zip, c.entry);
    EXPECT_EQ(decompressText(single), *c.original) << c.archive << " " << c.entry;
  }
  TPrintServer ps;
  Variant out;
  ps.deCompress(Variant(platform::AnsiToWide(EncodeBase64(OnlyEntryAsPdf(ReadFile(dir + "zip2-implode.zip"), 0)))),
                out);
  EXPECT_EQ(out.WideText(), platform::AnsiToWide(first));
}

// An entry with a method the reader does not know yields no bytes, and the user is told; without a
// display the message goes to standard error.
TEST(CompressedText, UnknownMethodIsShownToTheUser) {
  ScopedEnv display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
  std::string zip = decompressText(std::string());  // empty archive: empty result
  EXPECT_EQ(zip, "");
  TPrintServer ps;
  Variant packed;
  ps.compress(Variant(u"some text"), packed);
  std::string archive = DecodeBase64(platform::WideToAnsi(packed.WideText()));
  archive[8] = 99;   // the local header's method
  archive[30 + 3 + static_cast<size_t>(Le(archive, 18, 4)) + 10] = 99;  // the central header's
  Variant out;
  ::testing::internal::CaptureStderr();
  ps.deCompress(Variant(platform::AnsiToWide(EncodeBase64(archive))), out);
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.WideText(), u"");
  EXPECT_NE(log.find("Zip Error: Unknown Compression Method"), std::string::npos) << log;
}

}  // namespace
}  // namespace zentrak
