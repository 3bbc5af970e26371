// Archives of the formats the sysop's archive programs read
// (run/Archivers.h), with the in-process readers' guarantees: run
// without a shell in a contained child within the same time and memory
// limits, each member extracted by itself into a private folder of Temp
// and only a regular file of at most 64 KiB found there (never through a
// link) taken, written flat, of the same winner as theirs.
#pragma once

#include <string>

#include "actions/ArchiveReader.h"
#include "platform/File.h"
#include "run/Archivers.h"
#include "run/RunContext.h"

namespace qm {

// True when [Extras] Archivers names any archiver.
bool ArchiversOn(const RunState& state);

// The archiver in effect that reads the file: the one whose signature its
// bytes hold (the longest of those that match), or, afterStub, the ARJ
// row for a program stub followed by an ARJ archive within the first MiB
// (a self-extracting one). Nullptr when none does, or when its program is
// missing; that is logged once per run.
const Archiver* ArchiverFor(RunContext& ctx, File& file, bool afterStub);

// Extracts the members matching the member pattern into the destination as
// ExtractArchiveMembers does; the bytes come from readFrom, archive names
// the upload. Temp holds the archiver's own private folders.
ArchiveExtraction ExtractWithArchiver(const Archiver& row,
                                      const std::string& archive,
                                      const std::string& readFrom,
                                      const std::string& spec,
                                      const std::string& destination,
                                      const std::string& tempDir);

// Ends a run's archivers: the next run looks for their programs afresh.
void EndArchivers(RunState& state);

}  // namespace qm
