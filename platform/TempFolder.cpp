#include "platform/TempFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm {

namespace {

constexpr char kFolderPrefix[] = ".quillmar-";
constexpr char kZipTempPrefix[] = ".dunzip-";
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Without(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool InOurGroups(gid_t group) {
  if (group == getegid()) return true;
  gid_t groups[256];
  const int count = getgroups(256, groups);
  return count > 0 &&
         std::find(groups, groups + count, group) != groups + count;
}

// Temp may be ours, root's, or shared by a group we are in; anyone else's
// could be emptied or watched by its owner.
bool OwnEnough(const struct stat& st) {
  return S_ISDIR(st.st_mode) &&
         (st.st_uid == geteuid() || st.st_uid == 0 ||
          ((st.st_mode & S_IWGRP) != 0 && InOurGroups(st.st_gid)));
}

// Temp's descriptor, made when missing (create); -1 with outcome and reason
// set otherwise.
int OpenTemp(const std::string& tempDir, bool create,
             PrivateFolder::Outcome& outcome, std::string& reason) {
  const std::string path = Without(tempDir);
  const std::string parent = Without(DirectoryPart(path));
  int fd = open(path.c_str(), kDirectoryFlags);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR) &&
      !DirectoryExists(parent)) {
    if (!create || !ForceDirectories(parent)) {
      outcome = PrivateFolder::Outcome::NoTemp;
      return -1;
    }
    errno = ENOENT;
  }
  if (fd < 0 && errno == ENOENT && create) {
    const int parentFd = open(parent.c_str(), kDirectoryFlags & ~O_NOFOLLOW);
    if (parentFd < 0 ||
        (!MakeDirectoryLikeParent(parentFd, FileNamePart(path)) &&
         errno != EEXIST)) {
      if (parentFd >= 0) close(parentFd);
      outcome = PrivateFolder::Outcome::NoTemp;
      return -1;
    }
    fd = openat(parentFd, FileNamePart(path).c_str(), kDirectoryFlags);
    close(parentFd);
  }
  struct stat st {};
  if (fd < 0) {
    const int error = errno;
    const bool linkOrFile = error == ELOOP || error == ENOTDIR;
    outcome = linkOrFile        ? PrivateFolder::Outcome::NotOwn
              : error == ENOENT ? PrivateFolder::Outcome::NoTemp
                                : PrivateFolder::Outcome::Unusable;
    reason = std::strerror(error);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !OwnEnough(st)) {
    close(fd);
    outcome = PrivateFolder::Outcome::NotOwn;
    return -1;
  }
  return fd;
}

std::vector<std::string> EntryNames(int dirFd) {
  std::vector<std::string> names;
  const int copy = dup(dirFd);
  if (copy < 0) return names;
  DIR* d = fdopendir(copy);
  if (!d) {
    close(copy);
    return names;
  }
  rewinddir(d);
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

// What an archive program extracted may hold folders; none is followed
// when it is a link.
void EmptyFolder(int fd, int depth = 0) {
  for (const std::string& name : EntryNames(fd)) {
    if (unlinkat(fd, name.c_str(), 0) == 0 || depth > 64) continue;
    const int sub = openat(fd, name.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) continue;
    EmptyFolder(sub, depth + 1);
    close(sub);
    unlinkat(fd, name.c_str(), AT_REMOVEDIR);
  }
}

// A regular file of the folder, never through a link; false past maxBytes.
bool ReadRegular(int dirFd, const std::string& name, size_t maxBytes,
                 std::string& bytes) {
  bytes.clear();
  const int fd = openat(dirFd, name.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    ok = bytes.size() <= maxBytes;
  }
  close(fd);
  return ok;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the now empty folder name of tempFd, if it is still the one fd
// holds.
void RemoveFolder(int tempFd, const std::string& name, int fd) {
  struct stat held {
  }, named{};
  if (fstat(fd, &held) == 0 &&
      fstatat(tempFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      SameFile(held, named))
    unlinkat(tempFd, name.c_str(), AT_REMOVEDIR);
}

// ".dunzip-PID-N.tmp": the PID, or 0.
pid_t ZipTempOwner(const std::string& name) {
  const size_t prefix = sizeof kZipTempPrefix - 1;
  if (name.compare(0, prefix, kZipTempPrefix) != 0 || name.size() < 5 ||
      name.compare(name.size() - 4, 4, ".tmp") != 0)
    return 0;
  const size_t dash = name.find('-', prefix);
  if (dash == std::string::npos || dash == prefix) return 0;
  pid_t pid = 0;
  for (size_t i = prefix; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9' || pid > 100000000) return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

void SweepTemp(int tempFd) {
  for (const std::string& name : EntryNames(tempFd)) {
    struct stat st {};
    if (fstatat(tempFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (name.compare(0, sizeof kFolderPrefix - 1, kFolderPrefix) != 0)
        continue;
      const int fd = openat(tempFd, name.c_str(), kDirectoryFlags);
      if (fd < 0) continue;
      // A live run holds its folder's lock until the folder is gone.
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        EmptyFolder(fd);
        RemoveFolder(tempFd, name, fd);
      }
      close(fd);
    } else if (S_ISREG(st.st_mode)) {
      const pid_t owner = ZipTempOwner(name);
      const bool abandoned = owner > 0 && kill(owner, 0) != 0 && errno == ESRCH;
      if (name[0] != '.' || abandoned) unlinkat(tempFd, name.c_str(), 0);
    }
  }
}

std::string RandomName() {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
  std::string name = kFolderPrefix;
  for (unsigned char b : bytes) name += kChars[b % (sizeof kChars - 1)];
  return name;
}

}  // namespace

PrivateFolder::~PrivateFolder() { Remove(); }

void PrivateFolder::Remove() {
  if (fd_ >= 0) {
    EmptyFolder(fd_);
    RemoveFolder(tempFd_, name_, fd_);
    close(fd_);  // releases the lock
  }
  if (tempFd_ >= 0) close(tempFd_);
  fd_ = tempFd_ = -1;
}

PrivateFolder::Outcome PrivateFolder::Make(const std::string& tempDir,
                                           std::string& reason) {
  Remove();
  Outcome outcome = Outcome::Made;
  tempFd_ = OpenTemp(tempDir, true, outcome, reason);
  if (tempFd_ < 0) return outcome;
  fault::Point("temp opened");
  SweepTemp(tempFd_);
  for (int attempt = 0; attempt < 20 && fd_ < 0; ++attempt) {
    name_ = RandomName();
    if (fault::ShouldFail(fault::Kind::File) ||
        mkdirat(tempFd_, name_.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      break;
    }
    fd_ = openat(tempFd_, name_.c_str(), kDirectoryFlags);
    if (fd_ < 0) break;
    // Locked before a sweep of another run could take it for abandoned; one
    // that did so first has removed it, and another name is tried.
    struct stat held {
    }, named{};
    if (flock(fd_, LOCK_EX) != 0 || fstat(fd_, &held) != 0 ||
        fstatat(tempFd_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(held, named)) {
      close(fd_);
      fd_ = -1;
      errno = EAGAIN;
      continue;
    }
    fchmod(fd_, 0700);
    // The readers reach the folder through /proc.
    struct stat seen {};
    if (stat(Path().c_str(), &seen) != 0 || !SameFile(seen, held)) {
      Remove();
      reason = "its folders cannot be reached through /proc";
      return Outcome::Unusable;
    }
    return Outcome::Made;
  }
  reason = std::strerror(errno);
  Remove();
  return Outcome::Unusable;
}

Result<File> PrivateFolder::Create(const std::string& name) const {
  return CreateInDirectory(fd_, Path(), name, 0600);
}

std::string PrivateFolder::Path() const {
  return "/proc/self/fd/" + std::to_string(fd_) + "/";
}

std::string PrivateFolder::PathForOthers() const {
  return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_) +
         "/";
}

std::vector<std::string> PrivateFolder::Names() const {
  std::vector<std::string> names = EntryNames(fd_);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) {
              const bool hiddenA = a[0] == '.', hiddenB = b[0] == '.';
              return hiddenA != hiddenB ? hiddenB : a < b;
            });
  return names;
}

bool PrivateFolder::Read(const std::string& name, std::string& bytes) const {
  bytes.clear();
  if (fault::ShouldFail(fault::Kind::File)) return false;
  return ReadRegular(fd_, name, std::string().max_size(), bytes);
}

bool PrivateFolder::ReadBelow(const std::string& relative, size_t maxBytes,
                              std::string& bytes) const {
  bytes.clear();
  if (fd_ < 0) return false;
  std::vector<std::string> parts;
  for (size_t at = 0; at <= relative.size();) {
    size_t end = relative.find('/', at);
    if (end == std::string::npos) end = relative.size();
    parts.push_back(relative.substr(at, end - at));
    at = end + 1;
  }
  for (const std::string& part : parts)
    if (part.empty() || part == "." || part == "..") return false;
  int dir = fd_;
  bool ok = true;
  for (size_t i = 0; ok && i + 1 < parts.size(); ++i) {
    const int sub = openat(dir, parts[i].c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir != fd_) close(dir);
    ok = sub >= 0;
    dir = sub;
  }
  if (ok) ok = ReadRegular(dir, parts.back(), maxBytes, bytes);
  if (dir >= 0 && dir != fd_) close(dir);
  return ok;
}

bool PrivateFolder::Link(const std::string& name,
                         const std::string& target) const {
  return fd_ >= 0 && symlinkat(target.c_str(), fd_, name.c_str()) == 0;
}

void PrivateFolder::Empty() const {
  if (fd_ >= 0) EmptyFolder(fd_);
}

void RemoveAbandonedTemp(const std::string& tempDir) {
  PrivateFolder::Outcome outcome{};
  std::string reason;
  const int fd = OpenTemp(tempDir, false, outcome, reason);
  if (fd < 0) return;
  SweepTemp(fd);
  close(fd);
}

}  // namespace qm
