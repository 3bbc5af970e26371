// bench_floor: the least work the machine does for a run's host calls.
//
//   bench_floor login HOME
//       connect, log in, log out: the fixed cost of a session.
//   bench_floor add HOME AREA SOURCEDIR [--transfer] [--block BYTES]
//       the host calls of a scan-and-add, issued directly: the area check,
//       the walk over the existing names, then per new file (optionally the
//       transfer in blocks) AddFileRec, GetFileRecByAreaName, GetFullFileRec,
//       WcExistFile, WcCreateFile, WcGetFileTime, WcGetFileSize,
//       UpdateFullFileRec and WcCloseHandle.
//   bench_floor copy SOURCEDIR TARGETDIR [--block BYTES] [--fsync]
//       copies the plain files with read and write in blocks (and fsync
//       of each copy): the byte floor without the host.
//   bench_floor config OUT TSV
//       writes a configuration file; one entry per TSV line: AreaNum,
//       AreaName, FileAction, FileActionParam, FileActionSpec, DescAction,
//       DescActionSpec, Path.
//   bench_floor areas HOME FIRST COUNT PATH
//       adds areas FIRST .. FIRST+COUNT-1, all with storage PATH.
//   bench_floor count HOME AREA
//       prints the number of records of an area.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "config/ConfigFile.h"
#include "host/HostAdmin.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "server/WcApi.h"

namespace {

constexpr uint32_t kBlockSize = 4096;  // the transfer's block

int Fail(const std::string& message) {
  std::cerr << "bench_floor: " << message << " (host code 0x" << std::hex
            << WcGetLastError() << std::dec << ")\n";
  return 1;
}

bool Login(const std::string& home) {
  WcSetHostHome(home.c_str());
  return WildcatServerConnect(nullptr) && WildcatServerCreateContext() &&
         MwLogin("");
}

void Logout() {
  LogoutUser();
  WildcatServerDeleteContext();
}

std::string HostPath(int32_t area, const std::string& name) {
  return "wc:\\file\\area(" + std::to_string(area) + ")\\" + name;
}

int32_t Number(const std::string& text) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > INT32_MAX) {
    std::cerr << "bench_floor: not a number: " << text << "\n";
    std::exit(2);
  }
  return static_cast<int32_t>(value);
}

// Plain, visible files of a directory, in name order (as the scan takes
// them).
std::vector<std::string> PlainFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* entry = readdir(d)) {
    if (entry->d_name[0] == '.') continue;
    bool plain = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      plain = lstat((dir + "/" + entry->d_name).c_str(), &st) == 0 &&
              S_ISREG(st.st_mode);
    }
    if (plain) names.emplace_back(entry->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool Transfer(const std::string& local, const std::string& target,
              uint32_t block) {
  int fd = open(local.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  WcHandle out =
      WcCreateFile(target.c_str(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
  bool ok = out > 0;
  std::vector<char> buffer(block);
  while (ok) {
    ssize_t got = read(fd, buffer.data(), block);
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    uint32_t done = 0;
    ok = WcWriteFile(out, buffer.data(), static_cast<uint32_t>(got), done) &&
         done == static_cast<uint32_t>(got);
  }
  close(fd);
  if (out > 0) ok = (ok ? WcCloseHandle(out) : WcAbandonFile(out)) && ok;
  return ok;
}

bool AddRecordAndFreshen(int32_t area, const std::string& name) {
  TFullFileRecord record{};
  record.Info.Area = area;
  std::strncpy(record.Info.Name, name.c_str(), kFileNameSize - 1);
  if (!AddFileRec(record)) return false;
  TFileRecord stored{};
  uint32_t position = 0;
  if (!GetFileRecByAreaName(area, record.Info.Name, stored, position) ||
      !GetFullFileRec(stored, record))
    return false;
  const std::string path = HostPath(area, name);
  if (!WcExistFile(path.c_str())) return false;
  WcHandle handle = WcCreateFile(path.c_str(), WC_GENERIC_READ,
                                 WC_FILE_SHARE_READ, WC_OPEN_EXISTING);
  if (handle <= 0) return false;
  uint64_t utc = 0, local = 0;
  bool ok =
      WcGetFileTime(handle, utc) && qm::FileTimeToLocalFileTime(utc, local);
  if (ok) {
    record.Info.FileTime = local;
    record.Info.Size = static_cast<int32_t>(WcGetFileSize(handle));
    ok = UpdateFullFileRec(record) != 0;
  }
  WcCloseHandle(handle);
  return ok;
}

int Add(const std::string& home, int32_t area, const std::string& sourceDir,
        bool transfer, uint32_t block) {
  if (!Login(home)) return Fail("login failed");
  TFileArea areaRecord{};
  if (!MwGetFileAreas(area, 1, &areaRecord)) {
    Logout();
    return Fail("no area " + std::to_string(area));
  }
  std::unordered_set<std::string> existing;
  TFileRecord record{};
  uint32_t position = 0;
  bool found = SearchFileRecByAreaName(area, "", record, position) != 0;
  while (found && record.Area == area) {
    existing.insert(qm::UpperCase(
        std::string(record.Name, strnlen(record.Name, kFileNameSize))));
    found = GetNextFileRec(1, record, position) != 0;
  }
  const std::string dir = qm::TrailingBackslash(sourceDir);
  int added = 0, failed = 0;
  for (const std::string& name : PlainFiles(sourceDir)) {
    if (!existing.insert(qm::UpperCase(name)).second) continue;
    bool ok = true;
    if (transfer) {
      TFileRecord clash{};
      uint32_t at = 0;
      ok = !GetFileRecByAreaName(area, name.c_str(), clash, at) &&
           Transfer(dir + name, HostPath(area, name), block);
    }
    ok = ok && AddRecordAndFreshen(area, name);
    ok ? ++added : ++failed;
  }
  Logout();
  std::cout << "added " << added << " failed " << failed << "\n";
  return failed == 0 ? 0 : 1;
}

// One file in blocks; false with errno set on failure.
bool CopyFile(const std::string& source, const std::string& target,
              std::vector<char>& buffer, bool sync) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out =
      open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = out >= 0;
  if (ok) posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  while (ok) {
    ssize_t got = read(in, buffer.data(), buffer.size());
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = write(out, buffer.data(), got) == got;
  }
  if (ok && sync) ok = fsync(out) == 0;
  close(in);
  if (out >= 0) ok = close(out) == 0 && ok;
  return ok;
}

int Copy(const std::string& sourceDir, const std::string& targetDir,
         uint32_t block, bool sync) {
  std::vector<char> buffer(block);
  for (const std::string& name : PlainFiles(sourceDir)) {
    if (!CopyFile(sourceDir + "/" + name, targetDir + "/" + name, buffer,
                  sync)) {
      std::cerr << "bench_floor: cannot copy " << name << ": "
                << std::strerror(errno) << "\n";
      return 1;
    }
  }
  return 0;
}

int WriteConfig(const std::string& out, const std::string& tsv) {
  std::ifstream in(tsv);
  if (!in) return Fail("cannot read " + tsv);
  std::vector<qm::AreaConfigEntry> entries;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() != 8 && f.size() != 9)
      return Fail("need 8 fields, or 9 with a List's days: " + line);
    qm::AreaConfigEntry e;
    e.AreaNum = Number(f[0]);
    e.AreaName = f[1];
    e.FileAction = f[2];
    e.FileActionParam = f[3];
    e.FileActionSpec = f[4];
    e.DescAction = f[5];
    e.DescActionSpec = f[6];
    e.Path = f[7];
    e.Volume = "NA";
    if (f.size() == 9) e.AddedWithinDays = Number(f[8]);
    entries.push_back(std::move(e));
  }
  std::string message;
  if (!qm::WriteConfigFile(out, entries, message)) return Fail(message);
  return 0;
}

int AddAreas(const std::string& home, int32_t first, int32_t count,
             const std::string& path) {
  std::string error;
  for (int32_t n = first; n < first + count; ++n) {
    if (!qm::host::AddArea(home, n, "Bench " + std::to_string(n), path, error))
      return Fail(error);
  }
  return 0;
}

int Count(const std::string& home, int32_t area) {
  std::vector<TFullFileRecord> records;
  std::string error;
  if (!qm::host::ListFileRecords(home, area, records, error))
    return Fail(error);
  std::cout << records.size() << "\n";
  return 0;
}

int Usage() {
  std::cerr << "usage: bench_floor login HOME\n"
               "       bench_floor add HOME AREA SOURCEDIR [--transfer] "
               "[--block BYTES]\n"
               "       bench_floor copy SOURCEDIR TARGETDIR [--block BYTES] "
               "[--fsync]\n"
               "       bench_floor config OUT TSV\n"
               "       bench_floor areas HOME FIRST COUNT PATH\n"
               "       bench_floor count HOME AREA\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 2 && a[0] == "login") {
    if (!Login(a[1])) return Fail("login failed");
    Logout();
    return 0;
  }
  if (a.size() >= 4 && a[0] == "add") {
    bool transfer = false;
    uint32_t block = kBlockSize;
    for (size_t i = 4; i < a.size(); ++i) {
      if (a[i] == "--transfer") {
        transfer = true;
      } else if (a[i] == "--block" && i + 1 < a.size()) {
        block = static_cast<uint32_t>(std::max(1, Number(a[++i])));
      } else {
        return Usage();
      }
    }
    return Add(a[1], Number(a[2]), a[3], transfer, block);
  }
  if (a.size() >= 3 && a[0] == "copy") {
    bool sync = false;
    uint32_t block = kBlockSize;
    for (size_t i = 3; i < a.size(); ++i) {
      if (a[i] == "--fsync") {
        sync = true;
      } else if (a[i] == "--block" && i + 1 < a.size()) {
        block = static_cast<uint32_t>(std::max(1, Number(a[++i])));
      } else {
        return Usage();
      }
    }
    return Copy(a[1], a[2], block, sync);
  }
  if (a.size() == 3 && a[0] == "config") return WriteConfig(a[1], a[2]);
  if (a.size() == 5 && a[0] == "areas")
    return AddAreas(a[1], Number(a[2]), Number(a[3]), a[4]);
  if (a.size() == 3 && a[0] == "count") return Count(a[1], Number(a[2]));
  return Usage();
}
