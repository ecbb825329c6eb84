// Whole-process Base64 benchmark: encodes or decodes a file to a file or to standard output,
// block by block through the codec's own functions, so that it can be timed beside other tools.
//   base64_bench encode INPUT [OUTPUT]
//   base64_bench decode INPUT [OUTPUT]
// Decoding follows the codec's rules for the whole file as one text, line breaks included.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codec/base64.h"

namespace {

namespace base64 = zentrak::base64;

// Reads until the buffer is full or the file ends; returns the bytes read, or -1.
ssize_t ReadFull(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = read(fd, buffer + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

bool WriteFull(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Blocks of 96 KiB become 128 KiB of text: both buffers stay in the cache.
bool Encode(int in, int out) {
  constexpr size_t kBlock = 3 << 15;
  std::vector<char> bytes(kBlock), text(base64::EncodedSize(kBlock));
  for (;;) {
    const ssize_t got = ReadFull(in, bytes.data(), kBlock);
    if (got < 0) return false;
    const std::string_view block(bytes.data(), static_cast<size_t>(got));
    base64::EncodeInto(block, text.data());
    if (!WriteFull(out, text.data(), base64::EncodedSize(block.size()))) return false;
    if (static_cast<size_t>(got) < kBlock) return true;
  }
}

// Complete groups are decoded as they arrive, always keeping the last two characters back: only
// at the end of the text is it known whether they are padding.
bool Decode(int in, int out) {
  constexpr size_t kBlock = 1 << 18;
  std::vector<char> text(kBlock + 8), bytes(base64::DecodedSize(kBlock + 8));
  size_t held = 0;
  for (;;) {
    const ssize_t got = ReadFull(in, text.data() + held, kBlock);
    if (got < 0) return false;
    const size_t have = held + static_cast<size_t>(got);
    if (static_cast<size_t>(got) < kBlock) {
      const std::string_view data(text.data(), base64::DataLength({text.data(), have}));
      base64::DecodeDataInto(data, bytes.data());
      return WriteFull(out, bytes.data(), base64::DecodedSize(data.size()));
    }
    const size_t ready = (have - 2) / 4 * 4;
    base64::DecodeDataInto({text.data(), ready}, bytes.data());
    if (!WriteFull(out, bytes.data(), ready / 4 * 3)) return false;
    held = have - ready;
    std::memmove(text.data(), text.data() + ready, held);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (std::strcmp(argv[1], "encode") != 0 && std::strcmp(argv[1], "decode") != 0)) {
    std::fprintf(stderr, "usage: %s encode|decode INPUT [OUTPUT]\n", argv[0]);
    return 2;
  }
  const int in = open(argv[2], O_RDONLY);
  if (in < 0) {
    std::perror(argv[2]);
    return 1;
  }
  int out = STDOUT_FILENO;
  if (argc == 4) {
    out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
      std::perror(argv[3]);
      return 1;
    }
  }
  const bool ok = std::strcmp(argv[1], "encode") == 0 ? Encode(in, out) : Decode(in, out);
  if (!ok) std::perror(argv[0]);
  if (out != STDOUT_FILENO && close(out) != 0) return 1;
  close(in);
  return ok ? 0 : 1;
}
