// FileSystemObject: byte ranges of files, sizes, exclusive sharing against other processes, the
// file choice document through the unattended chooser, and argument conversion.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/testing/scoped.h"
#include "base/text.h"
#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "files/file_system_object.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/files.h"

namespace zentrak {
namespace {

namespace fs = std::filesystem;

const char kInUse[] = "The process cannot access the file because it is being used by another process.";

// Holds an exclusive flock on a file from a child process until destroyed.
class OtherProcessLock {
 public:
  explicit OtherProcessLock(const std::string& path) {
    int ready[2], release[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      int fd = ::open(path.c_str(), O_RDONLY);
      char byte = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
      if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
      ::read(release[0], &byte, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    ::close(ready[0]);
  }
  ~OtherProcessLock() {
    ::close(release_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};

// Makes a folder the current folder until destroyed.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : saved_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

// The JSON text of a Linux path as the writer escapes it: "\" "/" and quotes.
std::string Escaped(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' || c == '/' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

class FileSystemObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ten_ = Write("ten.bin", "0123456789"); }

  // Writes a file in the test folder; name is the on-disk (UTF-8) name. Returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // A native (UTF-8) path as the wide text a page passes in.
  static Variant PathArg(const std::string& path) { return Variant(Utf8ToWide(path)); }

  // The Value of GetFileStream, as 8-bit text (Base64 is ASCII).
  std::string Stream(const Variant& name, const Variant& encrypt, const Variant& start, const Variant& length) {
    Variant value;
    fso_.GetFileStream(name, encrypt, start, length, value);
    EXPECT_EQ(value.Type(), VarType::OleStr);
    return std::string(value.WideText().begin(), value.WideText().end());
  }
  std::string Slice(int64_t start, int32_t length, bool encrypt = false) {
    return Stream(PathArg(ten_), Variant::FromBool(encrypt), Variant::FromInt64(start), Variant::FromInt32(length));
  }

  // The message GetFileStream fails with; Value must then be Empty.
  std::string StreamError(const Variant& name, const Variant& encrypt, const Variant& start, const Variant& length) {
    Variant value;
    try {
      fso_.GetFileStream(name, encrypt, start, length, value);
    } catch (const Exception& e) {
      EXPECT_TRUE(value.IsEmpty());
      return e.Message();
    }
    ADD_FAILURE() << "GetFileStream did not fail";
    return std::string();
  }

  // Makes the chooser print `lines` (written to a file, so names need no shell quoting) and
  // finish with `exit_status`.
  void Choose(const std::vector<std::string>& lines, int exit_status = 0) {
    std::string list;
    for (const auto& l : lines) list += l + "\n";
    std::string listing = Write(".choice", list);
    std::string mode = (dir_ / ".mode").string();
    std::string command = "echo \"$ZENTRAK_FILE_CHOOSER_MULTIPLE\" > '" + mode + "'; cat '" + listing +
                          "'; exit " + std::to_string(exit_status);
    ::setenv("ZENTRAK_FILE_CHOOSER", command.c_str(), 1);
  }
  std::string ChooserMode() {
    std::ifstream in(dir_ / ".mode");
    std::string mode;
    std::getline(in, mode);
    return mode;
  }

  std::u16string Select(bool multiple) {
    Variant value;
    fso_.selectFiles(Variant::ByRefVariant(Variant::FromBool(multiple)), value);
    EXPECT_EQ(value.Type(), VarType::OleStr);
    return value.WideText();
  }

  ScopedTempDir temp_{"zentrak-files"};
  const fs::path dir_ = temp_.path();
  // Choose sets the variable; this gives back the value the test started with.
  ScopedEnv chooser_{"ZENTRAK_FILE_CHOOSER", std::nullopt};
  std::string ten_;
  TFileSystemObject fso_;
};

TEST_F(FileSystemObjectTest, SlicesOfATenByteFile) {
  struct Case {
    int64_t start;
    int32_t length;
    const char* bytes;
  } cases[] = {
      {8, 5, "89"},                  // runs past the end: the bytes that are there
      {0, 10, "0123456789"},         // the whole file
      {3, 4, "3456"},
      {9, 1, "9"},                   // the last byte
      {10, 5, ""},                   // start at the end
      {11, 1, ""},                   // start past the end
      {int64_t{1} << 40, 1, ""},     // far past the end, beyond 32 bits
      {2, 0, ""},                    // zero length
      {2, -1, ""},                   // negative length
      {-5, 3, "012"},                // negative start reads from the start
      {INT64_MIN, 2, "01"},
      {2, 2147483647, "23456789"},   // the largest length
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Slice(c.start, c.length), EncodeBase64(c.bytes)) << c.start << " " << c.length;
  }
}

TEST_F(FileSystemObjectTest, CompressedSlicesUnpackToTheSlice) {
  struct Case {
    int64_t start;
    int32_t length;
    const char* bytes;
  } cases[] = {{8, 5, "89"}, {0, 10, "0123456789"}, {10, 5, ""}, {0, 0, ""}};
  for (const auto& c : cases) {
    std::string archive = DecodeBase64(Slice(c.start, c.length, true));
    EXPECT_EQ(archive.substr(0, 4), std::string("PK\x03\x04"));
    EXPECT_EQ(decompressText(archive), c.bytes) << c.start << " " << c.length;
  }
  // A larger, compressible slice survives the round trip byte for byte.
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>(i % 251);
  std::string path = Write("big.bin", big);
  std::string packed = Stream(PathArg(path), Variant(u"true"), Variant::FromInt32(1000), Variant::FromInt32(200000));
  EXPECT_EQ(decompressText(DecodeBase64(packed)), big.substr(1000, 200000));
}

TEST_F(FileSystemObjectTest, HugeLengthOnASmallFileAllocatesOnlyWhatIsThere) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address-space limit does not work with AddressSanitizer";
#else
  // In a child whose address space leaves no room for a 2 GiB buffer, the largest length still
  // reads the small file.
  pid_t child = ::fork();
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (256u << 20);
    struct rlimit rl = {limit, limit};
    if (::setrlimit(RLIMIT_AS, &rl) != 0) ::_exit(3);
    try {
      ::_exit(Slice(4, 2147483647) == EncodeBase64("456789") ? 0 : 1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST_F(FileSystemObjectTest, RelativeAndNonAsciiNames) {
  {
    // Relative paths resolve against the current folder.
    CurrentFolder here(dir_);
    Write("rel.bin", "abc");
    EXPECT_EQ(Stream(Variant(u"rel.bin"), Variant(), Variant::FromInt32(0), Variant::FromInt32(3)),
              EncodeBase64("abc"));
    EXPECT_EQ(Stream(Variant(u"./rel.bin"), Variant(), Variant::FromInt32(1), Variant::FromInt32(3)),
              EncodeBase64("bc"));
  }
  // A name that both code pages can hold reaches the file through 8-bit text.
  std::string name = Write("\xE6\x95\xB0\xE6\x8D\xAE.bin", "xyz");  // 数据.bin
  EXPECT_EQ(Stream(PathArg(name), Variant(), Variant::FromInt32(0), Variant::FromInt32(9)), EncodeBase64("xyz"));
  EXPECT_EQ(FileSizeOf(platform::WideToAnsi(Utf8ToWide(name))), 3);
}

TEST_F(FileSystemObjectTest, FilesThatCannotBeOpened) {
  std::string dir = dir_.string();
  {
    // The message names the full path, also for a relative one, and the platform's reason.
    CurrentFolder here(dir_);
    EXPECT_EQ(StreamError(Variant(u"missing.bin"), Variant(), Variant::FromInt32(0), Variant::FromInt32(1)),
              "Cannot open file \"" + dir + "/missing.bin\". No such file or directory");
    EXPECT_EQ(StreamError(Variant(u"a/../b/./missing.bin"), Variant(), Variant(), Variant()),
              "Cannot open file \"" + dir + "/b/missing.bin\". No such file or directory");
  }
  EXPECT_EQ(StreamError(PathArg(dir), Variant(), Variant(), Variant()),
            "Cannot open file \"" + dir + "\". Is a directory");
  // Nothing is left open: the file opens again at once.
  EXPECT_EQ(Slice(0, 1), EncodeBase64("0"));
}

TEST_F(FileSystemObjectTest, ExclusiveSharing) {
  const std::string expected = "Cannot open file \"" + ten_ + "\". " + kInUse;
  {
    OtherProcessLock lock(ten_);
    EXPECT_EQ(StreamError(PathArg(ten_), Variant(), Variant::FromInt32(0), Variant::FromInt32(4)), expected);
    EXPECT_EQ(FileSizeOf(ten_), -1);
  }
  EXPECT_EQ(FileSizeOf(ten_), 10);
  // An open file of this process excludes other openers in the same process too.
  platform::ExclusiveFile held;
  std::string reason;
  ASSERT_TRUE(held.Open(ten_, reason));
  EXPECT_EQ(StreamError(PathArg(ten_), Variant(), Variant(), Variant::FromInt32(4)), expected);
  held.Close();
  EXPECT_EQ(Slice(0, 4), EncodeBase64("0123"));
}

TEST_F(FileSystemObjectTest, FileSizes) {
  std::string empty = Write("empty.bin", "");
  // Sparse files beyond 2 GiB show that the size is the low 32 bits, taken as signed.
  auto sparse = [&](const char* name, int64_t size) {
    std::string path = (dir_ / name).string();
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
  };
  struct Case {
    std::string path;
    int32_t size;
  } cases[] = {
      {ten_, 10},
      {empty, 0},
      {(dir_ / "missing").string(), -1},
      {dir_.string(), -1},                                  // a folder is not a file
      {sparse("3g", int64_t{3} << 30), -(int32_t{1} << 30)},  // 0xC0000000
      {sparse("4g5", (int64_t{4} << 30) + 5), 5},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSizeOf(c.path), c.size) << c.path;
}

TEST_F(FileSystemObjectTest, ArgumentsConvertInOrder) {
  const std::string missing = (dir_ / "missing").string();
  const std::string open_error = "Cannot open file \"" + missing + "\". No such file or directory";
  struct Case {
    const char* what;
    Variant name, encrypt, start, length;
    std::string message;
  } cases[] = {
      {"Null file name", Variant::Null(), Variant(), Variant(), Variant(),
       "Could not convert variant of type (Null) into type (String)"},
      // The length converts before the name and the file.
      {"bad length first", Variant::Null(), Variant(), Variant(), Variant::Null(),
       "Could not convert variant of type (Null) into type (Integer)"},
      {"length overflow", PathArg(missing), Variant(), Variant(), Variant::FromInt64(int64_t{1} << 31),
       "Overflow while converting variant of type (Int64) into type (Integer)"},
      // The start converts after the file is open, the compression flag after reading.
      {"bad start, missing file", PathArg(missing), Variant(), Variant::Null(), Variant(), open_error},
      {"bad start", PathArg(ten_), Variant(), Variant::Null(), Variant(),
       "Could not convert variant of type (Null) into type (Int64)"},
      {"bad flag, missing file", PathArg(missing), Variant(u"perhaps"), Variant(), Variant(), open_error},
      {"bad flag", PathArg(ten_), Variant(u"perhaps"), Variant(), Variant::FromInt32(3),
       "Could not convert variant of type (OleStr) into type (Boolean)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StreamError(c.name, c.encrypt, c.start, c.length), c.message) << c.what;
  }
  // The file is closed after a failed conversion of the start.
  EXPECT_EQ(FileSizeOf(ten_), 10);

  Variant value;
  EXPECT_THROW(fso_.selectFiles(Variant::ByRefVariant(Variant::Null()), value), Exception);
  EXPECT_TRUE(value.IsEmpty());
}

TEST_F(FileSystemObjectTest, SelectFilesThroughTheChooser) {
  std::string a = Write("a.pdf", "12345");
  std::string b = Write("b.bin", "");
  std::string odd = Write("back\\slash \"quoted\".txt", "1234");
  std::string wide = Write("\xE6\x95\xB0\xE6\x8D\xAE.bin", "xyz");  // 数据.bin
  auto entry = [](const std::string& path, int size) {
    return "{\"filename\":\"" + Escaped(path) + "\",\"size\":" + std::to_string(size) + "}";
  };

  Choose({a});
  EXPECT_EQ(Select(false), Utf8ToWide("[" + entry(a, 5) + "]"));
  EXPECT_EQ(ChooserMode(), "0");

  // Several files, in the order the chooser gives them.
  Choose({b, ten_, a});
  EXPECT_EQ(Select(true), Utf8ToWide("[" + entry(b, 0) + "," + entry(ten_, 10) + "," + entry(a, 5) + "]"));
  EXPECT_EQ(ChooserMode(), "1");

  // Only one file when several are not allowed.
  Choose({b, ten_, a});
  EXPECT_EQ(Select(false), Utf8ToWide("[" + entry(b, 0) + "]"));

  // Backslashes and quotes are escaped by the writer; a non-ASCII name survives both code pages.
  Choose({odd, wide});
  EXPECT_EQ(Select(true), Utf8ToWide("[" + entry(odd, 4) + "," + entry(wide, 3) + "]"));

  // A chosen file that cannot be opened is listed with size -1.
  Choose({(dir_ / "gone.bin").string(), a});
  {
    OtherProcessLock lock(a);
    EXPECT_EQ(Select(true), Utf8ToWide("[" + entry((dir_ / "gone.bin").string(), -1) + "," + entry(a, -1) + "]"));
  }

  // Relative paths from the chooser become full paths.
  CurrentFolder here(dir_);
  Choose({"a.pdf"});
  EXPECT_EQ(Select(false), Utf8ToWide("[" + entry(a, 5) + "]"));
}

TEST_F(FileSystemObjectTest, CancelledChoiceIsTheEmptyText) {
  Choose({ten_}, 1);  // a failing chooser cancels even when it printed paths
  EXPECT_EQ(Select(true), u"");
  Choose({});         // no output
  EXPECT_EQ(Select(false), u"");
  Choose({"", ""});   // only empty lines
  EXPECT_EQ(Select(false), u"");
}

TEST_F(FileSystemObjectTest, NoDisplayAndNoChooserFails) {
  ScopedEnv display("DISPLAY", std::nullopt), wayland("WAYLAND_DISPLAY", std::nullopt);
  Variant value;
  try {
    fso_.selectFiles(Variant::ByRefVariant(Variant::FromBool(false)), value);
    ADD_FAILURE() << "selectFiles did not fail";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "No display for the file dialog: set ZENTRAK_FILE_CHOOSER");
  }
  EXPECT_TRUE(value.IsEmpty());
}

}  // namespace
}  // namespace zentrak
