// Local files and directory search with the behaviour the program expects:
// names found without regard to case, hidden entries skipped, writes that
// replace a target only when they are complete.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace qm {

// The path of an existing file or directory, finding the last component
// without regard to case (an exact match wins). Empty when none exists.
std::string ResolveExisting(const std::string& path);
bool FileExists(const std::string& path);  // a plain file
bool DirectoryExists(const std::string& path);
// A directory itself, not a symbolic link to one.
bool RealDirectoryExists(const std::string& path);
// Anything at all, a dangling symbolic link included.
bool PathExists(const std::string& path);
// Which file a path names, whatever the letter case of its last component
// and however its folders are spelt. False when none.
bool IdentifyFile(const std::string& path, FileIdentity& id);
// The path itself (its last component found without regard to case) is a
// symbolic link, whatever it points at.
bool LinkExists(const std::string& path);
bool DeleteLocalFile(const std::string& path);
// rename(2) that keeps the name lookup's cache in step and never replaces
// a file at to (EEXIST).
bool MoveLocalFile(const std::string& from, const std::string& to);
// Moves the regular file at path into folder under its own name, or, when
// that is taken, the name followed by ".1", ".2", ... up to ".999": never
// replacing a file, never through a symbolic link in place of the file or
// of the folder. Across file systems it copies (times kept), syncs the copy
// and its name, and only then removes the original; a copy that cannot
// take the original's place is removed again. Gives the name it now has.
Result<std::string> MoveIntoFolder(const std::string& path,
                                   const std::string& folder);
// The name MoveIntoFolder would give the file name in folder now; fails
// when the folder is no folder of its own (a link) or cannot be written.
Result<std::string> FreeNameInFolder(const std::string& folder,
                                     const std::string& name);
// Creates every missing level; true when the directory exists afterwards.
// Each level made follows SharedModeBits.
bool ForceDirectories(const std::string& path);

// What the program creates in a folder its group may write is made usable
// by every member of the group, whatever the creator's umask: a new file
// gets group read and write, a new folder group rwx, and set-group-ID when
// the folder above has it. Elsewhere the umask decides, and nothing that
// exists is ever changed. The bits to add to what is made in directory:
unsigned SharedModeBits(const std::string& directory, bool folder);
// Makes name inside the directory parentFd, by that rule. False with errno
// on failure (EEXIST included).
bool MakeDirectoryLikeParent(int parentFd, const std::string& name);

// "*" and "?" without regard to case; "*.*" matches every name.
bool WildcardMatch(const std::string& pattern, const std::string& name);

struct FoundFile {
  std::string name;
  uint64_t size = 0;
};
struct FoundFiles {
  std::vector<FoundFile> files;
  // Why the directory could not be read (to its end): an errno value, or 0.
  // A directory that does not exist gives ENOENT and no files.
  int error = 0;
};
// Plain files matching directory + wildcard name; hidden entries (unless
// asked for), directories and symbolic links are skipped. Sorted by name.
// keepGoing, if given, is called every few hundred entries so that a caller
// can answer its window during a long read; false ends the read early.
FoundFiles FindFiles(const std::string& pattern, bool includeHidden = false,
                     const std::function<bool()>& keepGoing = {});

// While one exists, a long directory read on this thread that nobody asked
// for directly (the case-blind name index of a large directory, read when
// a name is looked up) calls onBreak every few hundred entries, so that a
// window can answer in between. The read goes on after each break.
class LongReadBreaks {
 public:
  explicit LongReadBreaks(std::function<void()> onBreak);
  ~LongReadBreaks();
  LongReadBreaks(const LongReadBreaks&) = delete;
  LongReadBreaks& operator=(const LongReadBreaks&) = delete;
  void Take() const { onBreak_(); }

 private:
  std::function<void()> onBreak_;
  const LongReadBreaks* previous_;
};

// open(2) that never blocks on a FIFO or device: the path must name a
// regular file (or, with O_CREAT, not exist yet). Anything else fails with
// errno set, the descriptor otherwise comes back in blocking mode. A file
// it creates gets SharedModeBits.
int OpenRegularFile(const std::string& path, int flags, unsigned mode = 0666);
// The same as a stdio stream in the given fopen mode; null on failure.
std::FILE* OpenRegularStream(const std::string& path, OpenFlags flags,
                             const char* mode);

// write(2) until every byte is written, retrying interrupted and short
// writes; false on an error (errno tells). written, when given, counts the
// bytes written either way.
bool WriteAll(int fd, const void* data, size_t size, size_t* written = nullptr);
inline bool WriteAll(int fd, std::string_view bytes) {
  return WriteAll(fd, bytes.data(), bytes.size());
}

// Text file lines: a line ends at CR, LF or CR LF; a NUL ends the text.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);
std::vector<std::string> TextLines(std::string bytes);
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Sequential reader with the platform's read-ahead hint. Small reads are
// served from a large buffer, so a copy in small blocks makes few calls.
class LocalReader {
 public:
  ~LocalReader();
  // Without followLinks a path that is itself a symbolic link fails.
  bool Open(const std::string& path, bool followLinks = true);
  bool Read(void* buffer, uint32_t count, uint32_t& done);
  uint64_t Size() const { return size_; }
  void Close();

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::unique_ptr<char[]> buffer_;
  uint32_t at_ = 0;
  uint32_t end_ = 0;
};

// What an AtomicWriter's temporary file is named by default:
// "." + target name + mark + six random characters.
inline constexpr char kDefaultWriteMark[] = ".tmp.";

// Writes into a temporary file beside the target; Commit() renames it into
// place. Destroying it uncommitted removes the temporary file, so a failed
// or abandoned write never leaves a partial target. An existing target must
// be a regular file; its permissions are kept. With followLinks a symbolic
// link stays and its target is replaced; otherwise the link is replaced.
// A committed file and its name are durable. A buffered writer makes few
// large writes, so a failure of the disk may surface only at a later Write
// or at Commit().
// keepNewcomers: Commit() replaces only the file that was at the target when
// Open() looked (or none), never one put there meanwhile: it fails instead
// with errno EEXIST.
class AtomicWriter {
 public:
  explicit AtomicWriter(std::string mark = kDefaultWriteMark,
                        bool buffered = false, bool keepNewcomers = false)
      : mark_(std::move(mark)),
        buffered_(buffered),
        keepNewcomers_(keepNewcomers) {}
  ~AtomicWriter();
  bool Open(const std::string& path, bool followLinks = false);
  bool Write(const void* buffer, uint32_t count, uint32_t& done);
  bool Commit();
  void Abandon();
  const std::string& TempPath() const { return temp_; }
  const std::string& TargetPath() const { return target_; }
  // A file stood at the target (in any letter case) when Open() looked.
  bool FoundTarget() const { return foundInode_ != 0; }
  // The temporary file while it is being written.
  Result<FileFacts> Facts() const;

 private:
  bool Flush();
  bool RenameKeepingNewcomers();

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  uint32_t held_ = 0;     // bytes in buffer_
  uint64_t written_ = 0;  // bytes handed to the file
  uint64_t started_ = 0;  // bytes whose write-back has been started
  uint64_t settled_ = 0;  // bytes written back and let go from the cache
  std::string target_;
  std::string temp_;
  std::string mark_;
  bool buffered_;
  bool keepNewcomers_;
  // What stood at the target when it was opened (st_ino 0: nothing).
  dev_t foundDevice_ = 0;
  ino_t foundInode_ = 0;
};

// Removes the temporary files of AtomicWriter writes made with mark whose
// process died (no live writer holds them) from a directory; with a target
// name, only those of writes to that target.
void RemoveAbandonedWrites(const std::string& directory,
                           const std::string& mark,
                           const std::string& target = {});

}  // namespace qm
