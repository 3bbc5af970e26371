#include <string>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"

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
                  const std::string& spec, const std::string& path) {
  const DeleteMode mode = ModeOf(param);
  if (!AreaReadyForWalk(ctx, area)) return;
  const std::string directory = TrailingBackslash(path);
  MatchRule rule;
  if (!SelectionRule(ctx, spec, area, rule)) return;

  WalkMatchingRecords(ctx, area, rule, [&](TFileRecord& record) {
    if (mode == DeleteMode::None) return true;
    const std::string name = RecordName(record);
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
