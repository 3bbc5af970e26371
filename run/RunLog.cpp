#include "run/RunLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"

namespace qm {

namespace {

constexpr const char* kLineEnd = "\r\n";

// Appends one entry. A log that holds nothing yet (new, or left empty by a
// full disk) gets its header together with the first entry that is kept;
// an entry cut short is taken back, so no later entry follows a stump.
bool AppendEntry(const std::string& fileName, const std::string& message) {
  Result<File> file = File::Open(
      fileName, OpenFlags::Write | OpenFlags::Append | OpenFlags::Create);
  if (!file) return false;
  const Result<FileFacts> before = file->Facts();
  const uint64_t sizeBefore = before ? before->size : 0;
  std::string bytes;
  if (before && sizeBefore == 0)
    bytes = "Created on: " + CurrentDateText() + " at " + CurrentTimeText() +
            kLineEnd + std::string(79, '*') + kLineEnd;
  bytes += message + kLineEnd;
  size_t done = 0;
  const bool written = file->Write(bytes.data(), bytes.size(), &done).ok();
  if (!written && done > 0) {
    const Result<FileFacts> after = file->Facts();
    if (after && after->size == sizeBefore + done)
      (void)file->Truncate(sizeBefore);
  }
  return file->Close().ok() && written;
}

void CountOnce(std::vector<std::string>& logs, const std::string& log) {
  if (std::find(logs.begin(), logs.end(), log) == logs.end())
    logs.push_back(log);
}

}  // namespace

std::string EscapeControls(const std::string& data) {
  std::string text;
  text.reserve(data.size());
  for (const char c : data) {
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

std::string LogFileName(const std::string& baseName) {
  return DirectoryPart(baseName) + PathWithoutExtension(baseName) + ".err";
}

void LogRunError(RunContext& ctx, const std::string& message) {
  LogRunMessage(ctx, EscapeControls(message));
}

void LogRunMessage(RunContext& ctx, const std::string& message) {
  if (ctx.view.IsTestRun()) {
    ctx.view.AddTestRunLine("ERR: " + EscapeControls(message));
    return;
  }
  // An existing log is extended even when its name differs in letter case.
  const std::string fileName = LogFileName(ctx.state.logBaseName);
  const std::string existing = ResolveExisting(fileName);
  const std::string& target = existing.empty() ? fileName : existing;
  RunCounts& counts = ctx.state.counts;
  if (AppendEntry(target, message)) {
    ++counts.problems;
    CountOnce(counts.logs, target);
    return;
  }
  // The run goes on; the entry survives on standard error.
  ++counts.unlogged;
  CountOnce(counts.unwritableLogs, target);
  ctx.view.ShowMessage(kRunLogIoError);
  std::fprintf(stderr, "%s\n", EscapeControls(message).c_str());
}

bool EntryHasPath(RunContext& ctx, const std::string& path, int32_t area) {
  if (!path.empty()) return true;
  LogRunError(
      ctx, "No path set for FA# " + std::to_string(area) + ": entry skipped");
  return false;
}

}  // namespace qm
