// The extras that decide where a file's description comes from and how it
// is taken.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm {

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

struct DescriptionExtras {
  AnsiMode ansiDescriptions = AnsiMode::Keep;
  ListDialects filesBbsDialects = ListDialects::Off;
  // Members tried in order when an archive has none the entry names.
  std::vector<std::string> descriptionFallback;
  // Archive programs for formats no reader here knows: the rows turned on
  // by name, and the settings file's own rows.
  std::string archivers;
  std::vector<ArchiverSection> archiverSections;
};

}  // namespace qm
