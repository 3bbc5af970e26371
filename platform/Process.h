// Running a command without a shell, with a time limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qm {

// Words separated by blanks; double quotes keep blanks inside a word (the
// quotes themselves are dropped).
std::vector<std::string> SplitCommand(const std::string& text);

struct CommandOutcome {
  enum class Kind { Exited, Signalled, TimedOut, NotStarted };
  Kind kind = Kind::NotStarted;
  int code = 0;  // the exit status or the signal number
};

// Runs argv[0] (looked up in PATH when it has no "/") with the arguments,
// its input and output on /dev/null, in a process group of its own that is
// killed whole when the command ends, past timeoutSeconds, or when this
// process dies (even by SIGKILL): nothing the command started outlives it.
// whileWaiting is called a few times a second until the command ends. Call
// it from the thread that lives as long as the process (the main thread).
CommandOutcome RunCommand(const std::vector<std::string>& argv,
                          int timeoutSeconds,
                          const std::function<void()>& whileWaiting = {});

}  // namespace qm
