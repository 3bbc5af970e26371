#include "platform/FaultInjection.h"

#include <cerrno>
#include <utility>

namespace qm::fault {

namespace {

std::atomic<uint64_t> calls[kKinds];
std::atomic<int> failKind{-1};
std::atomic<uint64_t> failAt{0};
std::atomic<bool> fired{false};
std::function<void(const char*)> pointHook;

}  // namespace

namespace detail {

std::atomic<bool> armed{false};
std::atomic<bool> pointsWatched{false};

void ReachPoint(const char* name) {
  if (pointHook) pointHook(name);
}

bool Count(Kind kind) {
  int k = static_cast<int>(kind);
  uint64_t n = calls[k].fetch_add(1, std::memory_order_relaxed) + 1;
  if (k != failKind.load(std::memory_order_relaxed) ||
      n != failAt.load(std::memory_order_relaxed))
    return false;
  fired.store(true, std::memory_order_relaxed);
  errno = EIO;
  return true;
}

}  // namespace detail

void Arm(Kind kind, uint64_t n) {
  detail::armed.store(false);
  for (auto& count : calls) count.store(0);
  failKind.store(static_cast<int>(kind));
  failAt.store(n);
  fired.store(false);
  detail::armed.store(true);
}

void Disarm() { detail::armed.store(false); }

uint64_t Calls(Kind kind) { return calls[static_cast<int>(kind)].load(); }

bool Fired() { return fired.load(); }

void WatchPoints(std::function<void(const char* name)> hook) {
  detail::pointsWatched.store(false);
  pointHook = std::move(hook);
  detail::pointsWatched.store(static_cast<bool>(pointHook));
}

}  // namespace qm::fault
