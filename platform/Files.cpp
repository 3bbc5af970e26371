#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/FaultInjection.h"
#include "platform/Paths.h"

namespace qm {

namespace {

// Reads and writes of files reach the system in pieces of this size.
constexpr uint32_t kIoChunk = 256 * 1024;
// The disk is set to work on a written file every this many bytes, so that
// the fsync at its end has little left to wait for.
constexpr uint64_t kWriteBehind = 2 * 1024 * 1024;
// A long directory read hands control back this often (a few milliseconds
// of lstat calls on a cached directory).
constexpr unsigned kEntriesBetweenCalls = 256;

std::string DirectoryOrDot(const std::string& path) {
  std::string dir = DirectoryPart(path);
  return dir.empty() ? std::string("./") : dir;
}

// Upper-cased names of one directory, rebuilt only when the directory's
// modification time changes, so resolving many names stays linear. Our own
// creations and removals update the index in place.
struct DirIndex {
  timespec mtime{};
  timespec builtAt{};
  bool ownChange = false;  // the last change was this process's own
  std::unordered_multimap<std::string, std::string> byUpper;
  // Names starting with a dot, where writers' temporary files are: looked
  // through for a killed write without reading the directory again.
  std::unordered_set<std::string> hidden;
};

std::mutex indexMutex;
std::unordered_map<std::string, DirIndex> indexes;
thread_local const LongReadBreaks* currentBreaks = nullptr;

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

int64_t Nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Directory times come from a coarse clock: a change made in the same tick
// as the index was read leaves the time unchanged. An index read that soon
// after the last change may be stale, so a miss reads it again.
bool MayBeStale(const DirIndex& index) {
  return !index.ownChange &&
         Nanoseconds(index.builtAt) - Nanoseconds(index.mtime) < 50000000;
}

// Reads without the index's lock held: the breaks may look up names again.
DirIndex ReadIndex(const std::string& dir, const struct stat& st) {
  DirIndex index;
  index.mtime = st.st_mtim;
  clock_gettime(CLOCK_REALTIME, &index.builtAt);
  // A break that throws must not leave the directory open.
  const std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  unsigned read = 0;
  while (dirent* entry = d ? readdir(d.get()) : nullptr) {
    if (currentBreaks && ++read % kEntriesBetweenCalls == 0)
      currentBreaks->Take();
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    index.byUpper.emplace(UpperCase(name), name);
    if (name[0] == '.') index.hidden.insert(name);
  }
  return index;
}

// Calls use, under the lock, with the index of dir as it is now: the cached
// one unless it is outdated or reread is asked for. False when dir is no
// directory.
template <typename Use>
bool WithIndex(const std::string& dir, bool reread, Use use) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (!reread) {
    std::lock_guard<std::mutex> lock(indexMutex);
    auto found = indexes.find(dir);
    if (found != indexes.end() && SameTime(found->second.mtime, st.st_mtim)) {
      use(found->second);
      return true;
    }
  }
  DirIndex fresh = ReadIndex(dir, st);
  std::lock_guard<std::mutex> lock(indexMutex);
  if (indexes.size() > 4096) indexes.clear();
  use(indexes[dir] = std::move(fresh));
  return true;
}

void EraseName(DirIndex& index, const std::string& name) {
  index.hidden.erase(name);
  auto range = index.byUpper.equal_range(UpperCase(name));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == name) {
      index.byUpper.erase(it);
      return;
    }
  }
}

// Keeps a cached index in step with a change this process just made.
void NoteChange(const std::string& path, const std::string& added,
                const std::string& removed) {
  std::string dir = DirectoryOrDot(path);
  std::lock_guard<std::mutex> lock(indexMutex);
  auto found = indexes.find(dir);
  if (found == indexes.end()) return;
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    indexes.erase(found);
    return;
  }
  DirIndex& index = found->second;
  if (!removed.empty()) EraseName(index, removed);
  if (!added.empty()) {
    EraseName(index, added);
    index.byUpper.emplace(UpperCase(added), added);
    if (added[0] == '.') index.hidden.insert(added);
  }
  index.mtime = st.st_mtim;
  index.ownChange = true;
}

// A trailing separator would make lstat look through a link.
std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool StatPath(const std::string& path, struct stat& st) {
  return stat(path.c_str(), &st) == 0;
}

constexpr size_t kTempSuffix = 6;  // mkostemp's XXXXXX

// "." + target name + mark + six characters: an AtomicWriter's file.
bool IsWriterTemp(const std::string& name, const std::string& mark) {
  return name.size() > 1 + mark.size() + kTempSuffix && name[0] == '.' &&
         name.compare(name.size() - kTempSuffix - mark.size(), mark.size(),
                      mark) == 0;
}

// Follows symbolic links to the path they finally name, which need not
// exist yet. False on a loop.
bool LinkTarget(std::string& path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return false;
    link.resize(static_cast<size_t>(n));
    path = link[0] == '/' ? link : path.substr(0, path.rfind('/') + 1) + link;
  }
  errno = ELOOP;
  return false;
}

}  // namespace

LongReadBreaks::LongReadBreaks(std::function<void()> onBreak)
    : onBreak_(std::move(onBreak)), previous_(currentBreaks) {
  currentBreaks = this;
}

LongReadBreaks::~LongReadBreaks() { currentBreaks = previous_; }

bool WriteAll(int fd, const void* data, size_t size, size_t* written) {
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return ok;
}

std::string ResolveExisting(const std::string& path) {
  if (path.empty()) return {};
  struct stat st {};
  if (StatPath(path, st)) return path;
  std::string name = FileNamePart(path);
  if (name.empty() || name == "." || name == "..") return {};
  const std::string dir = DirectoryOrDot(path);
  const std::string upper = UpperCase(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::vector<std::string> names;
    bool mayBeStale = false;
    if (!WithIndex(dir, attempt > 0, [&](const DirIndex& index) {
          auto range = index.byUpper.equal_range(upper);
          for (auto it = range.first; it != range.second; ++it)
            names.push_back(it->second);
          mayBeStale = MayBeStale(index);
        }))
      break;
    for (const std::string& found : names) {
      std::string candidate = DirectoryPart(path) + found;
      if (StatPath(candidate, st)) return candidate;
    }
    if (!mayBeStale) break;
  }
  return {};
}

bool FileExists(const std::string& path) {
  std::string found = ResolveExisting(path);
  struct stat st {};
  return !found.empty() && StatPath(found, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool RealDirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() &&
         lstat(WithoutTrailingSeparator(path).c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() &&
         lstat(WithoutTrailingSeparator(path).c_str(), &st) == 0;
}

bool LinkExists(const std::string& path) {
  const std::string found = ResolveExisting(path);
  struct stat st {};
  return !found.empty() &&
         lstat(WithoutTrailingSeparator(found).c_str(), &st) == 0 &&
         S_ISLNK(st.st_mode);
}

bool DeleteLocalFile(const std::string& path) {
  if (fault::ShouldFail(fault::Kind::File)) return false;
  std::string found = ResolveExisting(path);
  struct stat st {};
  if (found.empty() || lstat(found.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return false;
  if (unlink(found.c_str()) != 0) return false;
  NoteChange(found, "", FileNamePart(found));
  return true;
}

bool IdentifyFile(const std::string& path, FileIdentity& id) {
  const std::string found = ResolveExisting(path);
  struct stat st {};
  if (found.empty() || stat(found.c_str(), &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

namespace {

// rename(2) that fails with EEXIST rather than replace a file at to.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without it: a link fails the same way on a taken name.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st {};
  if (lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool MoveLocalFile(const std::string& from, const std::string& to) {
  if (fault::ShouldFail(fault::Kind::File)) return false;
  if (!RenameWithoutReplacing(from, to)) return false;
  NoteChange(from, "", FileNamePart(from));
  NoteChange(to, FileNamePart(to), "");
  return true;
}

namespace {

constexpr int kMostMovedNames = 1000;

std::string MovedName(const std::string& name, int taken) {
  return taken == 0 ? name : name + "." + std::to_string(taken);
}

FileError ErrorAt(const char* operation, const std::string& path) {
  return {errno, operation, path};
}

// Gives the file name of the folder from the first of base's names that is
// free in the folder into, without replacing anything there. errno EXDEV
// when the two lie on different file systems.
Result<std::string> PlaceUnder(const Directory& from, const std::string& name,
                               const Directory& into, const std::string& folder,
                               const std::string& base) {
  for (int taken = 0; taken < kMostMovedNames; ++taken) {
    const std::string moved = MovedName(base, taken);
    if (renameat2(from.fd(), name.c_str(), into.fd(), moved.c_str(),
                  RENAME_NOREPLACE) == 0)
      return moved;
    if (errno == EINVAL || errno == ENOSYS) {
      // A file system without it: a link fails the same way on a taken name.
      if (linkat(from.fd(), name.c_str(), into.fd(), moved.c_str(), 0) == 0) {
        unlinkat(from.fd(), name.c_str(), 0);
        return moved;
      }
    }
    if (errno != EEXIST) return ErrorAt("rename", folder + moved);
  }
  errno = EEXIST;
  return ErrorAt("rename", folder + MovedName(base, kMostMovedNames - 1));
}

// Copies the file name of from (it must still be the one described by
// facts) into a new file of into, synced, times kept; gives the new file's
// name there, a hidden one.
Result<std::string> CopyInto(const Directory& from, const std::string& name,
                             const FileFacts& facts, const Directory& into,
                             const std::string& folder) {
  const int fd =
      openat(from.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ErrorAt("open", name);
  File in(fd, name);
  const Result<FileFacts> opened = in.Facts();
  if (!opened) return opened.error();
  if (!opened->Regular() || !SameUnchanged(*opened, facts)) {
    errno = EAGAIN;
    return ErrorAt("open", name);
  }
  std::string temp;
  Result<File> out = FileError{};
  for (int tries = 0; tries < 100 && !out; ++tries) {
    temp = "." + name + kDefaultWriteMark + std::to_string(getpid()) + "." +
           std::to_string(tries);
    out = CreateInDirectory(into.fd(), folder, temp, 0666);
    if (!out && out.error().code != EEXIST) return out.error();
  }
  if (!out) return out.error();
  Status copied = CopyContent(in, *out);
  const timespec times[2] = {facts.accessed, facts.modified};
  if (copied && futimens(out->fd(), times) != 0)
    copied = ErrorAt("utimensat", folder + temp);
  if (copied) copied = out->Sync();
  const Status closed = out->Close();
  if (copied) copied = closed;
  if (!copied) {
    unlinkat(into.fd(), temp.c_str(), 0);
    return copied.error();
  }
  return temp;
}

}  // namespace

Result<std::string> FreeNameInFolder(const std::string& folder,
                                     const std::string& name) {
  const std::string into = TrailingBackslash(folder);
  // A trailing "/" would follow a link in place of the folder.
  const Result<Directory> dir =
      Directory::Open(WithoutTrailingSeparator(into), false);
  if (!dir) return dir.error();
  if (faccessat(dir->fd(), ".", W_OK | X_OK, AT_EACCESS) != 0)
    return ErrorAt("access", into);
  for (int taken = 0; taken < kMostMovedNames; ++taken) {
    const std::string moved = MovedName(name, taken);
    if (!dir->Facts(moved) && errno == ENOENT) return moved;
  }
  errno = EEXIST;
  return ErrorAt("rename", into + MovedName(name, kMostMovedNames - 1));
}

Result<std::string> MoveIntoFolder(const std::string& path,
                                   const std::string& folder) {
  if (fault::ShouldFail(fault::Kind::File)) return ErrorAt("rename", path);
  const std::string name = FileNamePart(path);
  const std::string into = TrailingBackslash(folder);
  Result<Directory> fromDir = Directory::Open(DirectoryOrDot(path));
  if (!fromDir) return fromDir.error();
  Result<Directory> intoDir =
      Directory::Open(WithoutTrailingSeparator(into), false);
  if (!intoDir) return intoDir.error();
  const Result<FileFacts> facts = fromDir->Facts(name);
  if (!facts) return facts.error();
  if (!facts->Regular()) {
    errno = facts->type == FileFacts::Type::Link ? ELOOP : EINVAL;
    return ErrorAt("lstat", path);
  }
  Result<std::string> moved = PlaceUnder(*fromDir, name, *intoDir, into, name);
  if (!moved && moved.error().code == EXDEV) {
    const Result<std::string> temp =
        CopyInto(*fromDir, name, *facts, *intoDir, into);
    if (!temp) return temp.error();
    moved = PlaceUnder(*intoDir, *temp, *intoDir, into, name);
    if (!moved) {
      unlinkat(intoDir->fd(), temp->c_str(), 0);
      return moved.error();
    }
    fault::Point("refused copy placed");
    // Only a copy whose name is on disk lets the original go; and only the
    // original, not a file put in its place meanwhile.
    const Result<FileFacts> still = fromDir->Facts(name);
    Status removed =
        fsync(intoDir->fd()) == 0 ? Status() : Status(ErrorAt("fsync", into));
    if (removed && (!still || !SameUnchanged(*still, *facts))) {
      errno = EAGAIN;
      removed = ErrorAt("unlink", path);
    }
    if (removed) removed = fromDir->Remove(name);
    if (!removed) {
      unlinkat(intoDir->fd(), moved->c_str(), 0);
      return removed.error();
    }
  }
  // A rename within one file system needs no sync: after a crash the file
  // has one of its two names.
  if (!moved) return moved.error();
  NoteChange(path, "", name);
  NoteChange(into + *moved, *moved, "");
  return moved;
}

namespace {

unsigned SharedModeBitsUnder(const struct stat& parent, bool folder) {
  if (!S_ISDIR(parent.st_mode) || (parent.st_mode & S_IWGRP) == 0) return 0;
  if (!folder) return S_IRGRP | S_IWGRP;
  return S_IRWXG | (parent.st_mode & S_ISGID);
}

}  // namespace

unsigned SharedModeBits(const std::string& directory, bool folder) {
  struct stat st {};
  if (stat(DirectoryOrDot(directory).c_str(), &st) != 0) return 0;
  return SharedModeBitsUnder(st, folder);
}

namespace {

bool MakeDirectoryAt(int parentFd, const std::string& name) {
  if (mkdirat(parentFd, name.c_str(), 0777) != 0) return false;
  struct stat parent {};
  if (fstat(parentFd, &parent) != 0) return true;
  const unsigned bits = SharedModeBitsUnder(parent, true);
  if (bits == 0) return true;
  // Through a descriptor of the new folder itself: a link put in its place
  // meanwhile is never followed.
  const int fd = openat(parentFd, name.c_str(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat made {};
  if (fd >= 0 && fstat(fd, &made) == 0 && made.st_uid == geteuid())
    fchmod(fd, (made.st_mode & 07777) | bits);
  if (fd >= 0) close(fd);
  return true;
}

}  // namespace

bool MakeDirectoryLikeParent(int parentFd, const std::string& name) {
  if (fault::ShouldFail(fault::Kind::File)) return false;
  return MakeDirectoryAt(parentFd, name);
}

namespace {

bool MakeDirectory(const std::string& path) {
  const int parent =
      open(DirectoryOrDot(WithoutTrailingSeparator(path)).c_str(),
           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return false;
  const bool made =
      MakeDirectoryAt(parent, FileNamePart(WithoutTrailingSeparator(path)));
  const int error = errno;
  close(parent);
  return made || error == EEXIST;
}

}  // namespace

bool ForceDirectories(const std::string& path) {
  if (fault::ShouldFail(fault::Kind::File)) return false;
  if (path.empty()) return false;
  std::string current;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!current.empty() && !DirectoryExists(current) &&
          !MakeDirectory(current))
        return false;
    }
    if (i < path.size()) current += path[i];
  }
  return DirectoryExists(path);
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  std::string p = UpperCase(pattern), n = UpperCase(name);
  size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

FoundFiles FindFiles(const std::string& pattern, bool includeHidden,
                     const std::function<bool()>& keepGoing) {
  FoundFiles result;
  std::vector<FoundFile>& found = result.files;
  std::string dir = DirectoryOrDot(pattern);
  std::string wildcard = FileNamePart(pattern);
  DIR* d =
      fault::ShouldFail(fault::Kind::File) ? nullptr : opendir(dir.c_str());
  if (!d) {
    result.error = errno;
    return result;
  }
  unsigned read = 0;
  for (;;) {
    errno = 0;
    dirent* entry = readdir(d);
    if (!entry) {
      result.error = errno;
      break;
    }
    if (keepGoing && ++read % kEntriesBetweenCalls == 0 && !keepGoing()) break;
    std::string name = entry->d_name;
    if (name.empty() || name == "." || name == "..") continue;
    if (name[0] == '.' && !includeHidden) continue;
    if (name[0] != '.' && !WildcardMatch(wildcard, name)) continue;
    struct stat st {};
    if (lstat((TrailingBackslash(dir) + name).c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    found.push_back({name, static_cast<uint64_t>(st.st_size)});
  }
  closedir(d);
  std::sort(
      found.begin(), found.end(),
      [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return result;
}

int OpenRegularFile(const std::string& path, int flags, unsigned mode) {
  // Created here or opened as it is: only a file this call made gets the
  // folder's group bits.
  int fd = -1;
  bool created = false;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    if ((flags & O_CREAT) != 0) {
      fd = open(path.c_str(), flags | O_EXCL | O_NONBLOCK | O_CLOEXEC,
                static_cast<mode_t>(mode));
      created = fd >= 0;
      if (fd >= 0 || errno != EEXIST || (flags & O_EXCL) != 0) break;
    }
    fd = open(path.c_str(), (flags & ~O_CREAT) | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || (flags & O_CREAT) == 0) break;
  }
  if (fd < 0) return -1;
  struct stat st {};
  if (created && fstat(fd, &st) == 0) {
    const unsigned bits = SharedModeBits(DirectoryPart(path), false);
    if ((st.st_mode & bits) != bits) fchmod(fd, (st.st_mode & 07777) | bits);
  }
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 ||
      ((flags & O_NONBLOCK) == 0 &&
       fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::FILE* OpenRegularStream(const std::string& path, OpenFlags flags,
                             const char* mode) {
  const int fd = OpenRegularFile(path, SystemOpenFlags(flags));
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, mode);
  if (!stream) close(fd);
  return stream;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (fault::ShouldFail(fault::Kind::File)) return false;
  std::string found = ResolveExisting(path);
  if (found.empty()) return false;
  Result<File> file = File::Open(found, OpenFlags::Read);
  if (!file) return false;
  Result<std::string> all = file->ReadAll();
  if (!all) return false;
  bytes = std::move(*all);
  return true;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  lines = TextLines(std::move(bytes));
  return true;
}

std::vector<std::string> TextLines(std::string bytes) {
  std::vector<std::string> lines;
  size_t end = bytes.find('\0');
  if (end != std::string::npos) bytes.resize(end);
  std::string line;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

LocalReader::~LocalReader() { Close(); }

bool LocalReader::Open(const std::string& path, bool followLinks) {
  Close();
  if (fault::ShouldFail(fault::Kind::File)) return false;
  std::string found = ResolveExisting(path);
  if (found.empty()) return false;
  fd_ = OpenRegularFile(found, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW));
  if (fd_ < 0) return false;
  struct stat st {};
  if (fstat(fd_, &st) != 0) {
    Close();
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

bool LocalReader::Read(void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  if (fault::ShouldFail(fault::Kind::File)) return false;
  if (fd_ < 0) return false;
  if (at_ == end_) {
    if (!buffer_) buffer_.reset(new char[kIoChunk]);
    ssize_t n;
    do {
      n = ::read(fd_, buffer_.get(), kIoChunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    at_ = 0;
    end_ = static_cast<uint32_t>(n);
  }
  done = std::min(count, end_ - at_);
  std::memcpy(buffer, buffer_.get() + at_, done);
  at_ += done;
  return true;
}

void LocalReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  at_ = end_ = 0;
}

AtomicWriter::~AtomicWriter() { Abandon(); }

Result<FileFacts> AtomicWriter::Facts() const {
  return DescriptorFacts(fd_, temp_);
}

bool AtomicWriter::Open(const std::string& path, bool followLinks) {
  Abandon();
  if (fault::ShouldFail(fault::Kind::File)) return false;
  std::string existing = ResolveExisting(path);
  target_ = existing.empty() ? path : existing;
  if (followLinks && !LinkTarget(target_)) return false;
  mode_t mask = umask(0);
  umask(mask);
  std::string dir = DirectoryPart(target_);
  mode_t mode = (0666 & ~mask) | SharedModeBits(dir, false);
  struct stat st {};
  foundDevice_ = 0;
  foundInode_ = 0;
  if (lstat(target_.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode)) {
      mode = st.st_mode & 07777;
    } else if (!S_ISLNK(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return false;
    }
    foundDevice_ = st.st_dev;
    foundInode_ = st.st_ino;
  }
  // A killed run's write to this target would otherwise stay for good.
  RemoveAbandonedWrites(dir, mark_, FileNamePart(target_));
  temp_ =
      dir + "." + FileNamePart(target_) + mark_ + std::string(kTempSuffix, 'X');
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    temp_.clear();
    return false;
  }
  flock(fd_, LOCK_EX | LOCK_NB);  // tells RemoveAbandonedWrites it is alive
  fchmod(fd_, mode);
  return true;
}

bool AtomicWriter::Write(const void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  if (fault::ShouldFail(fault::Kind::File)) return false;
  if (fd_ < 0) return false;
  if (!buffered_) {
    size_t written = 0;
    const bool ok = WriteAll(fd_, buffer, count, &written);
    done = static_cast<uint32_t>(written);  // at most count
    return ok;
  }
  if (!buffer_) buffer_.reset(new char[kIoChunk]);
  const char* from = static_cast<const char*>(buffer);
  while (done < count) {
    if (held_ == kIoChunk && !Flush()) return false;
    uint32_t piece = std::min(count - done, kIoChunk - held_);
    std::memcpy(buffer_.get() + held_, from + done, piece);
    held_ += piece;
    done += piece;
  }
  return true;
}

bool AtomicWriter::Flush() {
  size_t done = 0;
  bool ok = WriteAll(fd_, buffer_.get(), held_, &done);
  held_ = 0;
  written_ += done;
  if (ok && written_ - started_ >= kWriteBehind) {
    // The piece started last time is on its way to the disk by now: wait
    // for it and let its pages go, so a large file does not fill the page
    // cache with data that is not read again.
    if (started_ > settled_) {
      // A write-back error is reported once per open file: by this wait,
      // and then no longer by the fsync at the end.
      if (sync_file_range(fd_, static_cast<off_t>(settled_),
                          static_cast<off_t>(started_ - settled_),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0)
        return false;
      posix_fadvise(fd_, static_cast<off_t>(settled_),
                    static_cast<off_t>(started_ - settled_),
                    POSIX_FADV_DONTNEED);
      settled_ = started_;
    }
    sync_file_range(fd_, static_cast<off_t>(started_),
                    static_cast<off_t>(written_ - started_),
                    SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }
  return ok;
}

bool AtomicWriter::Commit() {
  if (fd_ < 0) return false;
  bool ok = Flush() && !fault::ShouldFail(fault::Kind::File) && fsync(fd_) == 0;
  if (ok && buffered_) posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
  ok = close(fd_) == 0 && ok;
  fd_ = -1;
  if (ok)
    ok = keepNewcomers_ ? RenameKeepingNewcomers()
                        : rename(temp_.c_str(), target_.c_str()) == 0;
  if (ok) {
    // The new name is durable only with its directory. The file is in
    // place by now, so a directory that cannot be synced fails nothing.
    int dir = open(DirectoryOrDot(target_).c_str(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
    NoteChange(target_, FileNamePart(target_), FileNamePart(temp_));
  } else {
    const int error = errno;
    unlink(temp_.c_str());
    errno = error;
  }
  temp_.clear();
  return ok;
}

namespace {

bool Is(const struct stat& st, dev_t device, ino_t inode) {
  return st.st_dev == device && st.st_ino == inode;
}

}  // namespace

bool AtomicWriter::RenameKeepingNewcomers() {
  const int error = EEXIST;
  struct stat now {};
  // What was there is gone meanwhile: the name is taken only while free.
  if (foundInode_ != 0 && lstat(target_.c_str(), &now) != 0 && errno == ENOENT)
    foundInode_ = 0;
  if (foundInode_ == 0) {
    // Nothing was there: the name is taken only if it is still free, in
    // any letter case (the host finds its files so).
    if (!ResolveExisting(target_).empty()) {
      errno = error;
      return false;
    }
    return RenameWithoutReplacing(temp_, target_);
  }
  // The file seen at Open is swapped out and looked at; anything else that
  // came meanwhile is swapped back, untouched.
  if (renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(),
                RENAME_EXCHANGE) == 0) {
    struct stat out {};
    if (lstat(temp_.c_str(), &out) == 0 && Is(out, foundDevice_, foundInode_)) {
      unlink(temp_.c_str());
      return true;
    }
    renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(),
              RENAME_EXCHANGE);
    errno = error;
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st {};
  if (lstat(target_.c_str(), &st) == 0 && !Is(st, foundDevice_, foundInode_)) {
    errno = error;
    return false;
  }
  return rename(temp_.c_str(), target_.c_str()) == 0;
}

void AtomicWriter::Abandon() {
  held_ = 0;
  written_ = started_ = settled_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

namespace {

// Names in a directory as it is now; a sweep of a whole directory keeps no
// index of it.
std::vector<std::string> HiddenNamesNow(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d))
      if (entry->d_name[0] == '.') names.emplace_back(entry->d_name);
    closedir(d);
  }
  return names;
}

// A writer opens once per file it writes, so it looks through the cached
// index instead of reading the directory each time.
std::vector<std::string> HiddenNamesIndexed(const std::string& dir) {
  std::vector<std::string> names;
  WithIndex(dir, false, [&](const DirIndex& index) {
    names.assign(index.hidden.begin(), index.hidden.end());
  });
  return names;
}

}  // namespace

void RemoveAbandonedWrites(const std::string& directory,
                           const std::string& mark, const std::string& target) {
  const std::string dir =
      directory.empty() ? std::string("./") : TrailingBackslash(directory);
  const std::string prefix = "." + target + mark;
  for (const std::string& name :
       target.empty() ? HiddenNamesNow(dir) : HiddenNamesIndexed(dir)) {
    if (!IsWriterTemp(name, mark)) continue;
    if (!target.empty() && (name.size() != prefix.size() + kTempSuffix ||
                            name.compare(0, prefix.size(), prefix) != 0))
      continue;
    const std::string path = dir + name;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    // A writer that is still alive holds its lock.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 && unlink(path.c_str()) == 0)
      NoteChange(path, "", name);
    close(fd);
  }
}

}  // namespace qm
