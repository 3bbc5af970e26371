#include "platform/Contained.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>

#include "platform/Files.h"

namespace qm {

namespace {

// Exit codes of the child besides 0.
constexpr int kOutOfMemory = 90;
constexpr int kFailed = 91;

// The process's address space now, in bytes; 0 when unknown.
size_t AddressSpace() {
  std::FILE* statm = std::fopen("/proc/self/statm", "re");
  if (statm == nullptr) return 0;
  unsigned long pages = 0;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  return read ? pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

[[noreturn]] void RunChild(const std::function<std::string()>& work,
                           const ContainedLimits& limits, int out) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const rlim_t cpu = static_cast<rlim_t>(limits.seconds);
  const rlimit cpuLimit{cpu, cpu + 1};
  setrlimit(RLIMIT_CPU, &cpuLimit);
  const rlimit noCore{0, 0};  // a child stopped by a limit leaves no core
  setrlimit(RLIMIT_CORE, &noCore);
  const size_t now = AddressSpace();
  if (kContainedMemoryLimited && now > 0) {
    const rlimit space{now + limits.extraBytes, now + limits.extraBytes};
    setrlimit(RLIMIT_AS, &space);
  }
  int code = 0;
  try {
    const std::string reply = work();
    if (!WriteAll(out, reply)) code = kFailed;
  } catch (const std::bad_alloc&) {
    code = kOutOfMemory;
  } catch (...) {
    code = kFailed;
  }
  _exit(code);
}

}  // namespace

ContainedResult RunContained(const std::function<std::string()>& work,
                             const ContainedLimits& limits) {
  ContainedResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    RunChild(work, limits, fds[1]);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return result;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
  bool timedOut = false;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd in{fds[0], POLLIN, 0};
    const int ready = poll(&in, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.reply.append(buffer, static_cast<size_t>(got));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut || (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU ||
                                           WTERMSIG(status) == SIGKILL)))
    result.end = ContainedEnd::TimedOut;
  else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    result.end = ContainedEnd::Finished;
  else if (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemory)
    result.end = ContainedEnd::OutOfMemory;
  else
    result.end = ContainedEnd::Failed;
  if (result.end != ContainedEnd::Finished) result.reply.clear();
  return result;
}

}  // namespace qm
