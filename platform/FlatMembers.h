// Which archive members come out when they are written flat into one
// directory: each lands under the last component of its stored name, and
// names that differ only in letter case are one file on the systems the
// uploads come from. Of such members the one at the archive's root wins
// (a FILE_ID.DIZ in a sub-folder describes something else), then the first
// in the archive's order.
#pragma once

#include <ctime>
#include <map>
#include <string>

#include "platform/File.h"

namespace qm {

// The last component of a stored member name ("/" or "\" separated);
// empty when that leaves nothing usable ("", ".", "..").
std::string FlatMemberName(const std::string& stored);
// True when the stored name has no directory part ("./" prefixes aside).
bool MemberAtRoot(const std::string& stored);

// Offered the matching members in the archive's order, says which to write.
class FlatMemberChoice {
 public:
  // True when the member (its flat name, whether it lies at the root) is to
  // be written. When it displaces one taken earlier under a differently
  // cased flat name, `displaced` names that file (to be removed); otherwise
  // it is left empty.
  bool Take(const std::string& name, bool atRoot, std::string& displaced);

 private:
  struct Taken {
    std::string name;
    bool atRoot;
  };
  std::map<std::string, Taken> taken_;  // by upper-cased flat name
};

// Writes data as the flat name inside the directory: into a fresh hidden
// temporary file first (never through an existing link), then renamed over
// the name, which replaces a file or link there instead of writing through
// it. A modification time of 0 is left as the write sets it.
bool WriteFlatMember(const Directory& dir, const std::string& name,
                     const std::string& data, time_t mtime,
                     std::string& reason);

}  // namespace qm
