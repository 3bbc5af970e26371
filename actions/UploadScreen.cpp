#include "actions/UploadScreen.h"

#include <sys/stat.h>

#include <optional>

#include "actions/ContentIndex.h"
#include "actions/Transfer.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "run/RunLog.h"

namespace qm {

// The extras' state for one run.
class UploadScreen {
 public:
  ContentIndex& Index(RunContext& ctx) {
    if (!index_) index_ = std::make_unique<ContentIndex>(ctx);
    return *index_;
  }
  // The file whose hash was taken last, for RememberUpload.
  std::string hashedPath;
  IndexedFile hashed;
  bool checkStarts = true;  // false once the command could not be started

 private:
  std::unique_ptr<ContentIndex> index_;
};

namespace {

constexpr uint64_t kSizeLimit = 0x80000000ull;

UploadScreen& Screen(RunState& state) {
  if (!state.uploadScreen)
    state.uploadScreen = std::make_shared<UploadScreen>();
  return *state.uploadScreen;
}

// What the add would take without a word: a plain, short enough name of a
// regular file under 2 GiB.
std::string Acceptable(const std::string& name, const std::string& localPath) {
  if (!IsPlainName(name) || name.size() > size_t(kMaxStoredNameLength))
    return {};
  const std::string found = ResolveExisting(localPath);
  struct stat st {};
  if (found.empty() || lstat(found.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      uint64_t(st.st_size) >= kSizeLimit)
    return {};
  return found;
}

void Increment(std::optional<int>& count) {
  if (count) ++*count;
}

// Runs the upload check on a file; false, logged, when it refuses it.
bool Checked(RunContext& ctx, UploadScreen& screen, const std::string& path) {
  const ExtrasSettings& extras = ctx.state.extras;
  std::vector<std::string> argv = SplitCommand(extras.uploadCheck);
  for (std::string& word : argv) {
    for (size_t at = word.find("%f"); at != std::string::npos;
         at = word.find("%f", at + path.size()))
      word.replace(at, 2, path);
  }
  CommandOutcome outcome;
  if (screen.checkStarts) {
    outcome = RunCommand(argv, extras.uploadCheckSeconds,
                         [&] { ctx.view.ProcessEvents(); });
  }
  std::string why;
  switch (outcome.kind) {
    case CommandOutcome::Kind::Exited:
      if (outcome.code == 0) return true;
      why = "exit " + std::to_string(outcome.code);
      break;
    case CommandOutcome::Kind::Signalled:
      why = "signal " + std::to_string(outcome.code);
      break;
    case CommandOutcome::Kind::TimedOut:
      why = "timed out after " + std::to_string(outcome.code) + " s";
      break;
    case CommandOutcome::Kind::NotStarted:
      if (screen.checkStarts)
        LogRunError(ctx, "Upload check could not start: " + extras.uploadCheck);
      screen.checkStarts = false;
      break;
  }
  if (!why.empty())
    LogRunError(ctx, "Upload check refused: " + path + " (" + why + ")");
  Increment(ctx.state.counts.uploadChecksRefused);
  return false;
}

}  // namespace

bool ScreenUpload(RunContext& ctx, const std::string& name,
                  const std::string& sourceDir, const std::string& localPath) {
  const ExtrasSettings& extras = ctx.state.extras;
  const bool duplicates = extras.duplicates != DuplicateMode::Off;
  if (!duplicates && extras.uploadCheck.empty()) return true;
  const std::string path = Acceptable(name, localPath);
  if (path.empty()) return true;
  UploadScreen& screen = Screen(ctx.state);

  std::optional<IndexedFile> same;
  screen.hashedPath.clear();
  if (duplicates) {
    ContentIndex& index = screen.Index(ctx);
    IndexedFile& file = screen.hashed;
    if (HashLocalFile(path, file.size, file.hash)) {
      screen.hashedPath = path;
      same = index.FindSame(file.size, file.hash);
    }
  }
  const auto line = [&](const char* what) {
    return std::string("Duplicate ") + what + ": " + name +
           " from path: " + sourceDir + " has the same content as FA# " +
           std::to_string(same->area) + ": " + same->name;
  };
  if (same && extras.duplicates == DuplicateMode::Refuse) {
    LogRunError(ctx, line("not added"));
    Increment(ctx.state.counts.duplicatesRefused);
    return false;
  }
  if (!extras.uploadCheck.empty() && !Checked(ctx, screen, path)) return false;
  if (same) {
    LogRunError(ctx, line("added"));
    Increment(ctx.state.counts.duplicatesReported);
  }
  return true;
}

void RememberUpload(RunContext& ctx, int32_t area, const std::string& name,
                    const std::string& localPath) {
  if (!ctx.state.uploadScreen) return;
  UploadScreen& screen = *ctx.state.uploadScreen;
  if (screen.hashedPath.empty() ||
      screen.hashedPath != ResolveExisting(localPath))
    return;
  IndexedFile file = screen.hashed;
  file.area = area;
  file.name = name;
  screen.hashedPath.clear();
  if (ctx.view.IsTestRun()) {
    file.localPath = ResolveExisting(localPath);
  } else {
    // The index compares the stored copy's own size and time.
    uint64_t size = 0;
    if (!StoredFileStat(area, name, size, file.time) || size != file.size)
      return;
  }
  screen.Index(ctx).Remember(std::move(file));
}

void EndUploadScreen(RunState& state) { state.uploadScreen.reset(); }

void StartExtrasCounts(RunState& state) {
  const ExtrasSettings& extras = state.extras;
  if (extras.duplicates == DuplicateMode::Refuse)
    state.counts.duplicatesRefused = 0;
  if (extras.duplicates == DuplicateMode::Report)
    state.counts.duplicatesReported = 0;
  if (!extras.uploadCheck.empty()) state.counts.uploadChecksRefused = 0;
}

std::string ExtrasSummary(const RunCounts& counts) {
  std::string text;
  if (counts.duplicatesRefused)
    text +=
        "; duplicates refused: " + std::to_string(*counts.duplicatesRefused);
  if (counts.duplicatesReported)
    text +=
        "; duplicates reported: " + std::to_string(*counts.duplicatesReported);
  if (counts.uploadChecksRefused)
    text += "; upload checks refused: " +
            std::to_string(*counts.uploadChecksRefused);
  return text;
}

std::string DuplicatesReport(RunContext& ctx) {
  std::string text;
  const ContentIndex index(ctx);
  for (const auto& group : index.Groups()) {
    if (!text.empty()) text += '\n';
    for (const IndexedFile& file : group)
      text += "FA# " + std::to_string(file.area) + ": " + file.name + " " +
              std::to_string(file.size) + '\n';
  }
  return text;
}

}  // namespace qm
