// The delete, move and copy, and listing actions of a run.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

// descAction "Only Missing Files" or "Only Older Than" (descSpec: days)
// narrows the selection to records whose stored file is gone or is old.
void DeleteAction(RunContext& ctx, int32_t area, const std::string& param,
                  const std::string& spec, const std::string& path,
                  const std::string& descAction = "NA",
                  const std::string& descSpec = "NA");
void MoveAction(RunContext& ctx, int32_t source, int32_t target,
                const std::string& mode, const std::string& spec,
                const std::string& path);
// addedWithinDays: only the records whose file time lies within that many
// days before the run's start; 0: every record.
void ListAction(RunContext& ctx, int32_t area, const std::string& mode,
                const std::string& spec, const std::string& destKind,
                const std::string& outputFile, const std::string& path,
                int addedWithinDays = 0);

// The "All Files List" outputs made this run: the first entry naming one
// makes it afresh, later ones add to it. Emptied as each run starts.
std::set<std::string>& AllFilesListed(RunState& state);
// Where the List entries of the configuration file being run write, so
// that its "Scan For New" never takes a listing for an upload.
std::vector<std::string>& ListEntryOutputs(RunState& state);

// The file a List entry writes: an "All Files List" output relative to the
// configuration file's folder, any other in the entry's Path.
std::string ListingOutputPath(const RunContext& ctx,
                              const std::string& destKind,
                              const std::string& outputFile,
                              const std::string& path);

// Listing layout, lines without their ends. The header of an area:
std::vector<std::string> ListingHeader(const std::string& areaName);
// The lines of one file: mode "Single", "Full" or anything else for
// "Double"; full holds the long description, null when it was not read.
std::vector<std::string> ListingFileLines(const std::string& mode,
                                          const TFileRecord& record,
                                          const TFullFileRecord* full);

}  // namespace qm
