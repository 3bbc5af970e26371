// Descriptions of added archives, taken from a member such as file_id.diz.
#pragma once

#include <string>
#include <vector>

#include "platform/TempFolder.h"
#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

// Fills the record's descriptions from the archive at path (its name tells
// the format; log lines name it); the bytes are read from readFrom when
// given (a private copy of it).
bool DescribeFromArchive(RunContext& ctx, const std::string& path,
                         const std::string& memberSpec, TFullFileRecord& record,
                         const std::string& readFrom = {});

// A member that came out of an archive (they are at most 64 KiB).
struct ExtractedMember {
  std::string name;
  std::string bytes;
};
// The members matching memberSpec, extracted in a private folder of Temp
// that is gone again afterwards: visible names in order, then hidden ones.
bool ExtractDescriptionFiles(RunContext& ctx, const std::string& archive,
                             const std::string& memberSpec,
                             std::vector<ExtractedMember>& files,
                             const std::string& readFrom = {});
// The temp directory: program directory + "Temp/".
std::string TempDirectory(const RunState& state);
// Makes a private folder in Temp for one piece of work; false, logged,
// when Temp cannot be used. Temp that cannot be made stops the run (a
// std::runtime_error).
bool MakeWorkFolder(RunContext& ctx, PrivateFolder& folder);
// Logs that Temp cannot be used, and why.
void LogTempUnusable(RunContext& ctx, const std::string& why);

}  // namespace qm
