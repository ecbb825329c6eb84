// The test and benchmark client: blocking sockets, one request at a time.
#include "host/test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "base/ascii.h"
#include "platform/memory.h"

namespace zentrak::host::testing {
namespace {

// A body is read into its string in steps of this size. Room for the whole body is reserved up
// front, up to a limit, so that a wrong Content-Length cannot ask for any amount of memory.
constexpr size_t kBodyStep = size_t{256} << 10;
constexpr size_t kMostReserved = size_t{1} << 30;

}  // namespace

namespace {

socklen_t SocketAddress(const std::string& address, uint16_t port, sockaddr_storage& addr) {
  addr = {};
  if (address.find(':') != std::string::npos) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(port);
    if (inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) != 1) throw std::runtime_error("bad address " + address);
    return sizeof *a6;
  }
  auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
  a4->sin_family = AF_INET;
  a4->sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &a4->sin_addr) != 1) throw std::runtime_error("bad address " + address);
  return sizeof *a4;
}

}  // namespace

HttpClient::HttpClient(const std::string& address, uint16_t port, const std::string& source, int receive_buffer)
    : port_(port) {
  sockaddr_storage addr;
  socklen_t len = SocketAddress(address, port, addr);
  fd_ = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  if (!source.empty()) {
    sockaddr_storage from;
    socklen_t from_len = SocketAddress(source, 0, from);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), from_len) != 0) {
      std::string why = std::strerror(errno);
      ::close(fd_);
      throw std::runtime_error("bind to " + source + ": " + why);
    }
  }
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("connect to " + address + ":" + std::to_string(port) + ": " + why);
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // An answer that never comes fails the test instead of hanging it.
  timeval limit{10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

HttpClient::~HttpClient() {
  if (fd_ >= 0) ::close(fd_);
}

void HttpClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("send: " + std::string(std::strerror(errno)));
    sent += static_cast<size_t>(n);
  }
}

std::string HttpClient::ReadBytes(size_t n) {
  while (buffer_.size() < n) {
    char chunk[65536];
    ssize_t got = ::recv(fd_, chunk, std::min(sizeof chunk, n - buffer_.size()), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
  std::string out = buffer_.substr(0, n);
  buffer_.erase(0, out.size());
  return out;
}

HttpResponse HttpClient::Read(bool with_body) {
  HttpResponse r;
  auto fill = [&]() {
    char chunk[65536];
    ssize_t n;
    do {
      n = ::recv(fd_, chunk, sizeof chunk, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  };
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return r;
  std::string head = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  size_t line_end = head.find("\r\n");
  std::string status_line = head.substr(0, line_end);
  size_t sp = status_line.find(' ');
  r.status = sp == std::string::npos ? 0 : std::atoi(status_line.c_str() + sp + 1);
  size_t pos = line_end == std::string::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    size_t next = head.find("\r\n", pos);
    if (next == std::string::npos) next = head.size();
    std::string line = head.substr(pos, next - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      name = AsciiLowered(name);
      size_t v = line.find_first_not_of(' ', colon + 1);
      r.headers[name] = v == std::string::npos ? "" : line.substr(v);
    }
    pos = next + 2;
  }
  size_t length =
      with_body ? static_cast<size_t>(std::strtoull(r.Header("content-length").c_str(), nullptr, 10)) : 0;
  // What has been read past the head, then the rest straight from the socket into the body:
  // never more than the body, so a pipelined answer behind it stays for the next Read.
  size_t have = std::min(length, buffer_.size());
  r.body.reserve(std::min(length, kMostReserved));
  // Fresh pages one by one are a large part of the cost of reading tens of megabytes.
  platform::AdviseLargeBuffer(r.body.data(), r.body.capacity());
  r.body.assign(buffer_, 0, have);
  buffer_.erase(0, have);
  while (r.body.size() < length) {
    // The body is lengthened a step at a time, so that the filling of each step is still in
    // the cache when the socket's bytes overwrite it.
    size_t at = r.body.size();
    size_t step = std::min(length - at, kBodyStep);
    r.body.resize(at + step);
    ssize_t n;
    do {
      n = ::recv(fd_, r.body.data() + at, step, 0);
    } while (n < 0 && errno == EINTR);
    r.body.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) break;  // closed or timed out: the body as far as it came
  }
  return r;
}

bool HttpClient::WaitClosed(int max_ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
}

bool HttpClient::WaitReadable(int max_ms) {
  if (!buffer_.empty()) return true;
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, max_ms);
  } while (ready < 0 && errno == EINTR);
  return ready == 1;
}

bool HttpClient::TrySend(const std::string& bytes) {
  ssize_t n;
  do {
    n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(bytes.size())) return false;
  // A send succeeds while the host's reset is on its way: a closed end shows on the next poll.
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) return false;
  if (p.revents & POLLIN) {
    char c;
    if (::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
  }
  return true;
}

HttpResponse HttpClient::Raw(const std::string& bytes) {
  Send(bytes);
  return Read();
}

HttpResponse HttpClient::Request(const std::string& method, const std::string& target, const std::string& body,
                                 const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string req = method + " " + target + " HTTP/1.1\r\n";
  bool host = false;
  for (const auto& [name, value] : headers) {
    if (EqualsIgnoringAsciiCase(name, "host")) host = true;
    req += name + ": " + value + "\r\n";
  }
  if (!host) req += "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  if (!body.empty() || method == "POST") req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n";
  req += body;
  Send(req);
  return Read(method != "HEAD");
}

HostProcess::HostProcess(const std::string& binary, const std::string& config, const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> argv_text = {binary, "--port", "0", "--config", config};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(pipe_fds[1], 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  out_ = pipe_fds[0];
  // The first line names the port: "zentrak-host: listening on http://127.0.0.1:PORT/ ...".
  std::string line;
  while (line.find('\n') == std::string::npos) {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    char c[256];
    ssize_t n = ::read(out_, c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<size_t>(n));
  }
  size_t at = line.find("127.0.0.1:");
  if (at == std::string::npos) {
    Stop();
    throw std::runtime_error("zentrak-host did not start: " + line);
  }
  port_ = static_cast<uint16_t>(std::atoi(line.c_str() + at + 10));
}

int HostProcess::Stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  if (out_ >= 0) ::close(out_);
  out_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

HostProcess::~HostProcess() { Stop(); }

}  // namespace zentrak::host::testing
