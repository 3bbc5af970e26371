// The run log: problems of a run go to a ".err" file beside the
// configuration file, or into the test-run output during a test run.
#pragma once

#include <cstdint>
#include <string>

#include "run/RunContext.h"

namespace qm {

// The box shown when an entry could not be written.
inline constexpr char kRunLogIoError[] = "IO Error";

// The log file named by a base name: its directory, its file-name part up
// to the first dot, then ".err".
std::string LogFileName(const std::string& baseName);

void LogRunError(RunContext& ctx, const std::string& message);

// An entry whose action works in its Path needs one: an empty Path is
// logged and gives false, so the process's own directory never stands in.
bool EntryHasPath(RunContext& ctx, const std::string& path, int32_t area);

}  // namespace qm
