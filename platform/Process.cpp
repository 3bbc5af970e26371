#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

// Gives a child the start a shell would: default signal handling, nothing
// blocked, its own process group (so a timeout ends what it started too).
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setpgroup(&attr_, 0);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK |
                                         POSIX_SPAWN_SETSIGDEF |
                                         POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, 1, 2);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

CommandOutcome FromStatus(int status) {
  if (WIFSIGNALED(status))
    return {CommandOutcome::Kind::Signalled, WTERMSIG(status)};
  return {CommandOutcome::Kind::Exited, WEXITSTATUS(status)};
}

}  // namespace

std::vector<std::string> SplitCommand(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

CommandOutcome RunCommand(const std::vector<std::string>& argv,
                          int timeoutSeconds,
                          const std::function<void()>& whileWaiting) {
  if (argv.empty()) return {};
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const SpawnSetup setup;
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(),
                   environ) != 0)
    return {};

  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(timeoutSeconds);
  Clock::time_point nextCall = Clock::now() + std::chrono::milliseconds(100);
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return FromStatus(status);
    if (done < 0 && errno != EINTR) return {};
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (whileWaiting && now >= nextCall) {
      whileWaiting();
      nextCall = now + std::chrono::milliseconds(100);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
  kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return {CommandOutcome::Kind::TimedOut, timeoutSeconds};
}

}  // namespace qm
