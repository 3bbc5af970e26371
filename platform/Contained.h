// Work on untrusted input done in a child process, so that no input and no
// fault in the code reading it can stall, exhaust or corrupt the caller:
// the child has a wall-clock and CPU time limit and a bound on the memory
// it may add, and dies with its parent.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace qm {

// Whether the memory bound holds in this build: the address sanitizer
// reserves terabytes of address space up front, so there only time counts.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kContainedMemoryLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kContainedMemoryLimited = false;
#else
inline constexpr bool kContainedMemoryLimited = true;
#endif
#else
inline constexpr bool kContainedMemoryLimited = true;
#endif

struct ContainedLimits {
  int seconds = 5;                       // wall clock and CPU time
  size_t extraBytes = size_t{64} << 20;  // address space beyond the parent's
};

enum class ContainedEnd {
  Finished,     // the work returned; its reply came back
  TimedOut,     // it ran out of time and was stopped
  OutOfMemory,  // an allocation failed (the work may say so itself)
  Failed,       // it crashed, or the child could not be made
};

struct ContainedResult {
  ContainedEnd end = ContainedEnd::Failed;
  std::string reply;
};

// Runs work in a forked child within the limits; what it returns comes
// back as the reply. The work may throw std::bad_alloc for OutOfMemory.
// The caller's memory is the child's copy: the work changes nothing here
// except through files.
ContainedResult RunContained(const std::function<std::string()>& work,
                             const ContainedLimits& limits = {});

}  // namespace qm
