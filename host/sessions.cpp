// Sessions of page loads and their ends.
#include "host/sessions.h"

#include <sys/random.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace zentrak::host {

std::string NewSessionToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("no random source for session tokens");
    }
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

SessionTable::SessionTable(size_t max_sessions, size_t max_objects, int64_t idle_timeout_us, Clock clock)
    : max_sessions_(max_sessions), max_per_owner_(SIZE_MAX), max_objects_(max_objects), idle_timeout_us_(idle_timeout_us), clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
}

SessionTable::~SessionTable() { EndAll(); }

PageSession* SessionTable::Open(const std::string& origin, const std::string& peer) {
  // Origins hold "scheme://", so no peer's key can pass for one.
  std::string owner = origin.empty() ? "local " + peer : origin;
  size_t mine = 0;
  PageSession* oldest_idle = nullptr;
  for (const auto& [token, s] : sessions_) {
    if (s->ended || s->owner != owner) continue;
    ++mine;
    if (s->busy == 0 && (!oldest_idle || s->last_used < oldest_idle->last_used)) oldest_idle = s.get();
  }
  if (mine >= max_per_owner_) {
    if (!oldest_idle) return nullptr;
    End(oldest_idle->token, SessionEnd::kMadeRoom);
  }
  if (sessions_.size() >= max_sessions_) return nullptr;
  std::string token = NewSessionToken();
  auto session = std::make_unique<PageSession>(token, origin, std::move(owner), max_objects_, clock_());
  PageSession* p = session.get();
  p->number = ++opened_;
  sessions_.emplace(token, std::move(session));
  return p;
}

PageSession* SessionTable::Find(const std::string& token) {
  auto it = sessions_.find(token);
  if (it == sessions_.end() || it->second->ended) return nullptr;
  return it->second.get();
}

bool SessionTable::End(const std::string& token, SessionEnd why) {
  auto it = sessions_.find(token);
  if (it == sessions_.end() || it->second->ended) return false;
  PageSession& s = *it->second;
  s.ended = true;
  if (observer_) observer_(s, why);
  if (s.busy == 0) {
    sessions_.erase(it);  // the Session's destructor releases the objects
  } else {
    // The running call keeps its own object alive; everything else goes now.
    s.wire.ReleaseAll();
  }
  return true;
}

size_t SessionTable::EndIdle() {
  const int64_t now = clock_();
  std::vector<std::string> idle;
  for (const auto& [token, s] : sessions_)
    if (!s->ended && s->busy == 0 && now - s->last_used > idle_timeout_us_) idle.push_back(token);
  for (const auto& token : idle) End(token, SessionEnd::kIdle);
  return idle.size();
}

void SessionTable::EndAll() {
  std::vector<std::string> all;
  for (const auto& entry : sessions_) all.push_back(entry.first);
  for (const auto& token : all) End(token, SessionEnd::kHostStopped);
}

void SessionTable::Finish(PageSession& session) {
  session.last_used = clock_();
  if (--session.busy == 0 && session.ended) {
    std::string token = session.token;  // the key dies with the session
    sessions_.erase(token);
  }
}

SessionTable::Lease::Lease(SessionTable& table, PageSession& session) : table_(table), session_(session) {
  ++session_.busy;
}

SessionTable::Lease::~Lease() { table_.Finish(session_); }

}  // namespace zentrak::host
