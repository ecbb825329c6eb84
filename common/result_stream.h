// A way out for a long result text while it is still being made. A server that can hand a text
// to its client in pieces offers a stream for the duration of one call; a member whose result
// can be long (LocalDB's queryAll) takes it, writes the text's end there, and returns its
// beginning as the result. Without an offer (COM, or a client that cannot take pieces), the
// result is returned whole as always.
#pragma once

#include <string_view>

namespace zentrak {

class ResultStream {
 public:
  virtual ~ResultStream() = default;
  // The next piece of the text, in standard UTF-8, after the pieces written before.
  virtual void Write(std::string_view utf8) = 0;
};

// The stream offered to this thread's current call, taken: a second call gets null, so that
// only one result of a call goes out in pieces.
ResultStream* TakeOfferedResultStream() noexcept;

// Offers `stream` to the calls made on this thread while it lives (null: no offer).
class ScopedResultStreamOffer {
 public:
  explicit ScopedResultStreamOffer(ResultStream* stream) noexcept;
  ~ScopedResultStreamOffer();
  ScopedResultStreamOffer(const ScopedResultStreamOffer&) = delete;
  ScopedResultStreamOffer& operator=(const ScopedResultStreamOffer&) = delete;

 private:
  ResultStream* previous_;
};

}  // namespace zentrak
