// Running a command without a shell, with a time limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qm {

// Words separated by blanks; double quotes keep blanks inside a word (the
// quotes themselves are dropped).
std::vector<std::string> SplitCommand(const std::string& text);

inline constexpr size_t kMostOutputLineBytes = 200;

struct CommandOutcome {
  enum class Kind { Exited, Signalled, TimedOut, NotStarted };
  Kind kind = Kind::NotStarted;
  int code = 0;  // the exit status or the signal number
  // The first line of its output that is not blank, without its line end
  // and cut to kMostOutputLineBytes; standard error's only when standard
  // output had none. Control characters are kept as they came.
  std::string firstLine;
};

// Runs argv[0] (looked up in PATH when it has no "/") with the arguments,
// its input on /dev/null and its output read (all of it, but for the first
// line dropped as it comes), in a process group of its own that is
// killed whole when the command ends, past timeoutSeconds, or when this
// process dies (even by SIGKILL): nothing the command started outlives it.
// whileWaiting is called a few times a second until the command ends. Call
// it from the thread that lives as long as the process (the main thread).
// The program a command names, found as RunCommand finds it; empty when
// there is none.
std::string FindProgram(const std::string& name);

// A path of this process's /proc/self/ as other processes name it
// (/proc/PID/); any other path as it is.
std::string ForOtherProcesses(const std::string& path);

// How a program run by RunProgramIn ended.
enum class ProgramEnd { Succeeded, Failed, NotFound, Stopped };

// Runs argv[0] without a shell, its working directory `folder`, its input
// and error output on /dev/null, at most memoryBytes of data, each line of
// its output given to onLine (past 4 KiB a line is cut); onLine answering
// false stops it (Stopped). It dies with the caller: meant for a contained
// child (platform/Contained.h), whose limits then hold for it too.
ProgramEnd RunProgramIn(const std::vector<std::string>& argv,
                        const std::string& folder, size_t memoryBytes,
                        const std::function<bool(const std::string&)>& onLine);

CommandOutcome RunCommand(const std::vector<std::string>& argv,
                          int timeoutSeconds,
                          const std::function<void()>& whileWaiting = {});

}  // namespace qm
