// Optional features, each off unless the settings file's section [Extras]
// turns it on; with all off every output is the one without them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/StoredText.h"

namespace qm {

inline constexpr int kDefaultUploadCheckSeconds = 120;

// What an add does with a file whose content a stored file already has.
enum class DuplicateMode { Off, Report, Refuse };

// How a description member that carries ANSI escape sequences is taken.
enum class AnsiMode { Keep, Text };

// Whether FILES.BBS lists are read in the layout their first lines show.
enum class ListDialects { Off, Auto };

// An [Archiver NAME] section of the settings file: a row of its own, or
// the shipped row of that name with the keys given replaced.
struct ArchiverSection {
  std::string name;
  std::optional<std::string> signature, list, extract;
};

struct ExtrasSettings {
  DuplicateMode duplicates = DuplicateMode::Off;
  // A command run on every upload before it is added; "%f" is the file's
  // path. Empty: no check.
  std::string uploadCheck;
  int uploadCheckSeconds = kDefaultUploadCheckSeconds;
  // The code page of text that is not UTF-8, in the windows and the web
  // listings.
  Charset charset = Charset::Windows1252;
  // The settings file's values that were not understood (their defaults are
  // in effect instead): one run-log line each.
  std::vector<std::string> notUnderstood;
  // Where uploads an extra refused are moved to; empty: they stay.
  std::string refusedFolder;
  AnsiMode ansiDescriptions = AnsiMode::Keep;
  ListDialects filesBbsDialects = ListDialects::Off;
  // Members tried in order when an archive has none the entry names.
  std::vector<std::string> descriptionFallback;
  // The File Area Setup dialog offers a List entry the files added in
  // the last N days.
  bool newFilesListings = false;
  // Archive programs for formats no reader here knows: the rows turned on
  // by name, and the settings file's own rows.
  std::string archivers;
  std::vector<ArchiverSection> archiverSections;
};

}  // namespace qm
