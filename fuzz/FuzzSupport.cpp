#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/HostAdmin.h"
#include "server/WcApi.h"

namespace qmfuzz {

void Fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

const std::string& Workspace() {
  static qmtest::TempDir dir;
  return dir.path();
}

const std::string& FuzzHost(const std::vector<qmtest::AreaSpec>& areas) {
  static const std::string home = Workspace() + "/host";
  static bool made = false;
  if (!made) {
    qmtest::MakeHost(home, areas);
    made = true;
  }
  return home;
}

HostSession::HostSession(const std::string& home) : login_(home) {
  Check(login_.ok, "login to the fuzz host");
}

std::string AreaDir(int32_t area) {
  std::string dir = qm::host::AreaDirectory(Workspace() + "/host", area);
  Check(!dir.empty(), "area directory of area " + std::to_string(area));
  if (dir.back() == '/') dir.pop_back();
  qmtest::MakeDirs(dir);
  return dir;
}

void ClearArea(int32_t area) {
  for (const TFullFileRecord& record : qmtest::AreaRecords(area))
    Check(DeleteFileRec(record.Info, 0) != 0, "delete a record");
}

std::vector<std::string> Tree(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string path = fs::relative(it->path(), root, ec).string();
    if (it->is_directory(ec) && !it->is_symlink(ec)) path += "/";
    paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace qmfuzz
