// The peer's uid from the kernel's socket diagnostics. One request per connection, answered
// from the kernel's socket tables without a dump: an exact lookup of the peer's socket.
#include "host/peer_identity.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrak::host {
namespace {

// A descriptor closed when it goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

void DescribeAddress(const sockaddr_storage& a, PeerIdentity& who) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (a.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    who.ip = text;
    who.address = who.ip + ":" + std::to_string(ntohs(in.sin_port));
  } else {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    who.ip = text;
    who.address = "[" + who.ip + "]:" + std::to_string(ntohs(in6.sin6_port));
  }
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// The uid owning the TCP socket whose local end is `local` and remote end `remote`.
std::optional<uid_t> SocketOwner(const sockaddr_storage& local, const sockaddr_storage& remote, std::string* error) {
  Fd nl(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (nl.get() < 0) {
    SetError(error, std::string("no socket diagnostics: ") + std::strerror(errno));
    return std::nullopt;
  }
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;  // one socket, no dump
  message.header.nlmsg_seq = 1;
  inet_diag_req_v2& r = message.request;
  r.sdiag_family = static_cast<__u8>(local.ss_family);
  r.sdiag_protocol = IPPROTO_TCP;
  r.idiag_states = ~0u;
  r.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (local.ss_family == AF_INET) {
    const auto& l = reinterpret_cast<const sockaddr_in&>(local);
    const auto& p = reinterpret_cast<const sockaddr_in&>(remote);
    r.id.idiag_sport = l.sin_port;
    r.id.idiag_dport = p.sin_port;
    std::memcpy(r.id.idiag_src, &l.sin_addr, 4);
    std::memcpy(r.id.idiag_dst, &p.sin_addr, 4);
  } else {
    const auto& l = reinterpret_cast<const sockaddr_in6&>(local);
    const auto& p = reinterpret_cast<const sockaddr_in6&>(remote);
    r.id.idiag_sport = l.sin6_port;
    r.id.idiag_dport = p.sin6_port;
    std::memcpy(r.id.idiag_src, &l.sin6_addr, 16);
    std::memcpy(r.id.idiag_dst, &p.sin6_addr, 16);
  }
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(nl.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    SetError(error, std::string("socket diagnostics refused the request: ") + std::strerror(errno));
    return std::nullopt;
  }
  alignas(nlmsghdr) char answer[8192];
  ssize_t n;
  do {
    n = ::recv(nl.get(), answer, sizeof answer, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetError(error, std::string("no answer from socket diagnostics: ") + std::strerror(errno));
    return std::nullopt;
  }
  auto* h = reinterpret_cast<nlmsghdr*>(answer);
  size_t left = static_cast<size_t>(n);
  for (; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
    if (h->nlmsg_type == NLMSG_ERROR) {
      auto* e = static_cast<nlmsgerr*>(NLMSG_DATA(h));
      SetError(error, std::string("socket diagnostics: ") + std::strerror(-e->error));
      return std::nullopt;
    }
    if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) continue;
    auto* m = static_cast<inet_diag_msg*>(NLMSG_DATA(h));
    // A socket in TIME_WAIT or still in its handshake has no owner of its own (the kernel says 0).
    if (m->idiag_state == TCP_TIME_WAIT || m->idiag_state == 12 /* TCP_NEW_SYN_RECV */) {
      SetError(error, "the peer's socket has no owner any more");
      return std::nullopt;
    }
    return static_cast<uid_t>(m->idiag_uid);
  }
  SetError(error, "socket diagnostics gave no answer for the peer's socket");
  return std::nullopt;
}

}  // namespace

PeerIdentity IdentifyPeer(int fd, bool find_uid, std::string* error) {
  PeerIdentity who;
  sockaddr_storage local{}, remote{};
  socklen_t local_len = sizeof local, remote_len = sizeof remote;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remote_len) != 0) {
    SetError(error, std::string("the peer's address is unknown: ") + std::strerror(errno));
    return who;
  }
  if (local.ss_family != AF_INET && local.ss_family != AF_INET6) {
    SetError(error, "not a TCP/IP socket");
    return who;
  }
  DescribeAddress(remote, who);
  // The peer's socket is the mirror of ours: its local end is our remote one.
  if (find_uid) who.uid = SocketOwner(remote, local, error);
  return who;
}

bool PeerUidLookupWorks(std::string& why) {
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener.get(), 1) != 0 || ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    why = std::string("cannot listen on 127.0.0.1 to test it: ") + std::strerror(errno);
    return false;
  }
  Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (client.get() < 0 || ::connect(client.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    why = std::string("cannot connect to 127.0.0.1 to test it: ") + std::strerror(errno);
    return false;
  }
  Fd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (accepted.get() < 0) {
    why = std::string("cannot accept on 127.0.0.1 to test it: ") + std::strerror(errno);
    return false;
  }
  PeerIdentity who = IdentifyPeer(accepted.get(), true, &why);
  if (!who.uid) return false;
  if (*who.uid != ::geteuid()) {
    why = "socket diagnostics named uid " + std::to_string(*who.uid) + " as the owner of this process's own socket";
    return false;
  }
  return true;
}

}  // namespace zentrak::host
