// The zip writer and reader over memory streams. All integers in the archive are little-endian.
// Deflate and the CRC-32 are zlib's; the legacy methods are in zip_legacy.cpp.
#include "codec/zip.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

#include "codec/zip_internal.h"

namespace zentrak {
namespace {

using zip_internal::EntryInput;
using zip_internal::EntryOutput;

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
// The end record plus the longest archive comment.
constexpr size_t kEndSearchSize = kEndSize + 65535;
constexpr size_t kDeflateBlock = 65535;

void DefaultMessageSink(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}
ZipMessageSink message_sink = DefaultMessageSink;

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Little-endian fields appended to a header under construction.
class HeaderBytes {
 public:
  HeaderBytes& U16(uint16_t v) {
    bytes_ += static_cast<char>(v & 0xFF);
    bytes_ += static_cast<char>(v >> 8);
    return *this;
  }
  HeaderBytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v & 0xFFFF)).U16(static_cast<uint16_t>(v >> 16)); }
  HeaderBytes& Text(std::string_view text) {
    bytes_ += text;
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::string LocalHeader(const TZipHeaderInfo& e, std::string_view stored_name) {
  HeaderBytes h;
  h.U32(kLocalSignature).U16(e.version_needed).U16(e.flags).U16(e.method).U16(e.mod_time).U16(e.mod_date);
  h.U32(e.crc32).U32(e.compressed_size).U32(e.uncompressed_size);
  h.U16(static_cast<uint16_t>(stored_name.size())).U16(0).Text(stored_name);
  return h.Bytes();
}

std::string CentralHeader(const TZipHeaderInfo& e, std::string_view stored_name) {
  HeaderBytes h;
  h.U32(kCentralSignature).U16(e.version_made_by).U16(e.version_needed).U16(e.flags).U16(e.method);
  h.U16(e.mod_time).U16(e.mod_date).U32(e.crc32).U32(e.compressed_size).U32(e.uncompressed_size);
  h.U16(static_cast<uint16_t>(stored_name.size())).U16(0).U16(0).U16(e.disk_start);
  h.U16(e.internal_attributes).U32(e.external_attributes).U32(e.local_header_offset).Text(stored_name);
  return h.Bytes();
}

std::string EndRecord(const TEndCentral& end) {
  HeaderBytes h;
  h.U32(kEndSignature).U16(end.disk_number).U16(end.directory_disk).U16(end.entries_on_disk);
  h.U16(end.total_entries).U32(end.directory_size).U32(end.directory_offset).U16(end.comment_length);
  return h.Bytes();
}

// The name as the archive stores it ("/" between folders) and as the reader compares it ("\").
// Names are kept as bytes: the system never needs them in another code page.
std::string WithSeparator(std::string_view name, char from, char to) {
  std::string out(name);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// MS-DOS time and date of the current local time: seconds halved, years from 1980.
void SetDosTimeNow(TZipHeaderInfo& e) {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  if (local == nullptr || local->tm_year < 80) {
    e.mod_time = 0;
    e.mod_date = (1 << 5) | 1;  // 1980-01-01
    return;
  }
  e.mod_time = static_cast<uint16_t>((local->tm_hour << 11) | (local->tm_min << 5) | (local->tm_sec / 2));
  e.mod_date = static_cast<uint16_t>(((local->tm_year - 80) << 9) | ((local->tm_mon + 1) << 5) | local->tm_mday);
}

struct DeflateStream {
  z_stream z{};
  bool open = false;
  ~DeflateStream() {
    if (open) deflateEnd(&z);
  }
};

struct InflateStream {
  z_stream z{};
  bool open = false;
  ~InflateStream() {
    if (open) inflateEnd(&z);
  }
};

void CopyStored(EntryInput& input, EntryOutput& output) {
  for (;;) {
    const size_t wanted = input.WantedNextBlock();
    if (wanted == 0) return;
    const std::string_view block = input.NextBlock();
    if (block.size() < wanted) throw EFatalUnzipError();
    output.Write(reinterpret_cast<const uint8_t*>(block.data()), block.size());
  }
}

void Inflate(EntryInput& input, EntryOutput& output) {
  InflateStream stream;
  if (inflateInit2(&stream.z, -MAX_WBITS) != Z_OK) throw EZCompressionError();
  stream.open = true;
  std::vector<uint8_t> out(zip_internal::kBlockSize);
  for (;;) {
    if (stream.z.avail_in == 0) {
      const std::string_view block = input.NextBlock();
      stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
      stream.z.avail_in = static_cast<uInt>(block.size());
    }
    stream.z.next_out = out.data();
    stream.z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream.z, Z_NO_FLUSH);
    // Z_BUF_ERROR too: the data ended before the deflate stream did.
    if (result < 0) throw EZCompressionError();
    output.Write(out.data(), out.size() - stream.z.avail_out);
    if (result == Z_STREAM_END) return;
  }
}

}  // namespace

void SetZipMessageSink(ZipMessageSink sink) { message_sink = sink ? sink : DefaultMessageSink; }

// Matching with one row of a table over the name's positions: row[j] tells whether the pattern so
// far matches the first j characters. Linear in the product of the lengths, whatever the pattern.
bool ZipNameMatches(std::string_view pattern, std::string_view name) {
  const size_t n = name.size();
  const size_t last_dot = name.rfind('.');
  const size_t dos_limit = last_dot == std::string_view::npos ? n : last_dot;
  std::vector<char> row(n + 1, 0), next(n + 1, 0);
  row[0] = 1;
  for (const char p : pattern) {
    std::fill(next.begin(), next.end(), 0);
    if (p == '*' || p == '<') {
      const size_t limit = p == '*' ? n : dos_limit;
      bool reachable = false;
      for (size_t j = 0; j <= n; ++j) {
        reachable = reachable || row[j];
        // A run may start at any matched position and, for "<", end no later than the last dot.
        if (row[j] || (reachable && j <= limit)) next[j] = 1;
      }
    } else {
      for (size_t j = 0; j < n; ++j) {
        if (row[j] && (p == '?' || p == name[j])) next[j + 1] = 1;
      }
    }
    row.swap(next);
  }
  return row[n] != 0;
}

const std::vector<TZipHeaderInfo>& TZipReader::ReadDirectory() {
  entries_.clear();
  end_ = TEndCentral();
  if (archive_ == nullptr || archive_->Size() == 0) return entries_;
  const size_t size = archive_->Size();
  if (size < kEndSize) throw EIncompleteZip();

  // The last end record wins: search backwards from the last place one could start.
  const size_t tail_size = std::min(kEndSearchSize, size);
  const auto* tail = reinterpret_cast<const unsigned char*>(archive_->Bytes().data() + (size - tail_size));
  size_t at = tail_size - kEndSize + 1;
  bool found = false;
  while (at-- > 0) {
    if (Get32(tail + at) == kEndSignature) {
      found = true;
      break;
    }
  }
  if (!found) throw EIncompleteZip();
  const unsigned char* e = tail + at;
  end_.disk_number = Get16(e + 4);
  end_.directory_disk = Get16(e + 6);
  end_.entries_on_disk = Get16(e + 8);
  end_.total_entries = Get16(e + 10);
  end_.directory_size = Get32(e + 12);
  end_.directory_offset = Get32(e + 16);
  end_.comment_length = Get16(e + 20);

  if (!ReadCentralDirectory()) RebuildFromLocalHeaders();
  return entries_;
}

bool TZipReader::ReadCentralDirectory() {
  const std::string& bytes = archive_->Bytes();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  // No more entries than the archive could hold, whatever the end record claims.
  entries_.reserve(std::min<size_t>(end_.total_entries, size / kCentralSize));
  size_t at = end_.directory_offset;
  for (unsigned i = 0; i < end_.total_entries; ++i) {
    // A GUI host would process its pending window messages here, once per entry.
    if (at > size || size - at < kCentralSize || Get32(data + at) != kCentralSignature) return false;
    const unsigned char* h = data + at;
    TZipHeaderInfo entry;
    entry.version_made_by = Get16(h + 4);
    entry.version_needed = Get16(h + 6);
    entry.flags = Get16(h + 8);
    entry.method = Get16(h + 10);
    entry.mod_time = Get16(h + 12);
    entry.mod_date = Get16(h + 14);
    entry.crc32 = Get32(h + 16);
    entry.compressed_size = Get32(h + 20);
    entry.uncompressed_size = Get32(h + 24);
    const size_t name_length = Get16(h + 28);
    const size_t skip = size_t{Get16(h + 30)} + Get16(h + 32);
    entry.disk_start = Get16(h + 34);
    entry.internal_attributes = Get16(h + 36);
    entry.external_attributes = Get32(h + 38);
    entry.local_header_offset = Get32(h + 42);
    if (size - at - kCentralSize < name_length) return false;
    entry.name = WithSeparator(bytes.substr(at + kCentralSize, name_length), '/', '\\');
    entries_.push_back(std::move(entry));
    at += kCentralSize + name_length + skip;
  }
  return true;
}

// Every local header signature in the archive starts an entry, described by its local header. The
// scan goes on after the entry's data when its size is known and inside the archive, else right
// after the header, so that a damaged size costs at most a false start.
void TZipReader::RebuildFromLocalHeaders() {
  entries_.clear();
  const std::string& bytes = archive_->Bytes();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  size_t at = 0;
  while (size >= kLocalSize && at <= size - kLocalSize) {
    if (Get32(data + at) != kLocalSignature) {
      ++at;
      continue;
    }
    const unsigned char* h = data + at;
    const size_t name_length = Get16(h + 26);
    const size_t extra_length = Get16(h + 28);
    if (size - at - kLocalSize < name_length) {
      ++at;
      continue;
    }
    TZipHeaderInfo entry;
    entry.version_made_by = 0;
    entry.version_needed = Get16(h + 4);
    entry.flags = Get16(h + 6);
    entry.method = Get16(h + 8);
    entry.mod_time = Get16(h + 10);
    entry.mod_date = Get16(h + 12);
    entry.crc32 = Get32(h + 14);
    entry.compressed_size = Get32(h + 18);
    entry.uncompressed_size = Get32(h + 22);
    entry.local_header_offset = static_cast<uint32_t>(at);
    entry.name = WithSeparator(bytes.substr(at + kLocalSize, name_length), '/', '\\');
    const size_t header_end = at + kLocalSize + name_length + extra_length;
    const bool sized = (entry.flags & 8) == 0 && header_end <= size && size - header_end >= entry.compressed_size;
    at = sized ? header_end + entry.compressed_size : at + kLocalSize + name_length;
    entries_.push_back(std::move(entry));
  }
  if (entries_.empty()) throw EBadZipFile();
}

int TZipReader::extractToStream(TMemoryStream& output, std::string_view name) {
  ReadDirectory();
  const std::string pattern = AsciiLower(name);
  int extracted = 0;
  for (const TZipHeaderInfo& entry : entries_) {
    // A GUI host would process its pending window messages here, once per entry.
    if (!ZipNameMatches(pattern, AsciiLower(entry.name))) continue;
    if (entry.flags & 1) continue;  // encrypted: no password is ever set
    if (ExtractEntry(entry, output)) ++extracted;
  }
  return extracted;
}

bool TZipReader::ExtractEntry(const TZipHeaderInfo& entry, TMemoryStream& output) {
  const std::string& bytes = archive_->Bytes();
  const size_t at = entry.local_header_offset;
  if (at > bytes.size() || bytes.size() - at < kLocalSize) throw EFatalUnzipError();
  const auto* h = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  if (Get32(h) != kLocalSignature) throw EBadZipFile();
  const size_t data_start = at + kLocalSize + Get16(h + 26) + Get16(h + 28);

  output.Clear();
  EntryInput input(*archive_, data_start, entry.compressed_size);
  EntryOutput out(output, entry.uncompressed_size);
  try {
    switch (entry.method) {
      case 0:
        CopyStored(input, out);
        break;
      case 8:
        Inflate(input, out);
        break;
      case 1:
        zip_internal::Unshrink(input, out);
        break;
      case 2:
      case 3:
      case 4:
      case 5:
        zip_internal::Unreduce(input, out, entry.method - 1);
        break;
      case 6:
        zip_internal::Explode(input, out, entry.flags);
        break;
      default:
        message_sink("Unknown Compression Method", "Zip Error");
        return false;
    }
    out.Flush();
  } catch (const zip_internal::EBiggerThanUncompressed&) {
    // The entry claimed fewer bytes than its data holds: what fits is kept, the rest dropped.
  }
  return out.Crc() == entry.crc32;
}

void TZipWriter::addStreamEntry(TMemoryStream& input, std::string_view name) {
  TMemoryStream& archive = *archive_;
  if (!entries_.empty()) archive.Seek(end_.directory_offset);

  TZipHeaderInfo entry;
  SetDosTimeNow(entry);
  entry.uncompressed_size = static_cast<uint32_t>(input.Size() - std::min(input.Size(), input.Position()));
  entry.local_header_offset = static_cast<uint32_t>(archive.Position());
  const std::string stored_name = WithSeparator(name, '\\', '/');
  entry.name = WithSeparator(name, '/', '\\');
  archive.Write(LocalHeader(entry, stored_name));

  DeflateStream stream;
  if (deflateInit2(&stream.z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw EZCompressionError();
  stream.open = true;
  std::vector<unsigned char> in(kDeflateBlock), out(kDeflateBlock);
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total_in = 0, written = 0;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const size_t got = input.Read(in.data(), in.size());
    crc = crc32(crc, in.data(), static_cast<uInt>(got));
    total_in += got;
    flush = input.Position() >= input.Size() ? Z_FINISH : Z_NO_FLUSH;
    stream.z.next_in = in.data();
    stream.z.avail_in = static_cast<uInt>(got);
    do {
      stream.z.next_out = out.data();
      stream.z.avail_out = static_cast<uInt>(out.size());
      if (deflate(&stream.z, flush) == Z_STREAM_ERROR) throw EZCompressionError();
      const size_t produced = out.size() - stream.z.avail_out;
      archive.Write(out.data(), produced);
      written += produced;
    } while (stream.z.avail_out == 0);
  }
  // Sizes beyond 32 bits would need Zip64 records, which this writer does not produce.
  if (total_in > 0xFFFFFFFFu || written > 0xFFFFFFFFu || archive.Position() > 0xFFFFFFFFu) throw EZCompressionError();

  entry.compressed_size = static_cast<uint32_t>(written);
  entry.uncompressed_size = static_cast<uint32_t>(total_in);
  entry.crc32 = static_cast<uint32_t>(crc);
  const size_t data_end = archive.Position();
  archive.Seek(entry.local_header_offset);
  archive.Write(LocalHeader(entry, stored_name));
  archive.Seek(data_end);
  entries_.push_back(entry);

  end_ = TEndCentral();
  end_.directory_offset = static_cast<uint32_t>(data_end);
  for (const TZipHeaderInfo& e : entries_) {
    const std::string header = CentralHeader(e, WithSeparator(e.name, '\\', '/'));
    archive.Write(header);
    end_.directory_size += static_cast<uint32_t>(header.size());
    ++end_.entries_on_disk;
    ++end_.total_entries;
  }
  archive.Write(EndRecord(end_));
  archive.SetSize(archive.Position());
}

}  // namespace zentrak
