#include <string>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "actions/Transfer.h"
#include "platform/FieldText.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"

namespace qm {

namespace {

enum class MoveMode { None, FilesAndRecords, JustCopyFiles };

MoveMode ModeOf(const std::string& mode) {
  if (mode == "Files and Records") return MoveMode::FilesAndRecords;
  if (mode == "Just Copy Files") return MoveMode::JustCopyFiles;
  return MoveMode::None;
}

// True unless the host tells for certain that the area has no such record.
bool MayHaveRecord(int32_t area, const std::string& name) {
  TFileRecord existing{};
  return LookUpRecord(area, name, existing) != Lookup::NotFound;
}

bool Stored(int32_t area, const std::string& name) {
  return WcExistFile(HostPath(area, name).c_str()) != 0;
}

// Areas whose host paths are the same text share one storage directory.
bool SameStorage(int32_t source, int32_t target) {
  TFileArea from{}, to{};
  return MwGetFileAreas(source, 1, &from) && MwGetFileAreas(target, 1, &to) &&
         EqualsNoCase(FieldText(from.Path, sizeof from.Path),
                      FieldText(to.Path, sizeof to.Path));
}

// What the host refuses, asked without changing anything: a move onto a
// name the target records or stores (it never replaces a file), or of a
// stored file into a storage that cannot take it; a copy onto a name the
// target records, of a file not stored, or into such a storage.
bool Refused(MoveMode mode, int32_t source, int32_t target,
             const std::string& name) {
  if (MayHaveRecord(target, name)) return true;
  if (mode == MoveMode::JustCopyFiles)
    return !Stored(source, name) || !StorageTakes(target, name);
  if (Stored(target, name)) return !SameStorage(source, target);
  return !StorageTakes(target, name) && Stored(source, name);
}

}  // namespace

void MoveAction(RunContext& ctx, int32_t source, int32_t target,
                const std::string& modeText, const std::string& spec,
                const std::string& /*path*/) {
  if (source == target) return;
  const MoveMode mode = ModeOf(modeText);
  if (!AreaReadyForWalk(ctx, source)) return;
  MatchRule rule;
  if (!SelectionRule(ctx, spec, source, rule)) return;

  const std::string fromTo =
      " from FA# " + std::to_string(source) + " to " + std::to_string(target);
  WalkMatchingRecords(ctx, source, rule, [&](TFileRecord& record) {
    const std::string name = RecordName(record);
    const std::string moveFailed = "Could not MOVE file: " + name + fromTo;
    const std::string copyFailed = "Could not COPY file: " + name + fromTo;
    if (ctx.view.IsTestRun()) {
      if (mode == MoveMode::None) return true;
      const bool moving = mode == MoveMode::FilesAndRecords;
      if (Refused(mode, source, target, name)) {
        LogRunError(ctx, moving ? moveFailed : copyFailed);
      } else {
        ctx.view.AddTestRunLine(
            std::string(moving ? "Move Files and Records" : "Copy Files") +
            " From FA# " + std::to_string(source) + " to " +
            std::to_string(target) + ": " + name);
      }
      return true;
    }
    if (mode == MoveMode::FilesAndRecords) {
      // The host carries the stored file along with the record.
      TFileRecord moved = record;
      moved.Area = target;
      if (!UpdateFileRec(moved)) {
        LogRunError(ctx, moveFailed);
      } else {
        ++ctx.state.counts.moved;
      }
    } else if (mode == MoveMode::JustCopyFiles) {
      // A file the target area has a record for is never replaced.
      if (MayHaveRecord(target, name) ||
          !TransferFile(ctx, HostPath(record.Area, name),
                        HostPath(target, name), "Copy file")) {
        LogRunError(ctx, copyFailed);
      } else {
        ++ctx.state.counts.copied;
      }
    }
    return true;
  });
}

}  // namespace qm
