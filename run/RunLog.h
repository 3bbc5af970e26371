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

// Control characters as "^" and a letter (line feed "^J", DEL "^?"), so
// that data written into a log line cannot break it.
std::string EscapeControls(const std::string& data);

// Reports a problem: into the run log, or the test-run output during a
// test run. Its control characters are data and are written escaped.
void LogRunError(RunContext& ctx, const std::string& message);
// The same for a message of the program's own whose data parts are
// already escaped: the log gets its bytes as they are. A test-run line
// still shows control characters escaped, one entry a line.
void LogRunMessage(RunContext& ctx, const std::string& message);

// An entry whose action works in its Path needs one: an empty Path is
// logged and gives false, so the process's own directory never stands in.
bool EntryHasPath(RunContext& ctx, const std::string& path, int32_t area);

}  // namespace qm
