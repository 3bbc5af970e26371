// Files and directories as owned objects, and results that carry the error:
// what the rest of the program uses instead of descriptors and errno. Every
// failure also leaves errno as the system call set it, for callers that
// still read it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qm {

// What went wrong: the errno value, the call and the path it was made on.
struct FileError {
  int code = 0;
  std::string operation;
  std::string path;
  std::string Text() const;  // strerror of code
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value)
      : value_(std::move(value)) {}  // NOLINT: a result is its value
  Result(FileError error) : error_(std::move(error)) {}  // NOLINT: or its error
  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  const FileError& error() const { return error_; }

 private:
  std::optional<T> value_;
  FileError error_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(FileError error)
      : failed_(true), error_(std::move(error)) {}  // NOLINT
  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const FileError& error() const { return error_; }

 private:
  bool failed_ = false;
  FileError error_;
};
using Status = Result<void>;

// Which file a path names (device and inode), whatever the letter case of
// its last component and however its folders are spelt.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FileFacts {
  enum class Type { Regular, Directory, Link, Other };
  Type type = Type::Other;
  FileIdentity id;
  uint64_t size = 0;
  timespec accessed{};
  timespec modified{};
  timespec changed{};  // the inode's change time
  // Birth time in nanoseconds where the file system keeps one, else 0.
  int64_t born = 0;
  bool Regular() const { return type == Type::Regular; }
};

// Whether two looks saw the same file unchanged: its identity, size and
// times (an inode number may be reused).
bool SameUnchanged(const FileFacts& a, const FileFacts& b);

// Facts about what path names; without followLinks a link is described
// itself (lstat).
Result<FileFacts> PathFacts(const std::string& path, bool followLinks = true);

// How a file is opened; combine with |.
enum class OpenFlags : unsigned {
  Read = 0,
  Write = 1,
  ReadWrite = 2,
  Create = 4,     // made when missing
  Exclusive = 8,  // with Create: fails (EEXIST) when it exists
  Truncate = 16,
  Append = 32,
  NoFollow = 64,  // a path that is itself a symbolic link fails
};
constexpr OpenFlags operator|(OpenFlags a, OpenFlags b) {
  return static_cast<OpenFlags>(static_cast<unsigned>(a) |
                                static_cast<unsigned>(b));
}
constexpr bool Has(OpenFlags flags, OpenFlags flag) {
  return (static_cast<unsigned>(flags) & static_cast<unsigned>(flag)) != 0;
}
int SystemOpenFlags(OpenFlags flags);  // the O_* value, for platform code

// A descriptor and the path it was opened by, closed with its owner.
class OwnedDescriptor {
 public:
  int fd() const { return fd_; }  // for platform code

 protected:
  OwnedDescriptor() = default;
  OwnedDescriptor(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~OwnedDescriptor();
  OwnedDescriptor(OwnedDescriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}
  OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept;
  OwnedDescriptor(const OwnedDescriptor&) = delete;
  OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;

  int fd_ = -1;
  std::string path_;
};

// One open regular file. Reads and writes retry interrupted and short calls.
class File : public OwnedDescriptor {
 public:
  File() = default;
  explicit File(int fd, std::string path = {})
      : OwnedDescriptor(fd, std::move(path)) {}

  // Through OpenRegularFile: never a FIFO or device; a file it makes gets
  // its folder's shared mode bits.
  static Result<File> Open(const std::string& path, OpenFlags flags,
                           unsigned mode = 0666);

  bool IsOpen() const { return fd_ >= 0; }
  // One read(2) of at most count bytes; 0 at the end.
  Result<size_t> ReadSome(void* buffer, size_t count);
  // Reads until count bytes or the end, whichever comes first.
  Result<size_t> ReadUpTo(void* buffer, size_t count);
  // The same from offset, leaving the file position alone.
  Result<size_t> ReadAt(void* buffer, size_t count, uint64_t offset);
  Result<std::string> ReadAll();
  // Every byte or an error; written, when given, counts the bytes written
  // either way.
  Status Write(const void* data, size_t size, size_t* written = nullptr);
  Status Write(std::string_view bytes) {
    return Write(bytes.data(), bytes.size());
  }
  Status SeekToEnd();
  Status Truncate(uint64_t size);
  Status Sync();
  // Tells the system the file is read from start to end.
  void ReadSequentially();
  // An exclusive flock(2), without waiting; held until the file is closed.
  Status TryLock();
  Result<FileFacts> Facts() const;
  // A path naming this open file whatever is renamed meanwhile.
  std::string ProcPath() const;
  Status Close();

 private:
  FileError Error(const char* operation) const;
};

// One open directory; names inside it are reached through it, whatever is
// renamed above it meanwhile.
class Directory : public OwnedDescriptor {
 public:
  // Without followLink a symbolic link in place of it fails (ELOOP or
  // ENOTDIR).
  static Result<Directory> Open(const std::string& path,
                                bool followLink = true);
  // Facts about a name in it, a link described itself.
  Result<FileFacts> Facts(const std::string& name) const;
  // Makes a new file (never through a link) for writing.
  Result<File> Create(const std::string& name, unsigned mode) const;
  Status Remove(const std::string& name) const;
};

// File::Facts for platform code that holds a descriptor.
Result<FileFacts> DescriptorFacts(int fd, const std::string& path);
// Directory::Create for platform code that holds a directory descriptor.
Result<File> CreateInDirectory(int dirFd, const std::string& dirPath,
                               const std::string& name, unsigned mode);

Status RemoveFile(const std::string& path);  // unlink(2), nothing more
Status SetPermissions(const std::string& path, unsigned mode);
// Gives to the access and modification times of from.
Status CopyFileTimes(const std::string& from, const std::string& to);
// The working directory; empty when it cannot be told.
std::string CurrentDirectory();

// Copies what is left to read of from onto the end of to; the first
// error, of the read or the write.
Status CopyContent(File& from, File& to);

}  // namespace qm
