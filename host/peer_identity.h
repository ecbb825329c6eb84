// Who is at the other end of an accepted loopback TCP connection. Every program on the machine
// can reach the host's port, so the host asks the kernel which account owns the peer's socket:
// through the socket diagnostics of netlink (NETLINK_SOCK_DIAG), looking up the one TCP socket
// whose four addresses and ports are the mirror of the accepted one.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace zentrak::host {

struct PeerIdentity {
  std::optional<uid_t> uid;  // the owner of the peer's socket; empty when it could not be found
  std::string ip;            // "127.0.0.1" or "::1"
  std::string address;       // with the port: "127.0.0.1:40312" or "[::1]:40312"
};

// The identity of the peer of `fd`, an accepted IPv4 or IPv6 TCP socket. With find_uid false, or
// when the kernel has no answer (the peer has already gone), uid is empty; error then says why.
PeerIdentity IdentifyPeer(int fd, bool find_uid, std::string* error = nullptr);

// Whether IdentifyPeer can find uids on this system: a connection of this process to itself
// over 127.0.0.1 must be found as the process's own. On false, `why` says what failed.
bool PeerUidLookupWorks(std::string& why);

}  // namespace zentrak::host
