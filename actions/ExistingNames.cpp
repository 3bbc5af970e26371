#include "actions/ExistingNames.h"

#include "actions/MatchRule.h"
#include "platform/Paths.h"
#include "server/WcApi.h"

namespace qm {

bool ExistingNames::Gather(RunContext& ctx, int32_t area) {
  upper_.clear();
  TFileRecord record{};
  uint32_t position = 0;
  bool found = SearchFileRecByAreaName(area, "", record, position) != 0;
  while (found && record.Area == area) {
    ctx.view.ProcessEvents();
    if (ctx.state.cancelRequest) return false;
    Add(RecordName(record));
    found = GetNextFileRec(1, record, position) != 0;
  }
  // Names missed here would be taken for new files and copied over.
  return found || !WalkFailed(ctx, area);
}

bool ExistingNames::Contains(const std::string& name) const {
  return upper_.count(UpperCase(name)) != 0;
}

void ExistingNames::Add(const std::string& name) {
  upper_.insert(UpperCase(name));
}

}  // namespace qm
