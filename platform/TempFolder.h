// Temp and the private folders made in it. Temp itself is opened once,
// without following a link, and checked; each piece of work gets a folder
// of its own made fresh inside it (mode 0700, a random name) and is done
// through that folder's descriptor only, so no one who can rename things in
// Temp or above it can make the program read, write or delete elsewhere.
#pragma once

#include <string>
#include <vector>

#include "platform/File.h"

namespace qm {

class PrivateFolder {
 public:
  enum class Outcome {
    Made,
    NoTemp,    // Temp is missing and cannot be made
    NotOwn,    // Temp is a link, no directory, or someone else's
    Unusable,  // Temp or the folder cannot be opened or made (see reason)
  };

  PrivateFolder() = default;
  ~PrivateFolder();  // removes the folder with what is in it
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Opens tempDir (made when missing), clears what dead runs left there,
  // and makes the folder. reason tells why not, for the log.
  Outcome Make(const std::string& tempDir, std::string& reason);
  bool Made() const { return fd_ >= 0; }
  // Makes a new file in the folder (mode 0600) for writing.
  Result<File> Create(const std::string& name) const;
  // A path to the folder for readers that take one ("/proc/self/fd/N/"): it
  // names the folder this descriptor holds whatever is renamed meanwhile.
  // In another process of the same user, "/proc/PID/fd/N/".
  std::string Path() const;
  std::string PathForOthers() const;
  // The names in the folder: visible ones sorted, then hidden ones sorted.
  std::vector<std::string> Names() const;
  // The whole content of one file in it (never through a link); false when
  // it is no regular file or cannot be read.
  bool Read(const std::string& name, std::string& bytes) const;
  // The same for "a/b/NAME" below it (no "." or ".." parts, no link on the
  // way) of at most maxBytes.
  bool ReadBelow(const std::string& relative, size_t maxBytes,
                 std::string& bytes) const;
  // Makes a symbolic link in the folder.
  bool Link(const std::string& name, const std::string& target) const;
  // Removes everything in the folder (it stays).
  void Empty() const;

 private:
  void Remove();
  int tempFd_ = -1;
  int fd_ = -1;
  std::string name_;
};

// Removes from tempDir what runs that are gone left there: their private
// folders (a live run holds a lock on its own), the ZIP library's
// temporary files of processes that no longer exist, and plain files
// (Temp is emptied of them before extracting). Nothing when tempDir is
// missing or is not Temp's own directory.
void RemoveAbandonedTemp(const std::string& tempDir);

}  // namespace qm
