// Adding the files described in a FILES.BBS listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/RunContext.h"

namespace qm {

bool IsNameChar(unsigned char c);

struct ListLine {
  std::string fileName;
  std::string discarded;
  std::string description;
};
ListLine ParseListLine(const std::string& line);

void ReadinFilesBBS(RunContext& ctx, const std::string& directory,
                    const std::string& listName, int32_t area);

// listedTime: the day a list's date column gives the file, as a local file
// time; 0 keeps the stored file's time.
bool AddListedFile(RunContext& ctx, const std::string& directory,
                   const std::string& name,
                   const std::vector<std::string>& descriptions, int32_t area,
                   uint64_t listedTime = 0);

}  // namespace qm
