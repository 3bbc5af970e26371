// The run log: problems of a run go to a ".err" file beside the
// configuration file, or into the test-run output during a test run.
#pragma once

#include <string>

#include "runner/RunContext.h"

namespace qm {

// The box shown when an entry could not be written.
inline constexpr char kRunLogIoError[] = "IO Error";

// The log file named by a base name: its directory, its file-name part up
// to the first dot, then ".err".
std::string LogFileName(const std::string& baseName);

void LogRunError(RunContext& ctx, const std::string& message);

}  // namespace qm
