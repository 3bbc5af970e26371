// Test-only failure injection: makes the n-th host, file or ZIP call fail,
// or runs a test's code at a named point. Inert unless a test arms it; an
// unarmed check is one relaxed load.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace qm::fault {

enum class Kind { Host, File, Zip };
constexpr int kKinds = 3;

namespace detail {
extern std::atomic<bool> armed;
extern std::atomic<bool> pointsWatched;
bool Count(Kind kind);
void ReachPoint(const char* name);
}  // namespace detail

// Starts counting calls of every kind from zero; the n-th call of kind
// (1-based) fails, once. n == 0 only counts.
void Arm(Kind kind, uint64_t n);
// Stops counting and failing; the counts stay readable.
void Disarm();
// Calls of kind seen since the last Arm.
uint64_t Calls(Kind kind);
// True once the armed call has failed.
bool Fired();

// At the entry of each injectable call: true when this one is to fail (errno
// is then EIO).
inline bool ShouldFail(Kind kind) {
  return detail::armed.load(std::memory_order_relaxed) && detail::Count(kind);
}

// Named points where a test may act at the moment the program reaches them
// (another writer racing a run, say). An empty hook ends the watch.
void WatchPoints(std::function<void(const char* name)> hook);
inline void Point(const char* name) {
  if (detail::pointsWatched.load(std::memory_order_relaxed))
    detail::ReachPoint(name);
}

}  // namespace qm::fault
