// The names of all records of an area, gathered before an add changes
// anything and compared without regard to letter case.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "run/RunContext.h"

namespace qm {

class ExistingNames {
 public:
  // Walks the area's records, yielding to the window before each one.
  // False when the walk stopped for a cancel request or for a host failure
  // (logged).
  bool Gather(RunContext& ctx, int32_t area);
  bool Contains(const std::string& name) const;
  void Add(const std::string& name);

 private:
  std::unordered_set<std::string> upper_;
};

}  // namespace qm
