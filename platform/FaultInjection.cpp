#include "platform/FaultInjection.h"

#include <cerrno>

namespace qm::fault {

namespace {

std::atomic<uint64_t> calls[kKinds];
std::atomic<int> failKind{-1};
std::atomic<uint64_t> failAt{0};
std::atomic<bool> fired{false};

}  // namespace

namespace detail {

std::atomic<bool> armed{false};

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

}  // namespace qm::fault
