#include "run/RunLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm {

namespace {

constexpr const char* kLineEnd = "\r\n";

// Appends one entry, starting the file with its header when it is new.
bool AppendEntry(const std::string& fileName, const std::string& message) {
  std::string bytes;
  int fd = OpenRegularFile(fileName, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
  if (fd >= 0) {
    bytes = "Created on: " + CurrentDateText() + " at " + CurrentTimeText() +
            kLineEnd + std::string(79, '*') + kLineEnd;
  } else if (errno == EEXIST) {
    fd = OpenRegularFile(fileName, O_WRONLY | O_APPEND);
  }
  if (fd < 0) return false;
  bytes += message + kLineEnd;
  const bool written = WriteAll(fd, bytes);
  return close(fd) == 0 && written;
}

void CountProblem(RunCounts& counts, const std::string& log) {
  ++counts.problems;
  if (std::find(counts.logs.begin(), counts.logs.end(), log) ==
      counts.logs.end())
    counts.logs.push_back(log);
}

// One entry is one line: control characters become "^" and a letter
// (line feed "^J", DEL "^?").
std::string Escaped(const std::string& message) {
  std::string text;
  text.reserve(message.size());
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      text += '^';
      text += static_cast<char>(byte ^ 0x40);
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace

std::string LogFileName(const std::string& baseName) {
  return DirectoryPart(baseName) + PathWithoutExtension(baseName) + ".err";
}

void LogRunError(RunContext& ctx, const std::string& message) {
  const std::string entry = Escaped(message);
  if (ctx.view.IsTestRun()) {
    ctx.view.AddTestRunLine("ERR: " + entry);
    return;
  }
  // An existing log is extended even when its name differs in letter case.
  const std::string fileName = LogFileName(ctx.state.logBaseName);
  const std::string existing = ResolveExisting(fileName);
  const std::string& target = existing.empty() ? fileName : existing;
  CountProblem(ctx.state.counts, target);
  // On failure the run goes on; the entry survives on standard error.
  if (!AppendEntry(target, entry)) {
    ctx.view.ShowMessage(kRunLogIoError);
    std::fprintf(stderr, "%s\n", entry.c_str());
  }
}

bool EntryHasPath(RunContext& ctx, const std::string& path, int32_t area) {
  if (!path.empty()) return true;
  LogRunError(
      ctx, "No path set for FA# " + std::to_string(area) + ": entry skipped");
  return false;
}

}  // namespace qm
