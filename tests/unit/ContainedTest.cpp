#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Contained.h"

namespace {

using End = qm::ContainedEnd;

volatile int spinning = 1;  // never cleared: read anew on every turn

// How the work ends decides the outcome; only finished work has a reply,
// and nothing the child does reaches the caller's memory.
TEST(Contained, EndsAsTheWorkDidAndRepliesOnlyWhenFinished) {
  int touched = 0;
  auto result = qm::RunContained([&] {
    touched = 1;
    return std::string(100000, 'r');  // more than a pipe holds at once
  });
  EXPECT_EQ(result.end, End::Finished);
  EXPECT_EQ(result.reply, std::string(100000, 'r'));
  EXPECT_EQ(touched, 0);

  result = qm::RunContained([]() -> std::string { throw std::bad_alloc(); });
  EXPECT_EQ(result.end, End::OutOfMemory);
  result = qm::RunContained(
      []() -> std::string { throw std::runtime_error("reader fault"); });
  EXPECT_EQ(result.end, End::Failed);
  result = qm::RunContained([]() -> std::string {
    raise(SIGSEGV);
    return "never";
  });
  EXPECT_EQ(result.end, End::Failed);
  EXPECT_EQ(result.reply, "");
}

// A child that never returns, sleeping or spinning, is stopped at its time;
// one that asks for more memory than its bound gets none.
TEST(Contained, LimitsStopWorkThatHangsSpinsOrGrows) {
  const auto start = std::chrono::steady_clock::now();
  auto result = qm::RunContained(
      []() -> std::string {
        sleep(30);
        return "late";
      },
      {1});
  EXPECT_EQ(result.end, End::TimedOut);
  EXPECT_EQ(result.reply, "");
  result = qm::RunContained(
      []() -> std::string {
        while (spinning != 0) {
        }
        return "late";
      },
      {1});
  EXPECT_EQ(result.end, End::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  if (!qm::kContainedMemoryLimited) GTEST_SKIP() << "no memory bound here";
  result = qm::RunContained(
      [] {
        std::vector<char> big(size_t{256} << 20, 'm');
        return std::string(1, big.back());
      },
      {5, size_t{32} << 20});
  EXPECT_EQ(result.end, End::OutOfMemory);
  result = qm::RunContained(
      [] {
        std::vector<char> small(size_t{8} << 20, 'm');
        return std::string(1, small.back());
      },
      {5, size_t{32} << 20});
  EXPECT_EQ(result.end, End::Finished);
  EXPECT_EQ(result.reply, "m");
}

}  // namespace
