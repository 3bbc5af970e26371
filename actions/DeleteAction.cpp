#include <cstdint>
#include <string>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "actions/Transfer.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "server/HostVolumes.h"

namespace qm {

namespace {

enum class DeleteMode { None, DeleteAndRemove, JustDeleteFiles, JustRemove };

DeleteMode ModeOf(const std::string& param) {
  if (param == "Delete and Remove") return DeleteMode::DeleteAndRemove;
  if (param == "Just Delete Files") return DeleteMode::JustDeleteFiles;
  if (param == "Just Remove Records") return DeleteMode::JustRemove;
  return DeleteMode::None;
}

const char* TestRunPrefix(DeleteMode mode) {
  switch (mode) {
    case DeleteMode::DeleteAndRemove:
      return "Delete and Remove From FA# ";
    case DeleteMode::JustDeleteFiles:
      return "Delete File From FA# ";
    case DeleteMode::JustRemove:
      return "Remove Record From FA# ";
    case DeleteMode::None:
      break;
  }
  return nullptr;
}

// Clean-up: the description action (unused by the delete itself) may narrow
// the selection to records whose stored file is gone or is old.
struct Cleanup {
  enum class Kind { None, MissingFiles, OlderThan } kind = Kind::None;
  uint64_t before = 0;  // "Only Older Than": file times before this
};

constexpr int kMostDays = 36500;

// The clean-up of an entry; false (logged) when its day count is not one,
// or when it would delete the files of records whose files are gone.
bool CleanupOf(RunContext& ctx, int32_t area, DeleteMode mode,
               const std::string& descAction, const std::string& descSpec,
               Cleanup& cleanup) {
  if (descAction == "Only Missing Files") {
    if (mode == DeleteMode::JustDeleteFiles) {
      LogRunError(ctx, "Only Missing Files has no files to delete for FA# " +
                           std::to_string(area));
      return false;
    }
    cleanup.kind = Cleanup::Kind::MissingFiles;
  } else if (descAction == "Only Older Than") {
    const int count = static_cast<int>(DecimalNumber(descSpec, 5).value_or(0));
    if (count < 1 || count > kMostDays) {
      LogRunError(ctx, "Bad number of days for FA# " + std::to_string(area) +
                           ": " + descSpec);
      return false;
    }
    cleanup.kind = Cleanup::Kind::OlderThan;
    const uint64_t span =
        static_cast<uint64_t>(count) * 86400 * kTicksPerSecond;
    cleanup.before =
        ctx.state.runStarted > span ? ctx.state.runStarted - span : 0;
  }
  return true;
}

// Whether a record's stored file is there; Unknown (logged) when the host
// cannot look, say because the storage itself is gone.
enum class Stored { Present, Missing, Unknown };
Stored StoredFile(RunContext& ctx, const TFileRecord& record,
                  const std::string& name) {
  if (WcExistFile(HostPath(record.Area, name).c_str())) return Stored::Present;
  if (WcGetLastError() == WC_ITEM_NOT_FOUND) return Stored::Missing;
  LogRunError(ctx, "Could not look for stored file: " + name + " in FA# " +
                       std::to_string(record.Area));
  return Stored::Unknown;
}

// Whether a missing stored file here means the file is gone. Not on a
// volume the host has offline (the disc is out), nor in storage that shows
// none of the area's files (a share not mounted leaves an empty mount
// point): there every record would look orphaned. Logs why not.
bool StorageTellsMissingFiles(RunContext& ctx, int32_t area,
                              const TFileArea& areaRecord) {
  const std::string fa = "FA# " + std::to_string(area);
  const auto volume = VolumeOfAreaPath(FieldText(areaRecord.Path));
  if (volume && volume->Offline) {
    LogRunError(ctx, "Volume " + FieldText(volume->Name) +
                         " is offline: " + fa + " not cleaned up");
    return false;
  }
  size_t missing = 0;
  Stored seen = Stored::Missing;
  if (!WalkMatchingRecords(ctx, area, MatchRule::ForListing("*.*"),
                           [&](TFileRecord& record) {
                             seen = StoredFile(ctx, record, RecordName(record));
                             if (seen == Stored::Missing) ++missing;
                             return seen == Stored::Missing;
                           }))
    return false;
  if (seen == Stored::Present) return true;
  // No records, nothing to clean up.
  if (seen == Stored::Missing && missing > 0)
    LogRunError(ctx, "No stored file of " + fa + " found (" +
                         std::to_string(missing) + " records): not cleaned up");
  return false;
}

// Whether a selected record stays selected under the clean-up. A stored
// file the host cannot look at ends the walk rather than counting as
// missing.
enum class Kept { Yes, No, Stop };
Kept KeptBy(RunContext& ctx, const Cleanup& cleanup, const TFileRecord& record,
            const std::string& name) {
  switch (cleanup.kind) {
    case Cleanup::Kind::None:
      return Kept::Yes;
    case Cleanup::Kind::OlderThan:
      return record.FileTime < cleanup.before ? Kept::Yes : Kept::No;
    case Cleanup::Kind::MissingFiles:
      break;
  }
  switch (StoredFile(ctx, record, name)) {
    case Stored::Present:
      return Kept::No;
    case Stored::Missing:
      return Kept::Yes;
    case Stored::Unknown:
      break;
  }
  return Kept::Stop;
}

void DeleteLocal(RunContext& ctx, const std::string& directory,
                 const std::string& name, int32_t area) {
  // A bare name would resolve against whatever the current directory is.
  if (directory.empty()) {
    LogRunError(ctx, "Could not delete file: " + name +
                         " - no path set for FA# " + std::to_string(area));
    return;
  }
  const std::string existing = ResolveExisting(directory + name);
  if (existing.empty() || !DeleteLocalFile(existing)) {
    LogRunError(ctx, "Could not delete file: " + directory + name);
  } else {
    ++ctx.state.counts.deleted;
  }
}

}  // namespace

void DeleteAction(RunContext& ctx, int32_t area, const std::string& param,
                  const std::string& spec, const std::string& path,
                  const std::string& descAction, const std::string& descSpec) {
  const DeleteMode mode = ModeOf(param);
  TFileArea areaRecord{};
  if (!AreaReadyForWalk(ctx, area, &areaRecord)) return;
  const std::string directory = TrailingBackslash(path);
  MatchRule rule;
  if (!SelectionRule(ctx, spec, area, rule)) return;
  Cleanup cleanup;
  if (!CleanupOf(ctx, area, mode, descAction, descSpec, cleanup)) return;
  if (mode != DeleteMode::None && cleanup.kind == Cleanup::Kind::MissingFiles &&
      !StorageTellsMissingFiles(ctx, area, areaRecord))
    return;

  WalkMatchingRecords(ctx, area, rule, [&](TFileRecord& record) {
    if (mode == DeleteMode::None) return true;
    const std::string name = RecordName(record);
    const Kept kept = KeptBy(ctx, cleanup, record, name);
    if (kept != Kept::Yes) return kept == Kept::No;
    const std::string recordArea = std::to_string(record.Area);
    if (ctx.view.IsTestRun()) {
      if (mode == DeleteMode::JustDeleteFiles && directory.empty()) {
        DeleteLocal(ctx, directory, name, area);  // reports why not
        return true;
      }
      ctx.view.AddTestRunLine(TestRunPrefix(mode) + std::to_string(area) +
                              ": " + name);
      return true;
    }
    switch (mode) {
      case DeleteMode::DeleteAndRemove:
        if (!DeleteFileRec(record, 1)) {
          LogRunError(ctx, "Could not delete file: " + name + " from FA# " +
                               recordArea);
        } else {
          ++ctx.state.counts.deleted;
        }
        break;
      case DeleteMode::JustDeleteFiles:
        DeleteLocal(ctx, directory, name, area);
        break;
      case DeleteMode::JustRemove:
        if (!DeleteFileRec(record, 0)) {
          LogRunError(ctx, "Could not delete file record: " + name +
                               " from FA# " + recordArea);
        } else {
          ++ctx.state.counts.deleted;
        }
        break;
      case DeleteMode::None:
        break;
    }
    return true;
  });
}

}  // namespace qm
