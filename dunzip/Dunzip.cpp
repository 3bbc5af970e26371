// The ZIP library behind the unzip component: counts and extracts the
// members of an archive that match a wildcard spec. Archives come from
// anywhere, so extraction trusts nothing in them: members land flat in the
// destination under their last name component, only as regular files of at
// most 64 KiB whose CRC checks out, and each through a temporary file so a
// failed member leaves nothing behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dunzip/DunzipBlock.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace {

constexpr zip_uint64_t kMaxMemberSize = 64 * 1024;

void SetInfo(DunzipBlock& block, const std::string& text) {
  char* info = block.infoBuffer;
  if (info == nullptr) return;
  size_t n = std::min(text.size(), kDunzipInfoSize - 1);
  std::memcpy(info, text.data(), n);
  info[n] = '\0';
}

// Forwards progress to the caller's status callbacks; either may ask to
// stop.
class Status {
 public:
  explicit Status(const DunzipBlock& block)
      : major_(block.majorCallback),
        majorUser_(block.majorUser),
        minor_(block.minorCallback),
        minorUser_(block.minorUser) {}

  bool Major(const std::string& item, int32_t percent) {
    if (major_ != nullptr && major_(item.c_str(), percent, majorUser_) != 0)
      cancelled_ = true;
    return !cancelled_;
  }
  bool Minor(const std::string& item, int32_t percent) {
    if (minor_ != nullptr && minor_(item.c_str(), percent, minorUser_) != 0)
      cancelled_ = true;
    return !cancelled_;
  }
  bool Cancelled() const { return cancelled_; }

 private:
  DzStatusCallback major_;
  void* majorUser_;
  DzStatusCallback minor_;
  void* minorUser_;
  bool cancelled_ = false;
};

struct Member {
  zip_uint64_t index;
  std::string name;  // last component of the stored name
};

class Archive {
 public:
  ~Archive() {
    if (zip_ != nullptr) zip_discard(zip_);
  }
  bool Open(const char* path) {
    int error = 0;
    zip_ = zip_open(path, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (zip_ == nullptr) {
      zip_error_t ze;
      zip_error_init_with_code(&ze, error);
      error_ = zip_error_strerror(&ze);
      zip_error_fini(&ze);
    }
    return zip_ != nullptr;
  }
  zip_t* get() const { return zip_; }
  const std::string& error() const { return error_; }

 private:
  zip_t* zip_ = nullptr;
  std::string error_;
};

// A member's name without any directory part; names that leave nothing
// usable ("", ".", "..") give an empty text.
std::string SafeName(const char* stored) {
  std::string name = qm::FileNamePart(stored);
  if (name == "." || name == "..") return "";
  return name;
}

std::vector<Member> MatchingMembers(zip_t* zip, const std::string& spec) {
  std::vector<Member> members;
  zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* stored = zip_get_name(zip, i, 0);
    if (stored == nullptr) continue;
    std::string name = SafeName(stored);
    if (!name.empty() && qm::WildcardMatch(spec, name))
      members.push_back({static_cast<zip_uint64_t>(i), name});
  }
  return members;
}

// Why a member cannot be extracted, or empty when it may be.
std::string RefusalReason(zip_t* zip, zip_uint64_t index,
                          const zip_stat_t& st) {
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
      st.encryption_method != ZIP_EM_NONE)
    return "encrypted member";
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) ==
          0 &&
      system == ZIP_OPSYS_UNIX) {
    mode_t type = (attributes >> 16) & S_IFMT;
    if (type == S_IFLNK) return "symbolic link member";
    if (type != 0 && type != S_IFREG) return "not a regular file";
  }
  if ((st.valid & ZIP_STAT_SIZE) && st.size > kMaxMemberSize)
    return "member larger than 64 KiB";
  return "";
}

// Reads a whole member, which checks its CRC at the end.
bool ReadMember(zip_t* zip, const Member& member, zip_uint64_t declared,
                Status& status, std::string& data, std::string& reason) {
  zip_file_t* file = zip_fopen_index(zip, member.index, 0);
  if (file == nullptr) {
    reason = zip_strerror(zip);
    return false;
  }
  char buffer[8192];
  bool ok = true;
  while (true) {
    zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
    if (got < 0) {
      reason = zip_file_strerror(file);
      ok = false;
      break;
    }
    if (got == 0) break;
    data.append(buffer, static_cast<size_t>(got));
    if (data.size() > kMaxMemberSize) {
      reason = "member larger than 64 KiB";
      ok = false;
      break;
    }
    int32_t percent = declared == 0
                          ? 100
                          : static_cast<int32_t>(std::min<zip_uint64_t>(
                                100, data.size() * 100 / declared));
    if (!status.Minor(member.name, percent)) {
      reason = "cancelled";
      ok = false;
      break;
    }
  }
  if (zip_fclose(file) != 0 && ok) {
    reason = "member could not be read";
    ok = false;
  }
  return ok;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes data as name inside the directory: into a fresh hidden temporary
// file first (never through an existing link), then renamed over the name,
// which replaces a file or link there instead of writing through it.
bool WriteMember(int dirFd, const std::string& name, const std::string& data,
                 time_t mtime, std::string& reason) {
  static unsigned counter = 0;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = ".dunzip-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter) + ".tmp";
    fd = openat(dirFd, temp.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    reason = std::string("cannot create file: ") + std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd, data);
  if (ok && mtime > 0) {
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    futimens(fd, times);
  }
  if (close(fd) != 0) ok = false;
  if (ok && renameat(dirFd, temp.c_str(), dirFd, name.c_str()) != 0) ok = false;
  if (!ok) {
    reason = std::string("cannot write file: ") + std::strerror(errno);
    unlinkat(dirFd, temp.c_str(), 0);
  }
  return ok;
}

std::string Spec(const DunzipBlock& block) {
  if (block.fileSpec == nullptr || block.fileSpec[0] == '\0') return "*";
  return block.fileSpec;
}

int32_t Count(DunzipBlock& block) {
  if (block.zipFile == nullptr) return DZ_ERR_ARGUMENT;
  Archive archive;
  if (!archive.Open(block.zipFile)) {
    SetInfo(block, archive.error());
    return DZ_ERR_OPEN;
  }
  block.returnCount =
      static_cast<int32_t>(MatchingMembers(archive.get(), Spec(block)).size());
  return DZ_OK;
}

int32_t Extract(DunzipBlock& block) {
  if (block.zipFile == nullptr || block.destination == nullptr ||
      block.destination[0] == '\0')
    return DZ_ERR_ARGUMENT;
  Archive archive;
  if (!archive.Open(block.zipFile)) {
    SetInfo(block, archive.error());
    return DZ_ERR_OPEN;
  }
  int dirFd = open(block.destination, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    SetInfo(block, std::string("destination: ") + std::strerror(errno));
    return DZ_ERR_DESTINATION;
  }
  zip_t* zip = archive.get();
  std::vector<Member> members = MatchingMembers(zip, Spec(block));
  Status status(block);
  int32_t written = 0;
  bool failed = false;
  for (size_t i = 0; i < members.size() && !status.Cancelled(); ++i) {
    const Member& member = members[i];
    if (!status.Major(member.name,
                      static_cast<int32_t>(i * 100 / members.size())))
      break;
    std::string reason;
    zip_stat_t st;
    zip_stat_init(&st);
    std::string data;
    bool ok = zip_stat_index(zip, member.index, 0, &st) == 0;
    if (!ok) reason = zip_strerror(zip);
    if (ok) {
      reason = RefusalReason(zip, member.index, st);
      ok = reason.empty();
    }
    if (ok) {
      zip_uint64_t declared = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
      ok = ReadMember(zip, member, declared, status, data, reason);
    }
    if (ok && !block.testFlag) {
      struct stat existing;
      bool present = fstatat(dirFd, member.name.c_str(), &existing,
                             AT_SYMLINK_NOFOLLOW) == 0;
      if (present && !block.overWriteFlag) continue;
      time_t mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
      ok = WriteMember(dirFd, member.name, data, mtime, reason);
    }
    if (ok) {
      ++written;
    } else {
      failed = true;
      SetInfo(block, member.name + ": " + reason);
    }
  }
  close(dirFd);
  if (status.Cancelled()) return DZ_ERR_CANCELLED;
  status.Major("", 100);
  block.returnCount = written;
  return failed ? DZ_ERR_EXTRACT : DZ_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t dunzip(
    void* commandBlock) {
  if (commandBlock == nullptr) return DZ_ERR_BLOCK;
  auto& block = *static_cast<DunzipBlock*>(commandBlock);
  if (block.blockSize != sizeof(DunzipBlock)) return DZ_ERR_BLOCK;
  try {
    switch (block.function) {
      case DZ_FUNC_COUNT:
        return Count(block);
      case DZ_FUNC_EXTRACT:
        return Extract(block);
      default:
        return DZ_ERR_FUNCTION;
    }
  } catch (...) {
    // Nothing may unwind into the caller through the C entry point.
    return DZ_ERR_EXTRACT;
  }
}
