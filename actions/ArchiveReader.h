// Archives other than ZIP (7z, RAR, LHA, tar, gzipped tar), read through
// libarchive with the ZIP library's guarantees: matching members land flat
// in the destination, only as regular, unencrypted files of at most 64 KiB
// whose checks pass, never through a link, one at a time in memory.
#pragma once

#include <string>

namespace qm {

// True when the name ends in an extension of a format read here.
bool IsReadableArchiveName(const std::string& path);

struct ArchiveExtraction {
  bool readable = false;  // the archive could be walked to its end
  bool complete = false;  // readable, and every member to write was written
};

// Writes the members matching the wildcard spec into the destination
// directory, the one flat name's winner each (platform/FlatMembers.h).
ArchiveExtraction ExtractArchiveMembers(const std::string& archive,
                                        const std::string& spec,
                                        const std::string& destination);

}  // namespace qm
