// The page loads the host serves. Each page load opens a session; its objects live in the
// session's wire Session and go when the page unloads, when it is idle for too long, or when the
// host stops. A call may be in progress while the session ends (a modal dialog runs a nested
// main loop, and the page's unload beacon or another page arrives meanwhile): the session's
// objects are released at once, except the one whose call is running, and the session itself
// goes when that call returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "host/wire.h"

namespace zentrak::host {

struct PageSession {
  PageSession(std::string t, std::string o, std::string w, size_t max_objects, int64_t now)
      : token(std::move(t)), origin(std::move(o)), owner(std::move(w)), wire(max_objects), last_used(now) {}

  const std::string token;   // the secret a page names its session by
  const std::string origin;  // canonical origin of the page; empty for clients that sent none
  const std::string owner;   // whose share of the sessions it takes: the origin, or the local peer
  Session wire;
  int64_t last_used;         // microseconds on the table's clock
  int busy = 0;              // calls in progress
  bool ended = false;
  uint64_t number = 0;       // 1 for the first session the table opened, and so on; for the log
};

// Why a session ended, for the log.
enum class SessionEnd { kClosed, kIdle, kMadeRoom, kHostStopped };

class SessionTable {
 public:
  // Microseconds of a monotonic clock.
  using Clock = std::function<int64_t()>;

  SessionTable(size_t max_sessions, size_t max_objects, int64_t idle_timeout_us, Clock clock = {});
  ~SessionTable();

  // A new session for a page of `origin`, or for a local program without an origin connected
  // as `peer` (its user or address). Each origin, and each peer without one, has a share of
  // max_per_owner sessions: when its share is taken, its least recently used session that is
  // not in a call is ended to make room. Null when that is not possible, or when max_sessions
  // are open.
  PageSession* Open(const std::string& origin, const std::string& peer = {});
  // The share of one origin, or of one peer without an origin; unbounded until set.
  void SetMaxPerOwner(size_t max_per_owner) noexcept { max_per_owner_ = max_per_owner; }
  // The live session named by token, or null.
  PageSession* Find(const std::string& token);
  // Ends the session: its objects are released (a LocalDB closes its database). Returns false
  // when no live session has that token.
  bool End(const std::string& token, SessionEnd why = SessionEnd::kClosed);
  // Called with each session that ends, before its objects are released.
  void SetEndObserver(std::function<void(const PageSession&, SessionEnd)> observer) { observer_ = std::move(observer); }
  // Ends every session unused for longer than the idle timeout and not in a call. Returns how
  // many ended.
  size_t EndIdle();
  // Ends every session (the host is stopping).
  void EndAll();

  size_t Count() const noexcept { return sessions_.size(); }
  int64_t IdleTimeoutMicros() const noexcept { return idle_timeout_us_; }

  // Marks a session busy for the length of one request and stamps its last use when done;
  // a session ended meanwhile is destroyed when its last lease goes.
  class Lease {
   public:
    Lease(SessionTable& table, PageSession& session);
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    PageSession& operator*() const noexcept { return session_; }
    PageSession* operator->() const noexcept { return &session_; }

   private:
    SessionTable& table_;
    PageSession& session_;
  };

 private:
  void Finish(PageSession& session);

  size_t max_sessions_;
  size_t max_per_owner_;
  size_t max_objects_;
  int64_t idle_timeout_us_;
  Clock clock_;
  std::map<std::string, std::unique_ptr<PageSession>> sessions_;
  uint64_t opened_ = 0;
  std::function<void(const PageSession&, SessionEnd)> observer_;
};

// 128 random bits as 32 lower-case hexadecimal digits, from the kernel's random source.
std::string NewSessionToken();

}  // namespace zentrak::host
