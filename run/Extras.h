// Optional features, each off unless the settings file's section [Extras]
// turns it on; with all off every output is the one without them. Code that
// reads the extras of one concern includes only that concern's header.
#pragma once

#include <string>
#include <vector>

#include "run/DescriptionExtras.h"
#include "run/ListingExtras.h"
#include "run/UploadExtras.h"

namespace qm {

// Every extra, as the settings file gives them.
struct ExtrasSettings : UploadExtras, DescriptionExtras, ListingExtras {
  // The settings file's values that were not understood (their defaults are
  // in effect instead): one run-log line each.
  std::vector<std::string> notUnderstood;
};

}  // namespace qm
