// The extras of what the windows and the listings show.
#pragma once

#include "platform/StoredText.h"

namespace qm {

struct ListingExtras {
  // The code page of text that is not UTF-8, in the windows and the web
  // listings.
  Charset charset = Charset::Windows1252;
  // The File Area Setup dialog offers a List entry the files added in
  // the last N days.
  bool newFilesListings = false;
};

}  // namespace qm
