#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// A path, or a name looked up in PATH.
std::string FindProgram(const std::string& name) {
  auto runnable = [](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos)
    return runnable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(at, end - at);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (runnable(candidate)) return candidate;
    at = end + 1;
  }
  return {};
}

namespace {

void DefaultSignals() {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &plain, nullptr);
}

// Reports to the run: 'E' when the command could not start, 'S' and the
// wait status when it ended.
void Report(int out, char kind, int status) {
  char message[1 + sizeof status];
  message[0] = kind;
  std::memcpy(message + 1, &status, sizeof status);
  (void)!write(out, message, sizeof message);
}

// The child of the run that leads the command's process group: it starts
// the command, waits for it, and kills the whole group when the command
// ends, or when the run dies (a signal the kernel sends when its parent
// goes), so that nothing the command started outlives it or the run. Only
// async-signal-safe calls: the run may have other threads.
[[noreturn]] void Supervise(pid_t run, const char* program, char* const* argv,
                            char* const* envp, int report, int out, int err) {
  setpgid(0, 0);
  // None of the run's descriptors: held here, the host's lock would outlast
  // a killed run, and the command gets none of them either.
  int kept[] = {report, out, err};
  std::sort(kept, kept + 3);
  unsigned from = 3;
  for (const int fd : kept) {
    const auto at = static_cast<unsigned>(fd);
    if (at > from) close_range(from, at - 1, 0);
    from = std::max(from, at + 1);
  }
  close_range(from, ~0u, 0);
  sigset_t waited;
  sigemptyset(&waited);
  sigaddset(&waited, SIGUSR1);
  sigaddset(&waited, SIGCHLD);
  DefaultSignals();
  sigprocmask(SIG_SETMASK, &waited, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGUSR1);
  if (getppid() != run) kill(0, SIGKILL);  // the run died before that
  const pid_t self = getpid();
  const pid_t command = fork();
  if (command == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != self) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) {
      dup2(null, 0);
      if (null > 2) close(null);
    }
    dup2(out, 1);
    dup2(err, 2);
    execve(program, argv, envp);
    Report(report, 'E', errno);
    _exit(127);
  }
  if (command < 0) {
    Report(report, 'E', errno);
    _exit(0);
  }
  close(out);
  close(err);
  for (;;) {
    const int sig = sigwaitinfo(&waited, nullptr);
    if (sig == SIGUSR1) kill(0, SIGKILL);
    int status = 0;
    if (sig == SIGCHLD && waitpid(command, &status, WNOHANG) == command) {
      Report(report, 'S', status);
      kill(0, SIGKILL);  // what the command left running, and this process
    }
  }
}

// The first line of a stream that is not blank, taken as it comes.
class FirstLine {
 public:
  void Take(const char* bytes, size_t size) {
    for (size_t at = 0; at < size && !found_; ++at) {
      if (bytes[at] != '\n') {
        if (line_.size() < kMostOutputLineBytes) line_ += bytes[at];
      } else if (Blank()) {
        line_.clear();
      } else {
        found_ = true;
      }
    }
  }
  std::string Line() const {
    if (Blank()) return {};
    const size_t first = line_.find_first_not_of(kBlanks);
    return line_.substr(first, line_.find_last_not_of(kBlanks) + 1 - first);
  }

 private:
  static constexpr char kBlanks[] = " \t\r\f\v";
  bool Blank() const {
    return line_.find_first_not_of(kBlanks) == std::string::npos;
  }
  std::string line_;
  bool found_ = false;
};

// One of the command's output pipes, read without waiting.
struct Output {
  int fd = -1;
  FirstLine line;
  ~Output() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  // Reads what is there now, a bounded amount so that a command that
  // writes without end cannot hold up the time limit; closes at the end.
  void Drain() {
    char buffer[65536];
    for (int reads = 0; fd >= 0 && reads < 16; ++reads) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) {
        line.Take(buffer, static_cast<size_t>(got));
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        if (got == 0 || errno != EAGAIN) Close();
        return;
      }
    }
  }
};

// A pipe for one of the command's outputs: its ends are not standard
// descriptors (the command's are set from them) and the run's end does not
// wait. False, nothing left open, when none can be made.
bool MakeOutputPipe(int ends[2]) {
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (ends[i] > 2) continue;
    const int moved = fcntl(ends[i], F_DUPFD_CLOEXEC, 3);
    close(ends[i]);
    ends[i] = moved;
  }
  if (ends[0] >= 0 && ends[1] >= 0 && fcntl(ends[0], F_SETFL, O_NONBLOCK) == 0)
    return true;
  for (int i = 0; i < 2; ++i)
    if (ends[i] >= 0) close(ends[i]);
  return false;
}

// Waits up to pause for output, reading what comes.
void WaitForOutput(Output (&outputs)[2], std::chrono::microseconds pause) {
  pollfd fds[2];
  nfds_t count = 0;
  for (const Output& output : outputs)
    if (output.fd >= 0) fds[count++] = {output.fd, POLLIN, 0};
  const timespec wait{0, static_cast<long>(pause.count()) * 1000};
  if (count == 0)
    std::this_thread::sleep_for(pause);
  else
    ppoll(fds, count, &wait, nullptr);
  for (Output& output : outputs) output.Drain();
}

CommandOutcome FromStatus(int status) {
  if (WIFSIGNALED(status))
    return {CommandOutcome::Kind::Signalled, WTERMSIG(status), {}};
  return {CommandOutcome::Kind::Exited, WEXITSTATUS(status), {}};
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
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return {};
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int report[2], out[2], err[2];
  if (!MakeOutputPipe(out)) return {};
  if (!MakeOutputPipe(err)) {
    close(out[0]);
    close(out[1]);
    return {};
  }
  // The read ends are the run's alone: neither process below holds them.
  Output outputs[2];
  outputs[0].fd = out[0];
  outputs[1].fd = err[0];
  if (pipe2(report, O_CLOEXEC | O_NONBLOCK) != 0) {
    close(out[1]);
    close(err[1]);
    return {};
  }
  const pid_t run = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    Supervise(run, program.c_str(), args.data(), environ, report[1], out[1],
              err[1]);
  }
  close(report[1]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(report[0]);
    return {};
  }
  setpgid(pid, pid);  // as the child does, whichever comes first

  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(timeoutSeconds);
  Clock::time_point nextCall = Clock::now() + std::chrono::milliseconds(100);
  auto pause = std::chrono::microseconds(200);
  bool timedOut = false;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      timedOut = true;
      kill(-pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    if (whileWaiting && now >= nextCall) {
      whileWaiting();
      nextCall = now + std::chrono::milliseconds(100);
    }
    WaitForOutput(outputs, pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
  for (Output& output : outputs) output.Drain();
  char message[64];
  const ssize_t got = read(report[0], message, sizeof message);
  close(report[0]);
  int status = 0;
  const size_t size = 1 + sizeof status;
  if (got >= static_cast<ssize_t>(size) && message[0] == 'E') return {};
  CommandOutcome outcome{CommandOutcome::Kind::Signalled, SIGKILL, {}};
  if (got >= static_cast<ssize_t>(size) && message[0] == 'S') {
    std::memcpy(&status, message + 1, sizeof status);
    outcome = FromStatus(status);
  } else if (timedOut) {
    outcome = {CommandOutcome::Kind::TimedOut, timeoutSeconds, {}};
  }
  outcome.firstLine = outputs[0].line.Line();
  if (outcome.firstLine.empty()) outcome.firstLine = outputs[1].line.Line();
  return outcome;
}

std::string ForOtherProcesses(const std::string& path) {
  const std::string self = "/proc/self/";
  if (path.compare(0, self.size(), self) != 0) return path;
  return "/proc/" + std::to_string(getpid()) + "/" + path.substr(self.size());
}

ProgramEnd RunProgramIn(const std::vector<std::string>& argv,
                        const std::string& folder, size_t memoryBytes,
                        const std::function<bool(const std::string&)>& onLine) {
  const std::string program = argv.empty() ? "" : FindProgram(argv[0]);
  if (program.empty()) return ProgramEnd::NotFound;
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return ProgramEnd::Failed;
  const pid_t self = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != self) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    if (null < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    const rlimit data{memoryBytes, memoryBytes};
    setrlimit(RLIMIT_DATA, &data);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return ProgramEnd::Failed;
  }
  constexpr size_t kLongestLine = 4096;
  bool stopped = false;
  std::string line;
  char buffer[8192];
  auto take = [&] {
    if (!stopped && !onLine(line)) stopped = true;
    line.clear();
  };
  while (!stopped) {
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && !stopped; ++i) {
      if (buffer[i] == '\n')
        take();
      else if (buffer[i] != '\r' && line.size() < kLongestLine)
        line.push_back(buffer[i]);
    }
  }
  if (!line.empty()) take();
  if (stopped) kill(pid, SIGKILL);
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (stopped) return ProgramEnd::Stopped;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ProgramEnd::Succeeded
                                                       : ProgramEnd::Failed;
}

}  // namespace qm
