// Descriptions of added archives, taken from a member such as file_id.diz.
#pragma once

#include <string>
#include <vector>

#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

bool DescribeFromArchive(RunContext& ctx, const std::string& path,
                         const std::string& memberSpec,
                         TFullFileRecord& record);
bool ExtractDescriptionFiles(RunContext& ctx, const std::string& archive,
                             const std::string& memberSpec,
                             std::vector<std::string>& files);
// The temp directory: program directory + "Temp/".
std::string TempDirectory(const RunState& state);

}  // namespace qm
