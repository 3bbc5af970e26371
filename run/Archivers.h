// Archive programs for formats no reader of the program knows (ARJ, ARC,
// ZOO, ...): rows of a format's signature, the command that lists an
// archive and the one that extracts a member. The shipped rows are off
// until [Extras] Archivers= names them; a section [Archiver NAME] adds a
// row or changes a shipped one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/DescriptionExtras.h"

namespace qm {

// Bytes that stand at an offset of every archive of a format.
struct Signature {
  uint64_t offset = 0;
  std::string bytes;
};

struct Archiver {
  std::string name;
  std::vector<Signature> signatures;  // any one of them
  // Words of the commands: "%a" the archive, "%m" the member's stored
  // name, "%d" the folder to extract into (also the working directory).
  std::vector<std::string> list, extract;
  std::string package;  // the Debian package of a shipped row's programs
};

// "60 EA" or "DC A7 C4 FD @ 20" (hexadecimal bytes at a decimal offset,
// 0 when none is given); alternatives separated by ",". False when the
// text is not of that form.
bool ParseSignatures(const std::string& text, std::vector<Signature>& out);

// The rows named by extras.archivers, in that order, each with its
// section's keys. A name that gives no usable row is left out, with a
// line in problems when given.
std::vector<Archiver> ArchiversInEffect(
    const DescriptionExtras& extras,
    std::vector<std::string>* problems = nullptr);

// One line per archiver in effect, for the Extras page: its name, its
// programs and whether each is found.
std::vector<std::string> ArchiverStatus(const DescriptionExtras& extras);

}  // namespace qm
