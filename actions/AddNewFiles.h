// Adding new files found by a directory scan or named in a path list.
#pragma once

#include <cstdint>
#include <string>

#include "run/RunContext.h"

namespace qm {

// descAction "NA" skips the description step.
void AddNewFiles(RunContext& ctx, int32_t area, const std::string& param,
                 const std::string& spec, const std::string& descAction,
                 const std::string& descSpec, const std::string& path);

}  // namespace qm
