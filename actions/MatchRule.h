// Which records a delete, move or listing entry selects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

class MatchRule {
 public:
  // From a wildcard specification: "*.*" matches names holding a "."; with
  // "*" or "?" the rest is a substring; without wildcards only that exact
  // name (any case).
  static MatchRule FromSpec(const std::string& spec);
  // From the lines of a file list: a name matches the file-name part of a
  // line exactly (any case).
  static MatchRule FromList(const std::vector<std::string>& lines);
  // The listing's rule: "*.*" matches every record.
  static MatchRule ForListing(const std::string& spec);

  bool Matches(const std::string& name) const;
  // Narrows the rule to records whose file time is fileTime or later.
  void OnlyAddedSince(uint64_t fileTime) { addedSince_ = fileTime; }
  bool Selects(const TFileRecord& record) const;

 private:
  enum class Kind { Substring, Exact, List, All } kind_ = Kind::Substring;
  std::string pattern_;
  std::vector<std::string> names_;  // upper case, sorted
  uint64_t addedSince_ = 0;
};

// True when the upper-cased file-name part of spec contains ".QLS".
bool IsFileListSpec(const std::string& spec);

// Where a list file or spec path is looked for: a relative path with a
// directory part lies beside the configuration file.
std::string ResolveSpecPath(const RunState& state, const std::string& spec);

// The rule of a delete or move entry: the named file list, or the wildcard
// rule. A missing list is logged ("File List: ... not found for FA# ...")
// and gives false.
bool SelectionRule(RunContext& ctx, const std::string& spec, int32_t area,
                   MatchRule& rule);

// Before a delete or move walk: clears the cancel request, then true when
// the host knows the area (its record into areaRecord when given), no
// cancel came in while the window processed events, and the area's storage
// path is set.
bool AreaReadyForWalk(RunContext& ctx, int32_t area,
                      TFileArea* areaRecord = nullptr);

// Walks an area's records in key order, letting the window process events
// and testing the cancel request before each; visit sees the records the
// rule selects and returns false to end the walk. False when the walk
// stopped for a cancel.
bool WalkMatchingRecords(RunContext& ctx, int32_t area, const MatchRule& rule,
                         const std::function<bool(TFileRecord&)>& visit);

// After a walk's host call came back empty: true, with a log line, when
// the host failed rather than ran out of records.
bool WalkFailed(RunContext& ctx, int32_t area);

// A record's name as text (the field need not hold a NUL).
std::string RecordName(const TFileRecord& record);

}  // namespace qm
