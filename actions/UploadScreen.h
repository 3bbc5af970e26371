// The extras an add runs on a file before anything is copied or recorded:
// duplicates by content and the upload check. With both off, nothing here
// acts.
#pragma once

#include <cstdint>
#include <string>

#include "run/RunContext.h"

namespace qm {

// False, with the line the run logs, when an extra refuses the file; name
// and sourceDir are those of the add's own lines. A file the add itself
// refuses (a name or size the host cannot store, a missing file) is left
// to the add to report.
bool ScreenUpload(RunContext& ctx, const std::string& name,
                  const std::string& sourceDir, const std::string& localPath);
// After the file was added (or would be, in a test run): later files of
// the run are compared with it too.
void RememberUpload(RunContext& ctx, int32_t area, const std::string& name,
                    const std::string& localPath);
// Ends a run's extras: the duplicate index keeps what the run taught it.
void EndUploadScreen(RunState& state);

// An unattended run's counts of the extras that are on, and their part of
// its summary ("" while all are off).
void StartExtrasCounts(RunState& state);
std::string ExtrasSummary(const RunCounts& counts);

// Brings the duplicate index up to date and gives every group of records
// with the same content, largest waste first: "FA# N: NAME SIZE" lines,
// groups separated by an empty line.
std::string DuplicatesReport(RunContext& ctx);

}  // namespace qm
