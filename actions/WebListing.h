// The web listings of a "List" entry: modes "HTML" and "JSON", one UTF-8
// document per area or, with "All Files List", one for all areas of a run.
#pragma once

#include <cstdint>
#include <string>

#include "actions/MatchRule.h"
#include "run/ListModes.h"
#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

// Whether the mode is one of the web layouts this file writes.
bool IsWebListingMode(ListMode mode);

// Writes the listing of the records of one area the rule selects; false on
// an I/O error. An "All Files List" is only begun here: the run completes
// it.
bool WriteWebListing(RunContext& ctx, int32_t area, const TFileArea& record,
                     ListMode mode, const MatchRule& rule,
                     const std::string& outputPath, bool allFiles);

// Puts the run's "All Files List" document of path in place now, before
// another listing writes or reads that file; an I/O error is logged.
void CompleteWebListing(RunContext& ctx, const std::string& path);

// Puts every "All Files List" document of the run in place: the run's end.
void CompleteWebListings(RunContext& ctx);

}  // namespace qm
