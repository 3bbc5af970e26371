#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"

namespace qm {

namespace {

FileError ErrorOf(const char* operation, const std::string& path) {
  return {errno, operation, path};
}

// A destructor's close must not change the errno a caller is about to read.
void CloseKeepingErrno(int fd) {
  if (fd < 0) return;
  const int error = errno;
  close(fd);
  errno = error;
}

timespec TimeOf(const statx_timestamp& t) {
  timespec out{};
  out.tv_sec = t.tv_sec;
  out.tv_nsec = t.tv_nsec;
  return out;
}

bool Describe(int dirFd, const char* path, int flags, FileFacts& facts) {
  struct statx st {};
  if (statx(dirFd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
    return false;
  facts.type = S_ISREG(st.stx_mode)   ? FileFacts::Type::Regular
               : S_ISDIR(st.stx_mode) ? FileFacts::Type::Directory
               : S_ISLNK(st.stx_mode) ? FileFacts::Type::Link
                                      : FileFacts::Type::Other;
  facts.id.device = makedev(st.stx_dev_major, st.stx_dev_minor);
  facts.id.inode = st.stx_ino;
  facts.size = st.stx_size;
  facts.accessed = TimeOf(st.stx_atime);
  facts.modified = TimeOf(st.stx_mtime);
  facts.changed = TimeOf(st.stx_ctime);
  facts.born = (st.stx_mask & STATX_BTIME)
                   ? static_cast<int64_t>(st.stx_btime.tv_sec) * 1000000000 +
                         st.stx_btime.tv_nsec
                   : 0;
  return true;
}

}  // namespace

std::string FileError::Text() const { return std::strerror(code); }

Status CopyContent(File& from, File& to) {
  char block[65536];
  for (;;) {
    const Result<size_t> got = from.ReadSome(block, sizeof block);
    if (!got) return got.error();
    if (*got == 0) return {};
    const Status written = to.Write(block, *got);
    if (!written) return written;
  }
}

bool SameUnchanged(const FileFacts& a, const FileFacts& b) {
  const auto same = [](const timespec& x, const timespec& y) {
    return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
  };
  return a.id == b.id && a.size == b.size && same(a.modified, b.modified) &&
         same(a.changed, b.changed);
}

Result<FileFacts> PathFacts(const std::string& path, bool followLinks) {
  FileFacts facts;
  if (!Describe(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW,
                facts))
    return ErrorOf(followLinks ? "stat" : "lstat", path);
  return facts;
}

int SystemOpenFlags(OpenFlags flags) {
  int out = Has(flags, OpenFlags::ReadWrite) ? O_RDWR
            : Has(flags, OpenFlags::Write)   ? O_WRONLY
                                             : O_RDONLY;
  if (Has(flags, OpenFlags::Create)) out |= O_CREAT;
  if (Has(flags, OpenFlags::Exclusive)) out |= O_EXCL;
  if (Has(flags, OpenFlags::Truncate)) out |= O_TRUNC;
  if (Has(flags, OpenFlags::Append)) out |= O_APPEND;
  if (Has(flags, OpenFlags::NoFollow)) out |= O_NOFOLLOW;
  return out;
}

// --- File ------------------------------------------------------------------

OwnedDescriptor::~OwnedDescriptor() { CloseKeepingErrno(fd_); }

OwnedDescriptor& OwnedDescriptor::operator=(OwnedDescriptor&& other) noexcept {
  if (this != &other) {
    CloseKeepingErrno(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Result<File> File::Open(const std::string& path, OpenFlags flags,
                        unsigned mode) {
  const int fd = OpenRegularFile(path, SystemOpenFlags(flags), mode);
  if (fd < 0) return ErrorOf("open", path);
  return File(fd, path);
}

FileError File::Error(const char* operation) const {
  return ErrorOf(operation, path_);
}

Result<size_t> File::ReadSome(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = read(fd_, buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Error("read");
  }
}

Result<size_t> File::ReadUpTo(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < count) {
    Result<size_t> n = ReadSome(p + got, count - got);
    if (!n) return n;
    if (*n == 0) break;
    got += *n;
  }
  return got;
}

Result<size_t> File::ReadAt(void* buffer, size_t count, uint64_t offset) {
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < count) {
    const ssize_t n =
        pread(fd_, p + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error("read");
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

Result<std::string> File::ReadAll() {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    Result<size_t> n = ReadSome(buffer, sizeof buffer);
    if (!n) return n.error();
    if (*n == 0) return bytes;
    bytes.append(buffer, *n);
  }
}

Status File::Write(const void* data, size_t size, size_t* written) {
  if (WriteAll(fd_, data, size, written)) return {};
  return Error("write");
}

Status File::SeekToEnd() {
  if (lseek(fd_, 0, SEEK_END) < 0) return Error("lseek");
  return {};
}

Status File::Truncate(uint64_t size) {
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return Error("ftruncate");
  return {};
}

Status File::Sync() {
  if (fsync(fd_) != 0) return Error("fsync");
  return {};
}

void File::ReadSequentially() {
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

Status File::TryLock() {
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return Error("flock");
  return {};
}

Result<FileFacts> File::Facts() const { return DescriptorFacts(fd_, path_); }

Result<FileFacts> DescriptorFacts(int fd, const std::string& path) {
  FileFacts facts;
  if (!Describe(fd, "", AT_EMPTY_PATH, facts)) return ErrorOf("fstat", path);
  return facts;
}

std::string File::ProcPath() const {
  return "/proc/self/fd/" + std::to_string(fd_);
}

Status File::Close() {
  if (fd_ < 0) return {};
  const int fd = std::exchange(fd_, -1);
  if (close(fd) != 0) return Error("close");
  return {};
}

// --- Directory -------------------------------------------------------------

Result<Directory> Directory::Open(const std::string& path, bool followLink) {
  Directory dir;
  dir.fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                                   (followLink ? 0 : O_NOFOLLOW));
  if (dir.fd_ < 0) return ErrorOf("open", path);
  dir.path_ = path;
  return dir;
}

Result<FileFacts> Directory::Facts(const std::string& name) const {
  FileFacts facts;
  if (!Describe(fd_, name.c_str(), AT_SYMLINK_NOFOLLOW, facts))
    return ErrorOf("lstat", path_ + name);
  return facts;
}

Result<File> Directory::Create(const std::string& name, unsigned mode) const {
  return CreateInDirectory(fd_, path_, name, mode);
}

Result<File> CreateInDirectory(int dirFd, const std::string& dirPath,
                               const std::string& name, unsigned mode) {
  const int fd = openat(dirFd, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode));
  if (fd < 0) return ErrorOf("open", dirPath + name);
  return File(fd, dirPath + name);
}

Status Directory::Remove(const std::string& name) const {
  if (unlinkat(fd_, name.c_str(), 0) != 0)
    return ErrorOf("unlink", path_ + name);
  return {};
}

// --- Paths -----------------------------------------------------------------

Status RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) return ErrorOf("unlink", path);
  return {};
}

Status SetPermissions(const std::string& path, unsigned mode) {
  if (chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return ErrorOf("chmod", path);
  return {};
}

Status CopyFileTimes(const std::string& from, const std::string& to) {
  Result<FileFacts> facts = PathFacts(from);
  if (!facts) return facts.error();
  const timespec times[2] = {facts->accessed, facts->modified};
  if (utimensat(AT_FDCWD, to.c_str(), times, 0) != 0)
    return ErrorOf("utimensat", to);
  return {};
}

std::string CurrentDirectory() {
  char cwd[4096];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

}  // namespace qm
