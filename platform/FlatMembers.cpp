#include "platform/FlatMembers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm {

std::string FlatMemberName(const std::string& stored) {
  std::string name = FileNamePart(stored);
  if (name == "." || name == "..") return "";
  return name;
}

bool MemberAtRoot(const std::string& stored) {
  size_t start = 0;
  while (stored.compare(start, 2, "./") == 0 ||
         stored.compare(start, 2, ".\\") == 0)
    start += 2;
  return stored.find_first_of("/\\", start) == std::string::npos;
}

bool FlatMemberChoice::Take(const std::string& name, bool atRoot,
                            std::string& displaced) {
  displaced.clear();
  auto [at, fresh] = taken_.try_emplace(UpperCase(name), Taken{name, atRoot});
  if (fresh) return true;
  if (at->second.atRoot || !atRoot) return false;
  if (at->second.name != name) displaced = at->second.name;
  at->second = Taken{name, true};
  return true;
}

bool WriteFlatMember(const Directory& dir, const std::string& name,
                     const std::string& data, time_t mtime,
                     std::string& reason) {
  const int dirFd = dir.fd();
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

}  // namespace qm
