#include "actions/UploadScreen.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "actions/ContentIndex.h"
#include "actions/Describe.h"
#include "actions/Transfer.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "run/UploadExtras.h"

namespace qm {

// The extras' state for one run.
class UploadScreen {
 public:
  ContentIndex& Index(RunContext& ctx) {
    if (!index_) index_ = std::make_unique<ContentIndex>(ctx);
    return *index_;
  }
  // Copies the upload at path into content's own folder; false, logged,
  // when that cannot be done.
  static bool CopyPrivately(RunContext& ctx, const std::string& path,
                            const std::string& name, UploadContent& content,
                            std::string& forCheck);
  // The file whose hash was taken last, for RememberUpload.
  std::string hashedPath;
  IndexedFile hashed;
  // False once the command could not be started or names no file.
  bool checkStarts = true;
  // False once the folder for refused uploads proved unusable.
  bool refusedFolderUsable = true;

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
  if (found.empty()) return {};
  const Result<FileFacts> facts = PathFacts(found, false);
  if (!facts || !facts->Regular() || facts->size >= kSizeLimit) return {};
  return found;
}

void Increment(std::optional<int>& count) {
  if (count) ++*count;
}

// Whether the file at path is still the one it was: same file, size and
// times.
bool Unchanged(const Result<FileFacts>& before, const std::string& path) {
  if (!before) return false;
  const Result<FileFacts> after = PathFacts(path, false);
  return after && SameUnchanged(*before, *after);
}

enum class Verdict {
  Passed,
  Refused,    // the check found against the file itself
  NotJudged,  // refused, but not for what the file holds
};

// Moves an upload an extra refused into the sysop's folder, so that it is
// not checked and logged again next night.
void MoveRefused(RunContext& ctx, UploadScreen& screen,
                 const std::string& path) {
  const std::string& setting = ctx.state.uploadExtras.refusedFolder;
  if (setting.empty() || !screen.refusedFolderUsable) return;
  const std::string folder =
      TrailingBackslash(ResolveAgainst(StateFolder(ctx.state), setting));
  const Result<std::string> free = FreeNameInFolder(folder, FileNamePart(path));
  if (!free) {
    LogRunError(ctx, "Folder for refused uploads not usable: " + folder + " (" +
                         free.error().Text() + ")");
    screen.refusedFolderUsable = false;
    return;
  }
  if (ctx.view.IsTestRun()) {
    ctx.view.AddTestRunLine("Move refused upload to: " + folder + *free);
    return;
  }
  const Result<std::string> moved = MoveIntoFolder(path, folder);
  if (moved)
    LogRunError(ctx, "Refused upload moved to: " + folder + *moved);
  else
    LogRunError(ctx, "Refused upload not moved: " + path + " (" +
                         moved.error().Text() + ")");
}

// Runs the upload check on the file at checked (path names it in the log);
// logs why when it refuses it. A file checked where it lies must be the
// same, unchanged, once the check is done.
Verdict Checked(RunContext& ctx, UploadScreen& screen, const std::string& path,
                const std::string& checked, bool inPlace) {
  const UploadExtras& extras = ctx.state.uploadExtras;
  std::vector<std::string> argv = SplitCommand(extras.uploadCheck);
  for (std::string& word : argv) {
    for (size_t at = word.find("%f"); at != std::string::npos;
         at = word.find("%f", at + checked.size()))
      word.replace(at, 2, checked);
  }
  // A command that is not given the file checks something else and passes
  // every upload.
  if (screen.checkStarts &&
      extras.uploadCheck.find("%f") == std::string::npos) {
    LogRunError(ctx, "Upload check names no file (%f), every upload refused: " +
                         extras.uploadCheck);
    screen.checkStarts = false;
  }
  const Result<FileFacts> before = PathFacts(path, false);
  CommandOutcome outcome;
  if (screen.checkStarts) {
    outcome = RunCommand(argv, extras.uploadCheckSeconds,
                         [&] { ctx.view.ProcessEvents(); });
  }
  if (inPlace && outcome.kind == CommandOutcome::Kind::Exited &&
      outcome.code == 0 && !Unchanged(before, path))
    outcome = {CommandOutcome::Kind::Exited, -1, {}};
  std::string why;
  switch (outcome.kind) {
    case CommandOutcome::Kind::Exited:
      if (outcome.code == 0) return Verdict::Passed;
      why = outcome.code < 0 ? "it changed while it was checked"
                             : "exit " + std::to_string(outcome.code);
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
  // The scanner's own words name what it found.
  if (!why.empty() && !outcome.firstLine.empty())
    why += ": " + outcome.firstLine;
  if (!why.empty())
    LogRunError(ctx, "Upload check refused: " + path + " (" + why + ")");
  Increment(ctx.state.counts.uploadChecksRefused);
  // A file still being written, or a check that never ran, says nothing
  // against the file: it is checked again next time.
  return outcome.code < 0 || why.empty() ? Verdict::NotJudged
                                         : Verdict::Refused;
}

}  // namespace

bool UploadScreen::CopyPrivately(RunContext& ctx, const std::string& path,
                                 const std::string& name,
                                 UploadContent& content,
                                 std::string& forCheck) {
  if (!MakeWorkFolder(ctx, content.folder_)) return false;
  Result<File> in = File::Open(path, OpenFlags::Read | OpenFlags::NoFollow);
  Result<File> out = in ? content.folder_.Create(name) : in.error();
  bool copied = out.ok();
  int error = in ? 0 : in.error().code;
  if (copied) {
    const Status status = CopyContent(*in, *out);
    copied = status.ok();
    // A read that fails is told as EIO below, a write by its own error.
    if (!copied && status.error().operation == "write")
      error = status.error().code;
  }
  if (out) {
    const Status closed = out->Close();
    if (!closed && copied) {
      copied = false;
      error = closed.error().code;
    }
  }
  if (!copied) {
    // A full Temp is Temp's problem; an upload that cannot be read is the
    // add's to report.
    if (in) LogTempUnusable(ctx, std::strerror(error ? error : EIO));
    return false;
  }
  content.path_ = content.folder_.Path() + name;
  forCheck = content.folder_.PathForOthers() + name;
  return true;
}

bool ScreenUpload(RunContext& ctx, const std::string& name,
                  const std::string& sourceDir, const std::string& localPath,
                  UploadContent* content) {
  const UploadExtras& extras = ctx.state.uploadExtras;
  const bool duplicates = extras.duplicates != DuplicateMode::Off;
  if (!duplicates && extras.uploadCheck.empty()) return true;
  const std::string path = Acceptable(name, localPath);
  if (path.empty()) return true;
  UploadScreen& screen = Screen(ctx.state);

  // What is checked and hashed is what is stored.
  std::string read = path, forCheck = path;
  const bool copy =
      content && !extras.uploadCheck.empty() && !ctx.view.IsTestRun();
  if (copy) {
    if (!UploadScreen::CopyPrivately(ctx, path, name, *content, forCheck)) {
      LogRunError(
          ctx, "Upload check refused: " + path + " (no private copy to check)");
      Increment(ctx.state.counts.uploadChecksRefused);
      return false;
    }
    read = content->Path();
  }

  std::optional<IndexedFile> same;
  screen.hashedPath.clear();
  if (duplicates) {
    ContentIndex& index = screen.Index(ctx);
    IndexedFile& file = screen.hashed;
    if (HashLocalFile(read, file.size, file.hash)) {
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
    MoveRefused(ctx, screen, path);
    return false;
  }
  if (!extras.uploadCheck.empty()) {
    const Verdict verdict = Checked(ctx, screen, path, forCheck, !copy);
    if (verdict == Verdict::Refused) MoveRefused(ctx, screen, path);
    if (verdict != Verdict::Passed) return false;
  }
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
  const UploadExtras& extras = state.uploadExtras;
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
  ContentIndex index(ctx);
  for (const auto& group : index.Groups()) {
    if (!text.empty()) text += '\n';
    for (const IndexedFile& file : group)
      text += "FA# " + std::to_string(file.area) + ": " + file.name + " " +
              std::to_string(file.size) + '\n';
  }
  return text;
}

}  // namespace qm
