// The zip subset and the compressed-text codec: the writer's archive byte by byte, round trips,
// every entry of the legacy sample archives, and what the reader does with damaged and hostile
// archives, each error text exactly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codec/compressed_text.h"
#include "codec/zip.h"

namespace zentrak {
namespace {

using namespace std::string_literals;

const std::string kSamples = ZENTRAK_TESTDATA "/zip-legacy/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

uint16_t U16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}
uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | (uint32_t{U16(s, at + 2)} << 16); }
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, static_cast<uint16_t>(v & 0xFFFF));
  Put16(s, at + 2, static_cast<uint16_t>(v >> 16));
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Raw deflate with the writer's settings, or any level.
std::string RawDeflate(std::string_view data, int level = 6) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// An entry of a hand-made archive; sizes and CRC default to the truth.
struct RawEntry {
  std::string name;
  uint16_t method;
  std::string data;  // as stored in the archive
  uint32_t crc;
  uint32_t uncompressed_size;
  uint16_t flags = 0;
  uint32_t compressed_size = 0xFFFFFFFF;  // the data's length unless set
};

RawEntry Stored(const std::string& name, const std::string& content) {
  return {name, 0, content, Crc(content), static_cast<uint32_t>(content.size())};
}
RawEntry Deflated(const std::string& name, const std::string& content) {
  return {name, 8, RawDeflate(content), Crc(content), static_cast<uint32_t>(content.size())};
}

std::string BuildArchive(const std::vector<RawEntry>& entries, const std::string& comment = "") {
  std::string archive, directory;
  auto field16 = [](std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  auto field32 = [&](std::string& s, uint32_t v) {
    field16(s, static_cast<uint16_t>(v & 0xFFFF));
    field16(s, static_cast<uint16_t>(v >> 16));
  };
  for (const RawEntry& e : entries) {
    const uint32_t offset = static_cast<uint32_t>(archive.size());
    const uint32_t csize = e.compressed_size == 0xFFFFFFFF ? static_cast<uint32_t>(e.data.size()) : e.compressed_size;
    archive += "PK\x03\x04";
    for (uint16_t v : {uint16_t{20}, e.flags, e.method, uint16_t{0}, uint16_t{0x21}}) field16(archive, v);
    field32(archive, e.crc);
    field32(archive, csize);
    field32(archive, e.uncompressed_size);
    field16(archive, static_cast<uint16_t>(e.name.size()));
    field16(archive, 0);
    archive += e.name + e.data;
    directory += "PK\x01\x02";
    for (uint16_t v : {uint16_t{20}, uint16_t{20}, e.flags, e.method, uint16_t{0}, uint16_t{0x21}}) field16(directory, v);
    field32(directory, e.crc);
    field32(directory, csize);
    field32(directory, e.uncompressed_size);
    field16(directory, static_cast<uint16_t>(e.name.size()));
    for (int i = 0; i < 4; ++i) field16(directory, 0);
    field32(directory, 0x20);
    field32(directory, offset);
    directory += e.name;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(archive.size());
  archive += directory;
  archive += "PK\x05\x06"s + "\0\0\0\0"s;
  field16(archive, static_cast<uint16_t>(entries.size()));
  field16(archive, static_cast<uint16_t>(entries.size()));
  field32(archive, static_cast<uint32_t>(directory.size()));
  field32(archive, directory_offset);
  field16(archive, static_cast<uint16_t>(comment.size()));
  return archive + comment;
}

struct Extracted {
  int count;
  std::string bytes;
};
Extracted Extract(const std::string& archive_bytes, std::string_view name) {
  TMemoryStream archive(archive_bytes), output;
  TZipReader reader;
  reader.SetArchiveStream(&archive);
  const int count = reader.extractToStream(output, name);
  return {count, output.Bytes()};
}

// The message text of what decompressText throws, or "" when it does not.
std::string DecompressError(const std::string& archive) {
  try {
    decompressText(archive);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

struct DosStamp {
  uint16_t time, date;
  bool operator==(const DosStamp&) const = default;
};
DosStamp DosNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* t = std::localtime(&now);
  return {static_cast<uint16_t>((t->tm_hour << 11) | (t->tm_min << 5) | (t->tm_sec / 2)),
          static_cast<uint16_t>(((t->tm_year - 80) << 9) | ((t->tm_mon + 1) << 5) | t->tm_mday)};
}

TEST(ZipWriter, EmptyInputGivesThe106ByteArchiveFieldByField) {
  const DosStamp before = DosNow();
  const std::string a = compressText("");
  const DosStamp after = DosNow();
  ASSERT_EQ(a.size(), 106u);
  // Local file header.
  EXPECT_EQ(U32(a, 0), 0x04034B50u);
  EXPECT_EQ(U16(a, 4), 20);
  EXPECT_EQ(U16(a, 6), 0);
  EXPECT_EQ(U16(a, 8), 8);
  const DosStamp stamp{U16(a, 10), U16(a, 12)};
  EXPECT_TRUE(stamp == before || stamp == after);
  EXPECT_EQ(U32(a, 14), 0u);  // CRC-32 of nothing
  EXPECT_EQ(U32(a, 18), 2u);
  EXPECT_EQ(U32(a, 22), 0u);
  EXPECT_EQ(U16(a, 26), 3);
  EXPECT_EQ(U16(a, 28), 0);
  EXPECT_EQ(a.substr(30, 3), "PDF");
  EXPECT_EQ(a.substr(33, 2), "\x03\x00"s);  // the empty final deflate block
  // Central directory header.
  const std::string cd = a.substr(35, 49);
  const std::pair<size_t, uint32_t> cd32[] = {{0, 0x02014B50}, {16, 0}, {20, 2}, {24, 0}, {38, 0x20}, {42, 0}};
  for (auto [at, value] : cd32) EXPECT_EQ(U32(cd, at), value) << at;
  const std::pair<size_t, uint16_t> cd16[] = {{4, 45}, {6, 20}, {8, 0}, {10, 8}, {12, stamp.time}, {14, stamp.date},
                                              {28, 3}, {30, 0}, {32, 0}, {34, 0}, {36, 0}};
  for (auto [at, value] : cd16) EXPECT_EQ(U16(cd, at), value) << at;
  EXPECT_EQ(cd.substr(46), "PDF");
  // End of central directory record.
  const std::string end = a.substr(84);
  EXPECT_EQ(U32(end, 0), 0x06054B50u);
  const std::pair<size_t, uint16_t> end16[] = {{4, 0}, {6, 0}, {8, 1}, {10, 1}, {20, 0}};
  for (auto [at, value] : end16) EXPECT_EQ(U16(end, at), value) << at;
  EXPECT_EQ(U32(end, 12), 49u);
  EXPECT_EQ(U32(end, 16), 35u);
}

TEST(ZipWriter, DataIsZlibRawDeflateAtLevel6AndTheLayoutFollows) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 997) + " of the document\r\n";
  const std::string a = compressText(text);
  const std::string deflated = RawDeflate(text);
  ASSERT_EQ(a.size(), 104 + deflated.size());
  EXPECT_EQ(a.substr(33, deflated.size()), deflated);
  EXPECT_EQ(U32(a, 14), Crc(text));
  EXPECT_EQ(U32(a, 18), deflated.size());
  EXPECT_EQ(U32(a, 22), text.size());
  const size_t cd = 33 + deflated.size();
  EXPECT_EQ(U32(a, cd), 0x02014B50u);
  EXPECT_EQ(a.substr(cd + 16, 12), a.substr(14, 12));  // CRC and sizes as in the local header
  EXPECT_EQ(U32(a, cd + 49 + 16), cd);
}

TEST(ZipWriter, SameInputGivesSameArchiveApartFromTimeAndDate) {
  const std::string text = RandomBytes(5000, 9);
  std::string a = compressText(text), b = compressText(text);
  ASSERT_EQ(a.size(), b.size());
  const size_t cd = a.size() - 22 - 49;
  for (std::string* s : {&a, &b}) {
    Put32(*s, 10, 0);
    Put32(*s, cd + 12, 0);
  }
  EXPECT_EQ(a, b);
}

TEST(ZipWriter, NamesAndFurtherEntries) {
  TMemoryStream archive, first(std::string("one")), second(std::string("second entry"));
  TZipWriter writer;
  writer.SetArchiveStream(&archive);
  writer.addStreamEntry(first, "docs\\a.txt");
  writer.addStreamEntry(second, "B");
  const std::string& bytes = archive.Bytes();
  EXPECT_EQ(bytes.substr(30, 10), "docs/a.txt");  // stored with "/"
  EXPECT_EQ(U16(bytes, bytes.size() - 12), 2);    // total entries
  EXPECT_EQ(Extract(bytes, "DOCS\\A.TXT").bytes, "one");
  EXPECT_EQ(Extract(bytes, "b").bytes, "second entry");
  TZipReader reader;
  reader.SetArchiveStream(&archive);
  ASSERT_EQ(reader.ReadDirectory().size(), 2u);
  EXPECT_EQ(reader.ReadDirectory()[0].name, "docs\\a.txt");
}

TEST(CompressedText, RoundTrips) {
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes += static_cast<char>(i);
  const std::string cases[] = {
      "", "x", all_bytes, RandomBytes(1 << 20, 1), std::string(1 << 20, 'a'), RandomBytes(65535 * 2 + 1, 2),
  };
  for (const std::string& bytes : cases) {
    const std::string archive = compressText(bytes);
    EXPECT_EQ(decompressText(archive), bytes) << bytes.size();
    EXPECT_EQ(Extract(archive, "PDF").count, 1);
  }
  // Incompressible input: the deflate data is a little longer than the input.
  const std::string random = RandomBytes(100000, 3);
  EXPECT_GT(compressText(random).size(), 104 + random.size());
}

TEST(ZipReader, SelectionByNameAndMethod) {
  const std::string stored = BuildArchive({Stored("PDF", "stored bytes")});
  EXPECT_EQ(decompressText(stored), "stored bytes");
  EXPECT_EQ(decompressText(BuildArchive({Deflated("pdf", "lower case")})), "lower case");
  EXPECT_EQ(decompressText(BuildArchive({Deflated("Pdf", "mixed case")})), "mixed case");
  EXPECT_EQ(decompressText(BuildArchive({Stored("PDF.txt", "x"), Stored("a/PDF", "y")})), "");
  EXPECT_EQ(decompressText(BuildArchive({Stored("other", "x")})), "");
  EXPECT_EQ(decompressText(""), "");
  // Several entries named PDF: each is written from the start of the output; the last stays.
  const Extracted twice = Extract(BuildArchive({Stored("PDF", "the longer first one"), Deflated("pdf", "2nd")}), "PDF");
  EXPECT_EQ(twice.count, 2);
  EXPECT_EQ(twice.bytes, "2nd");
  // A comment after the end record, and an end record inside the comment: the last one wins.
  EXPECT_EQ(decompressText(BuildArchive({Stored("PDF", "commented")}, "a comment")), "commented");
  std::string nested = BuildArchive({Stored("PDF", "first"), Stored("PDF", "second")});
  const size_t end = nested.size() - 22;
  Put16(nested, end + 8, 1);  // the early record lists the first entry only
  Put16(nested, end + 10, 1);
  Put16(nested, end + 20, 22);
  std::string late = nested.substr(end, 22);
  Put32(late, 16, U32(late, 16) + 46 + 3);  // the late one the second only
  Put16(late, 20, 0);
  nested += late;
  EXPECT_EQ(decompressText(nested), "second");
  EXPECT_EQ(decompressText(nested.substr(0, nested.size() - 22)), "first");
}

TEST(ZipReader, NamePatterns) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"pdf", "pdf", true},          {"pdf", "pdf2", false},      {"pdf", "pd", false},
      {"p?f", "pdf", true},          {"p?f", "pf", false},        {"*", "", true},
      {"*", "exe\\test.exe", true},  {"*.txt", "a.b.txt", true},  {"*.txt", "a.txt.gz", false},
      {"a*b*c", "aXbYbZc", true},    {"a*b*c", "aXcYb", false},   {"<.txt", "name.txt", true},
      {"<", "name", true},           {"<", "name.txt", false},    {"<.txt", "a.b.txt", true},
      {"<txt", "a.txt", false},      {"", "", true},              {"", "a", false},
  };
  for (const auto& [pattern, name, expected] : cases) EXPECT_EQ(ZipNameMatches(pattern, name), expected) << pattern << " " << name;
  const std::string archive = BuildArchive({Stored("one.TXT", "1"), Stored("two.txt", "2"), Stored("x.bin", "3")});
  EXPECT_EQ(Extract(archive, "*.txt").count, 2);
  EXPECT_EQ(Extract(archive, "*.txt").bytes, "2");
  EXPECT_EQ(Extract(archive, "?.BIN").bytes, "3");
}

TEST(ZipReader, ErrorTexts) {
  const std::string good = compressText("some text to pack, some text to pack");
  for (size_t n : {1, 10, 21}) EXPECT_EQ(DecompressError(RandomBytes(n, static_cast<uint32_t>(n))), "Incomplete Zip File") << n;
  EXPECT_EQ(DecompressError(std::string(22, 'x')), "Incomplete Zip File");
  EXPECT_EQ(DecompressError(good.substr(0, good.size() - 1)), "Incomplete Zip File");
  EXPECT_EQ(DecompressError(good.substr(0, 40)), "Incomplete Zip File");
  // The end record is found up to 65,557 bytes before the end, not one byte further.
  EXPECT_EQ(DecompressError(good + std::string(65535, ' ')), "");
  EXPECT_EQ(DecompressError(good + std::string(65536, ' ')), "Incomplete Zip File");

  // Central directory unreadable: rebuilt from the local headers, else not a valid zip file.
  std::string bad_directory = good;
  const size_t cd = good.size() - 22 - 49;
  bad_directory[cd] = 'X';
  EXPECT_EQ(decompressText(bad_directory), "some text to pack, some text to pack");
  std::string bad_offset = good;
  Put32(bad_offset, good.size() - 6, 0xFFFFFF00);
  EXPECT_EQ(decompressText(bad_offset), "some text to pack, some text to pack");
  std::string no_headers = bad_directory;
  no_headers[0] = 'X';
  EXPECT_EQ(DecompressError(no_headers), "Not a valid zip file!");

  // Damaged or cut-off deflate data.
  std::string damaged = good;
  damaged[33] = '\xFF';  // reserved block type 3
  EXPECT_EQ(DecompressError(damaged), "error");
  const std::string deflated = RawDeflate("abcdefghij abcdefghij abcdefghij 0123456789");
  RawEntry cut = Deflated("PDF", "abcdefghij abcdefghij abcdefghij 0123456789");
  cut.data = deflated.substr(0, deflated.size() / 2);
  EXPECT_EQ(DecompressError(BuildArchive({cut})), "error");

  // A stored entry whose data runs past the end of the archive.
  RawEntry short_stored = Stored("PDF", "0123456789");
  short_stored.compressed_size = 5000;
  short_stored.uncompressed_size = 5000;
  EXPECT_EQ(DecompressError(BuildArchive({short_stored})), "Premature end of file reached");
}

TEST(ZipReader, DamagedEntriesNeverYieldMoreThanDeclared) {
  const std::string text = "0123456789abcdefghij";
  // Wrong CRC: no error, the bytes are returned, but the entry does not count.
  RawEntry wrong_crc = Deflated("PDF", text);
  wrong_crc.crc ^= 1;
  const std::string archive = BuildArchive({wrong_crc});
  EXPECT_EQ(decompressText(archive), text);
  EXPECT_EQ(Extract(archive, "PDF").count, 0);
  // Declared size smaller than the data: the output stops at the declared size.
  for (RawEntry e : {Stored("PDF", text), Deflated("PDF", text)}) {
    e.uncompressed_size = 7;
    EXPECT_EQ(decompressText(BuildArchive({e})), "0123456") << e.method;
  }
  // Declared size larger: only what was decoded, and the CRC still counts.
  RawEntry larger = Deflated("PDF", text);
  larger.uncompressed_size = 1000000;
  EXPECT_EQ(Extract(BuildArchive({larger}), "PDF").bytes, text);
  EXPECT_EQ(Extract(BuildArchive({larger}), "PDF").count, 1);
  // A deflate bomb declaring 100 bytes: 16 MiB of zeros are never produced.
  RawEntry bomb{"PDF", 8, RawDeflate(std::string(16 << 20, '\0'), 9), 0, 100};
  EXPECT_LT(bomb.data.size(), 100000u);
  EXPECT_EQ(decompressText(BuildArchive({bomb})), std::string(100, '\0'));
  // Encrypted entries are skipped.
  RawEntry encrypted = Stored("PDF", text);
  encrypted.flags = 1;
  EXPECT_EQ(decompressText(BuildArchive({encrypted})), "");
  EXPECT_EQ(decompressText(BuildArchive({Stored("PDF", "plain"), encrypted})), "plain");
}

std::vector<std::pair<std::string, std::string>> messages;
void RecordMessage(const std::string& text, const std::string& caption) { messages.emplace_back(text, caption); }

TEST(ZipReader, UnknownMethodIsShownAndYieldsNothing) {
  RawEntry unknown = Stored("PDF", "bytes");
  unknown.method = 99;
  const std::string archive = BuildArchive({unknown});
  messages.clear();
  SetZipMessageSink(RecordMessage);
  EXPECT_EQ(decompressText(archive), "");
  EXPECT_EQ(decompressText(BuildArchive({Stored("PDF", "earlier"), unknown})), "");
  SetZipMessageSink(nullptr);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], std::make_pair("Unknown Compression Method"s, "Zip Error"s));
  testing::internal::CaptureStderr();
  EXPECT_EQ(decompressText(archive), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Zip Error: Unknown Compression Method\n");
}

// Every entry of the sample archives, by the name it is stored under.
TEST(ZipLegacyMethods, SampleArchives) {
  std::string cyrillic_crlf;
  for (char c : ReadFile(kSamples + "sharpcompress-original-test-cyrillic.txt")) {
    if (c == '\n') cyrillic_crlf += '\r';
    cyrillic_crlf += c;
  }
  const std::string exe = ReadFile(kSamples + "sharpcompress-original-test.exe");
  const std::string jpg = ReadFile(kSamples + "sharpcompress-original-test.jpg");
  const std::string first = ReadFile(kSamples + "zip2-first.txt");
  struct Case {
    std::string archive, entry;
    const std::string& original;
    uint32_t size, crc;
  };
  const Case cases[] = {
      {"sharpcompress-Zip.shrink.zip", "TECT.TXT", cyrillic_crlf, 15498, 0x9bd160fa},
      {"sharpcompress-Zip.shrink.zip", "TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.shrink.zip", "TEST.JPG", jpg, 40372, 0x088814e3},
      {"sharpcompress-Zip.reduce1.zip", "TECT.TXT", cyrillic_crlf, 15498, 0x9bd160fa},
      {"sharpcompress-Zip.reduce1.zip", "TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.reduce1.zip", "TEST.JPG", jpg, 40372, 0x088814e3},
      {"sharpcompress-Zip.reduce2.zip", "TECT.TXT", cyrillic_crlf, 15498, 0x9bd160fa},
      {"sharpcompress-Zip.reduce2.zip", "TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.reduce2.zip", "TEST.JPG", jpg, 40372, 0x088814e3},
      {"sharpcompress-Zip.reduce3.zip", "TECT.TXT", cyrillic_crlf, 15498, 0x9bd160fa},
      {"sharpcompress-Zip.reduce3.zip", "TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.reduce3.zip", "TEST.JPG", jpg, 40372, 0x088814e3},
      {"sharpcompress-Zip.reduce4.zip", "TECT.TXT", cyrillic_crlf, 15498, 0x9bd160fa},
      {"sharpcompress-Zip.reduce4.zip", "TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.reduce4.zip", "TEST.JPG", jpg, 40372, 0x088814e3},
      {"sharpcompress-Zip.implode.zip", "EXE\\TEST.EXE", exe, 45056, 0xcfb109c8},
      {"sharpcompress-Zip.implode.zip", "JPG\\TEST.JPG", jpg, 40372, 0x088814e3},
      // "тест.txt" in code page 866, as stored; names are compared as bytes.
      {"sharpcompress-Zip.implode.zip", "\xE2\xA5\xE1\xE2.txt", cyrillic_crlf, 15498, 0x9bd160fa},
      {"zip2-shrink.zip", "FIRST.TXT", first, 1092, 0x22957a6e},
      {"zip2-reduce.zip", "first.txt", first, 1092, 0x22957a6e},
      {"zip2-implode.zip", "first.txt", first, 1092, 0x22957a6e},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive + " " + c.entry);
    const Extracted got = Extract(ReadFile(kSamples + c.archive), c.entry);
    EXPECT_EQ(got.count, 1);
    EXPECT_EQ(got.bytes.size(), c.size);
    EXPECT_EQ(Crc(got.bytes), c.crc);
    EXPECT_TRUE(got.bytes == c.original);
  }
}

TEST(ZipLegacyMethods, DamagedLegacyDataEndsQuietly) {
  // Every sample archive cut inside its first entry's data, and with its data bytes flipped:
  // no throw, never more than the declared size, and the entry does not count.
  for (const char* name : {"zip2-shrink.zip", "zip2-reduce.zip", "zip2-implode.zip"}) {
    const std::string original = ReadFile(kSamples + name);
    TMemoryStream probe(original);
    TZipReader reader;
    reader.SetArchiveStream(&probe);
    const TZipHeaderInfo entry = reader.ReadDirectory().at(0);
    const size_t data = 30 + entry.name.size();
    std::string flipped = original;
    for (size_t i = data + 40; i < data + entry.compressed_size; i += 7) flipped[i] = static_cast<char>(~flipped[i]);
    std::string cut = original;
    Put32(cut, original.size() - 22 - 46 - entry.name.size() + 20, entry.compressed_size / 2);
    for (const std::string& archive : {flipped, cut}) {
      const Extracted got = Extract(archive, entry.name);
      EXPECT_EQ(got.count, 0) << name;
      EXPECT_LE(got.bytes.size(), entry.uncompressed_size) << name;
    }
  }
}

}  // namespace
}  // namespace zentrak
