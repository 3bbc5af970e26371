// The extras an add runs on every upload before it is copied or recorded.
#pragma once

#include <string>

namespace qm {

inline constexpr int kDefaultUploadCheckSeconds = 120;

// What an add does with a file whose content a stored file already has.
enum class DuplicateMode { Off, Report, Refuse };

struct UploadExtras {
  DuplicateMode duplicates = DuplicateMode::Off;
  // A command run on every upload before it is added; "%f" is the file's
  // path. Empty: no check.
  std::string uploadCheck;
  int uploadCheckSeconds = kDefaultUploadCheckSeconds;
  // Where uploads an extra refused are moved to; empty: they stay.
  std::string refusedFolder;
};

}  // namespace qm
