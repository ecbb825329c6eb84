// A small HTTP/1.1 client over one keep-alive TCP connection, for the host's protocol tests and
// its benchmark. It sends exactly the bytes it is given (so tests can forge a Host header or
// malform a request) and reads answers with a Content-Length body.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zentrak::host::testing {

struct HttpResponse {
  int status = 0;                              // 0 when the connection closed without an answer
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string Header(const std::string& lower_name) const {
    auto it = headers.find(lower_name);
    return it == headers.end() ? std::string() : it->second;
  }
};

class HttpClient {
 public:
  // Connects to address (an IPv4 or IPv6 literal) and port, from `source` (an address of the
  // same family) when given. A receive_buffer in bytes makes the socket take little of an
  // answer it does not read. Throws std::runtime_error on failure.
  HttpClient(const std::string& address, uint16_t port, const std::string& source = {}, int receive_buffer = 0);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sends a request with Host "127.0.0.1:<port>" unless headers name another Host, and a
  // Content-Length when there is a body or the method is POST.
  HttpResponse Request(const std::string& method, const std::string& target, const std::string& body = {},
                       const std::vector<std::pair<std::string, std::string>>& headers = {});
  // Sends raw bytes and reads one answer.
  HttpResponse Raw(const std::string& bytes);
  void Send(const std::string& bytes);
  // Reads one answer; the answer to a HEAD request has no body, whatever its Content-Length.
  HttpResponse Read(bool with_body = true);
  // Waits up to max_ms for the host to end the connection, dropping whatever it sends
  // meanwhile. True when it ended (end of stream or reset).
  bool WaitClosed(int max_ms);
  // Waits up to max_ms for the first bytes of an answer, without reading them.
  bool WaitReadable(int max_ms);
  // Sends bytes, and says whether the host took them (false once it has ended the connection).
  bool TrySend(const std::string& bytes);
  // Reads exactly n bytes (those already read past an answer first); fewer when the host ends
  // the connection.
  std::string ReadBytes(size_t n);

 private:
  int fd_ = -1;
  uint16_t port_;
  std::string buffer_;
};

// A zentrak-host process started for a test or a benchmark on a free port, with its own
// configuration file, and stopped (SIGTERM, then waited for) when this goes.
class HostProcess {
 public:
  // Starts `binary --port 0 --config <config> <args...>` and waits for its "listening on" line.
  // Throws std::runtime_error when it does not start.
  HostProcess(const std::string& binary, const std::string& config, const std::vector<std::string>& args = {},
              const std::vector<std::pair<std::string, std::string>>& env = {});
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  uint16_t Port() const noexcept { return port_; }
  int Pid() const noexcept { return pid_; }
  // Stops the process; returns its exit status (128 + signal when killed by one).
  int Stop();

 private:
  int pid_ = -1;
  int out_ = -1;
  uint16_t port_ = 0;
};

}  // namespace zentrak::host::testing
