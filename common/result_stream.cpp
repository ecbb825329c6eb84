#include "common/result_stream.h"

#include <utility>

namespace zentrak {
namespace {
thread_local ResultStream* g_offered = nullptr;
}  // namespace

ResultStream* TakeOfferedResultStream() noexcept { return std::exchange(g_offered, nullptr); }

ScopedResultStreamOffer::ScopedResultStreamOffer(ResultStream* stream) noexcept
    : previous_(std::exchange(g_offered, stream)) {}

ScopedResultStreamOffer::~ScopedResultStreamOffer() { g_offered = previous_; }

}  // namespace zentrak
