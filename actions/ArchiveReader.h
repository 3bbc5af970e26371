// Archives other than ZIP (7z, RAR, LHA, also after a program stub or with
// CP/M padding, tar, gzipped tar), read through
// libarchive with the ZIP library's guarantees: matching members land flat
// in the destination, only as regular, unencrypted files of at most 64 KiB
// whose checks pass, never through a link, one at a time in memory.
#pragma once

#include <functional>
#include <string>

namespace qm {

// True when the name ends in an extension of a format read here.
bool IsReadableArchiveName(const std::string& path);

// What one archive may cost: reading it for a description never takes
// longer or more memory than this, whatever it declares.
constexpr int kArchiveSeconds = 5;
constexpr int kArchiveMemoryMiB = 96;

// What ended the reading before the archive's end or the winning member.
enum class ArchiveLimit { None, Time, Memory, Fault };

struct ArchiveExtraction {
  // The archive could be walked to its end, or to the member that wins.
  bool readable = false;
  bool complete = false;    // readable, and every member to write was written
  bool unwritable = false;  // a member could not be written (the destination)
  ArchiveLimit limit = ArchiveLimit::None;
};

// Writes the members matching the wildcard spec into the destination
// directory, the one flat name's winner each (platform/FlatMembers.h).
// Reading stops at a root member matching a spec without wildcards (none
// after it can win). It runs in a child process within the limits above,
// so no archive, and no fault in a decoder, can stall or exhaust the run.
// The archive's name tells its format; one whose name is of no format
// read here is read when its bytes hold a program stub followed by an LHA
// archive within the first MiB (a self-extracting one). Its bytes come
// from readFrom when given.
ArchiveExtraction ExtractArchiveMembers(const std::string& archive,
                                        const std::string& spec,
                                        const std::string& destination,
                                        const std::string& readFrom = {});

// Runs read in a child process within the limits above; what ended it
// early comes back as the limit.
ArchiveExtraction ReadContained(const std::function<ArchiveExtraction()>& read);

}  // namespace qm
