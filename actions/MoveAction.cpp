#include <string>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "actions/Transfer.h"
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
    if (ctx.view.IsTestRun()) {
      const std::string route = std::to_string(source) + " to " +
                                std::to_string(target) + ": " + name;
      if (mode == MoveMode::FilesAndRecords) {
        ctx.view.AddTestRunLine("Move Files and Records From FA# " + route);
      } else if (mode == MoveMode::JustCopyFiles) {
        ctx.view.AddTestRunLine("Copy Files From FA# " + route);
      }
      return true;
    }
    if (mode == MoveMode::FilesAndRecords) {
      // The host carries the stored file along with the record.
      TFileRecord moved = record;
      moved.Area = target;
      if (!UpdateFileRec(moved)) {
        LogRunError(ctx, "Could not MOVE file: " + name + fromTo);
      } else {
        ++ctx.state.counts.moved;
      }
    } else if (mode == MoveMode::JustCopyFiles) {
      // A file the target area has a record for is never replaced.
      if (MayHaveRecord(target, name) ||
          !TransferFile(ctx, HostPath(record.Area, name),
                        HostPath(target, name), "Copy file")) {
        LogRunError(ctx, "Could not COPY file: " + name + fromTo);
      } else {
        ++ctx.state.counts.copied;
      }
    }
    return true;
  });
}

}  // namespace qm
