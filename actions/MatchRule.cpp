#include "actions/MatchRule.h"

#include <algorithm>
#include <cstring>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "server/Session.h"

namespace qm {

namespace {

bool HasWildcard(const std::string& text) {
  return text.find_first_of("*?") != std::string::npos;
}

}  // namespace

MatchRule MatchRule::FromSpec(const std::string& spec) {
  MatchRule rule;
  std::string pattern = UpperCase(FileNamePart(spec));
  if (!HasWildcard(pattern)) {
    rule.kind_ = Kind::Exact;
    rule.pattern_ = pattern;
  } else if (pattern == "*.*") {
    rule.pattern_ = ".";
  } else {
    pattern.erase(std::remove(pattern.begin(), pattern.end(), '*'),
                  pattern.end());
    rule.pattern_ = pattern;
  }
  return rule;
}

MatchRule MatchRule::ForListing(const std::string& spec) {
  if (UpperCase(FileNamePart(spec)) == "*.*") {
    MatchRule rule;
    rule.kind_ = Kind::All;
    return rule;
  }
  return FromSpec(spec);
}

MatchRule MatchRule::FromList(const std::vector<std::string>& lines) {
  MatchRule rule;
  rule.kind_ = Kind::List;
  for (const std::string& line : lines) {
    // Editors leave trailing blanks; no stored name ends in one.
    std::string name = UpperCase(FileNamePart(Trim(line)));
    if (!name.empty()) rule.names_.push_back(std::move(name));
  }
  std::sort(rule.names_.begin(), rule.names_.end());
  return rule;
}

bool MatchRule::Matches(const std::string& name) const {
  if (name.empty()) return false;
  const std::string upper = UpperCase(name);
  switch (kind_) {
    case Kind::All:
      return true;
    case Kind::Exact:
      return upper == pattern_;
    case Kind::List:
      return std::binary_search(names_.begin(), names_.end(), upper);
    case Kind::Substring:
      return !pattern_.empty() && upper.find(pattern_) != std::string::npos;
  }
  return false;
}

bool IsFileListSpec(const std::string& spec) {
  return UpperCase(FileNamePart(spec)).find(".QLS") != std::string::npos;
}

std::string ResolveSpecPath(const RunState& state, const std::string& spec) {
  if (DirectoryPart(spec).empty()) return spec;
  return ResolveAgainst(state.configDir, spec);
}

bool SelectionRule(RunContext& ctx, const std::string& spec, int32_t area,
                   MatchRule& rule) {
  if (!IsFileListSpec(spec)) {
    rule = MatchRule::FromSpec(spec);
    return true;
  }
  const std::string listPath = ResolveSpecPath(ctx.state, spec);
  std::vector<std::string> lines;
  if (!FileExists(listPath) || !ReadTextLines(listPath, lines)) {
    LogRunError(ctx, "File List: " + spec + " not found for FA# " +
                         std::to_string(area));
    return false;
  }
  rule = MatchRule::FromList(lines);
  return true;
}

bool AreaReadyForWalk(RunContext& ctx, int32_t area, TFileArea* areaRecord) {
  ctx.state.cancelRequest = false;
  TFileArea record{};
  if (!MwGetFileAreas(area, 1, &record)) return false;
  if (areaRecord) *areaRecord = record;
  ctx.view.ProcessEvents();
  if (ctx.state.cancelRequest) return false;
  return strnlen(record.Path, sizeof record.Path) > 0;
}

bool WalkMatchingRecords(RunContext& ctx, int32_t area, const MatchRule& rule,
                         const std::function<bool(TFileRecord&)>& visit) {
  TFileRecord record{};
  uint32_t position = 0;
  if (!SearchFileRecByAreaName(area, "", record, position)) {
    WalkFailed(ctx, area);
    return true;
  }
  while (record.Area == area) {
    ctx.view.ProcessEvents();
    if (ctx.state.cancelRequest) return false;
    if (rule.Selects(record) && !visit(record)) break;
    if (!GetNextFileRec(1, record, position)) {
      WalkFailed(ctx, area);
      break;
    }
  }
  return true;
}

bool WalkFailed(RunContext& ctx, int32_t area) {
  const uint32_t code = WcGetLastError();
  if (code == WC_RECORD_NOT_FOUND) return false;
  LogRunError(ctx, "Could not read the file records of file area #" +
                       std::to_string(area) + " (" + WcErrorName(code) + ")");
  return true;
}

bool MatchRule::Selects(const TFileRecord& record) const {
  return record.FileTime >= addedSince_ && Matches(RecordName(record));
}

std::string RecordName(const TFileRecord& record) {
  return std::string(record.Name, strnlen(record.Name, sizeof record.Name));
}

}  // namespace qm
