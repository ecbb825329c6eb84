// The request-head parser and the small helpers of requests and answers. Pure functions over
// bytes: the connection (http_connection.cpp) does the reading and writing.
#include "host/http_parser.h"

#include <cstring>

#include "base/ascii.h"

namespace zentrak::host {
namespace {

bool IsTokenChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!IsTokenChar(c)) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string FormDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

HeadParse Refused(int status, std::string description) {
  HeadParse r;
  r.outcome = HeadParse::Outcome::kRefused;
  r.status = status;
  r.description = std::move(description);
  return r;
}

constexpr const char* kBadRequestLine = "Bad request: the request line is not METHOD TARGET HTTP/1.1";

// Parses a whole head (without its blank line) into request and the framing fields of result.
// Returns false, with result refused, when the head cannot be read.
bool ParseWholeHead(std::string_view head, HttpRequest& request, HeadParse& result) {
  request = HttpRequest();
  size_t line_end = head.find("\r\n");
  std::string_view line = head.substr(0, line_end);
  head = line_end == std::string_view::npos ? std::string_view() : head.substr(line_end + 2);

  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
    result = Refused(400, kBadRequestLine);
    return false;
  }
  std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = line.substr(sp2 + 1);
  if (!IsToken(method) || target.empty()) {
    result = Refused(400, kBadRequestLine);
    return false;
  }
  for (unsigned char c : target) {
    if (c <= 0x20 || c == 0x7F) {
      result = Refused(400, "Bad request: the request target holds a control character or a space");
      return false;
    }
  }
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' || version[5] < '0' ||
      version[5] > '9' || version[7] < '0' || version[7] > '9') {
    result = Refused(400, kBadRequestLine);
    return false;
  }
  if (version[5] != '1') {
    result = Refused(505, "Bad request: this host speaks HTTP/1.1");
    return false;
  }
  request.method = std::string(method);
  request.minor_version = version[7] - '0';

  std::string authority;  // of an absolute target, which stands in for the Host header
  bool absolute = false;
  if (target.front() != '/' && target != "*") {
    size_t scheme_end = target.find("://");
    if (scheme_end == std::string_view::npos || !EqualsIgnoringAsciiCase(target.substr(0, scheme_end), "http")) {
      result = Refused(400, "Bad request: the request target is not a path");
      return false;
    }
    std::string_view rest = target.substr(scheme_end + 3);
    size_t path_start = rest.find_first_of("/?");
    authority = std::string(rest.substr(0, path_start));
    target = path_start == std::string_view::npos ? std::string_view("/") : rest.substr(path_start);
    absolute = true;
  }
  size_t q = target.find('?');
  request.path = std::string(target.substr(0, q));
  if (request.path.empty()) request.path = "/";
  if (q != std::string_view::npos) request.query = std::string(target.substr(q + 1));

  bool have_length = false;
  int hosts = 0;
  while (!head.empty()) {
    size_t e = head.find("\r\n");
    std::string_view h = head.substr(0, e);
    head = e == std::string_view::npos ? std::string_view() : head.substr(e + 2);
    if (!h.empty() && (h.front() == ' ' || h.front() == '\t')) {
      result = Refused(400, "Bad request: folded header lines are not accepted");
      return false;
    }
    size_t colon = h.find(':');
    if (colon == std::string_view::npos || !IsToken(h.substr(0, colon))) {
      result = Refused(400, "Bad request: a header line is not NAME: VALUE");
      return false;
    }
    std::string_view value = Trim(h.substr(colon + 1));
    for (unsigned char c : value) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) {
        result = Refused(400, "Bad request: a header value holds a control character");
        return false;
      }
    }
    std::string name = AsciiLowered(h.substr(0, colon));
    if (name == "host") ++hosts;
    if (name == "content-length") {
      uint64_t n = 0;
      bool ok = !value.empty();
      for (char c : value) {
        if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) {
          ok = false;
          break;
        }
        n = n * 10 + static_cast<unsigned>(c - '0');
      }
      if (!ok || n > SIZE_MAX || (have_length && n != result.body_length)) {
        result = Refused(400, "Bad request: the Content-Length is not one number");
        return false;
      }
      have_length = true;
      result.body_length = static_cast<size_t>(n);
    }
    bool merged = false;
    for (auto& [n, v] : request.headers) {
      if (n == name) {
        if (name != "content-length") v.append(", ").append(value);
        merged = true;
        break;
      }
    }
    if (!merged) request.headers.emplace_back(std::move(name), std::string(value));
  }
  if (hosts > 1) {
    result = Refused(400, "Bad request: more than one Host header");
    return false;
  }
  if (absolute) {
    bool replaced = false;
    for (auto& [n, v] : request.headers)
      if (n == "host") v = authority, replaced = true;
    if (!replaced) request.headers.emplace_back("host", authority);
  }
  result.chunked = request.Header("transfer-encoding") != nullptr;
  if (result.chunked && have_length) {
    // Both framings at once is how requests are smuggled past proxies: refused outright.
    result = Refused(400, "Bad request: a request may not carry both Transfer-Encoding and Content-Length");
    return false;
  }
  const std::string* connection = request.Header("connection");
  result.keep_alive =
      request.minor_version >= 1 ? !HeaderHasToken(connection, "close") : HeaderHasToken(connection, "keep-alive");
  result.head_only = request.method == "HEAD";
  return true;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view lower_name) const {
  for (const auto& [name, value] : headers)
    if (name == lower_name) return &value;
  return nullptr;
}

std::string HttpRequest::QueryValue(std::string_view key) const {
  std::string_view rest = query;
  while (!rest.empty()) {
    size_t amp = rest.find('&');
    std::string_view pair = rest.substr(0, amp);
    size_t eq = pair.find('=');
    if (FormDecode(pair.substr(0, eq)) == key)
      return eq == std::string_view::npos ? std::string() : FormDecode(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return {};
}

void HttpResponse::Set(std::string_view name, std::string value) {
  for (auto& [n, v] : headers) {
    if (EqualsIgnoringAsciiCase(n, name)) {
      v = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::string(name), std::move(value));
}

void HttpResponse::SetBody(std::string content_type, std::string text) {
  Set("Content-Type", std::move(content_type));
  body = std::move(text);
  static_body = {};
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 204: return "No Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 426: return "Upgrade Required";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

bool HeaderHasToken(const std::string* value, std::string_view token) {
  if (!value) return false;
  std::string_view rest = *value;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    if (EqualsIgnoringAsciiCase(Trim(rest.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

HeadParse HttpHeadParser::Parse(std::string_view input, HttpRequest& request) {
  // Empty lines before a request line are passed over.
  size_t start = 0;
  while (start + 1 < input.size() && input[start] == '\r' && input[start + 1] == '\n') start += 2;
  // Every line feed must close a CR LF pair: a line that ends in a bare LF is refused at once,
  // since a reader that took it as a line end and one that did not would frame the request
  // differently.
  size_t at = scanned_ > start ? scanned_ : start;
  for (;;) {
    const void* found = at < input.size() ? std::memchr(input.data() + at, '\n', input.size() - at) : nullptr;
    if (!found) break;
    size_t lf = static_cast<size_t>(static_cast<const char*>(found) - input.data());
    if (lf == start || input[lf - 1] != '\r') {
      scanned_ = 0;
      return Refused(400, "Bad request: a line of the request head ends in a bare LF instead of CR LF");
    }
    if (lf >= start + 3 && input[lf - 2] == '\n' && input[lf - 3] == '\r') {
      scanned_ = 0;
      size_t end = lf - 3;
      if (end - start > kMaxHeadBytes)
        return Refused(431, "Bad request: the request line and headers are longer than " +
                                std::to_string(kMaxHeadBytes) + " bytes");
      HeadParse result;
      if (!ParseWholeHead(input.substr(start, end - start), request, result)) return result;
      result.outcome = HeadParse::Outcome::kComplete;
      result.consumed = lf + 1;
      return result;
    }
    at = lf + 1;
  }
  if (input.size() > kMaxHeadBytes) {
    scanned_ = 0;
    return Refused(431, "Bad request: the request line and headers are longer than " + std::to_string(kMaxHeadBytes) +
                            " bytes");
  }
  scanned_ = input.size();
  return HeadParse{};
}

}  // namespace zentrak::host
