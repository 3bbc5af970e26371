#include "host/HostAdmin.h"

#include <vector>

#include "host/HostStore.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm::host {

namespace {

bool OpenStore(HostStore& store, const std::string& home, bool readOnly,
               std::string& error) {
  if (store.Open(home, readOnly) == kOk) return true;
  error = "no readable host database in " + home +
          (store.Message().empty() ? "" : ": " + store.Message());
  return false;
}

bool Report(HostStore& store, uint32_t code, std::string& error) {
  if (code == kOk) return true;
  error = CodeText(code);
  if (code == WC_NO_ACTION_TAKEN && !store.Message().empty())
    error += ": " + store.Message();
  return false;
}

}  // namespace

bool InitHost(const std::string& home, const std::string& password,
              const std::string& sysop, const std::string& bbs,
              const std::string& serverProgram, std::string& error) {
  if (!HostStore::Create(home, password, sysop, bbs, error)) return false;
  if (serverProgram.empty()) return true;
  std::string target = TrailingBackslash(home) + "wcserver";
  if (!CopyReplacing(serverProgram, target) || !SetPermissions(target, 0755)) {
    error = "cannot copy " + serverProgram + " to " + target;
    return false;
  }
  return true;
}

bool AddArea(const std::string& home, int32_t number, const std::string& name,
             const std::string& path, std::string& error) {
  if (number < 0) {
    error = "an area number is 0 or more";
    return false;
  }
  if (name.empty() || name.size() >= kAreaNameSize) {
    error = "an area name is 1 to " + std::to_string(kAreaNameSize - 1) +
            " characters";
    return false;
  }
  if (path.size() >= kPathSize) {
    error = "an area path is at most " + std::to_string(kPathSize - 1) +
            " characters";
    return false;
  }
  HostStore store;
  if (!OpenStore(store, home, false, error)) return false;
  uint32_t code = store.AddArea({number, name, path});
  if (code == WC_ITEM_ALREADY_EXISTS) {
    error = "file area " + std::to_string(number) + " already exists";
    return false;
  }
  if (!Report(store, code, error)) return false;
  // A path the host cannot resolve here names no directory to make.
  std::string dir = store.AreaDirectory(number);
  if (!dir.empty()) ForceDirectories(dir);
  return true;
}

bool AddVolume(const std::string& home, const std::string& name,
               const std::string& path, bool offline, std::string& error) {
  if (name.empty() || name.size() > 15) {
    error = "a volume name is 1 to 15 characters";
    return false;
  }
  if (path.size() >= kPathSize) {
    error = "a volume path is at most " + std::to_string(kPathSize - 1) +
            " characters";
    return false;
  }
  HostStore store;
  if (!OpenStore(store, home, false, error)) return false;
  uint32_t code = store.AddVolume({name, "", path, offline});
  if (code == WC_ITEM_ALREADY_EXISTS) {
    error = "volume " + name + " already exists";
    return false;
  }
  return Report(store, code, error);
}

std::string AreaDirectory(const std::string& home, int32_t number) {
  HostStore store;
  std::string error;
  return OpenStore(store, home, true, error) ? store.AreaDirectory(number)
                                             : std::string();
}

bool ListAreas(const std::string& home, std::vector<AreaInfo>& areas,
               std::string& error) {
  areas.clear();
  HostStore store;
  if (!OpenStore(store, home, true, error)) return false;
  std::vector<AreaRow> rows;
  if (!Report(store, store.ListAreas(rows), error)) return false;
  for (const auto& row : rows)
    areas.push_back({row.number, row.name, row.path, store.AreaDirectory(row)});
  return true;
}

bool ListVolumes(const std::string& home, std::vector<VolumeInfo>& volumes,
                 std::string& error) {
  volumes.clear();
  HostStore store;
  if (!OpenStore(store, home, true, error)) return false;
  std::vector<VolumeRow> rows;
  if (!Report(store, store.ListVolumes(rows), error)) return false;
  for (const auto& row : rows)
    volumes.push_back({row.name, row.path, row.offline});
  return true;
}

bool ListFileRecords(const std::string& home, int32_t area,
                     std::vector<TFullFileRecord>& records,
                     std::string& error) {
  HostStore store;
  if (!OpenStore(store, home, true, error)) return false;
  AreaRow row;
  if (!Report(store, store.FindArea(area, row), error)) return false;
  return Report(store, store.ListRecords(area, records), error);
}

bool AddFileRecord(const std::string& home, const TFullFileRecord& record,
                   std::string& error) {
  HostStore store;
  if (!OpenStore(store, home, false, error)) return false;
  return Report(store, store.AddRecord(record), error);
}

bool StoreFile(const std::string& home, int32_t area, const std::string& name,
               const std::string& localFile, std::string& error) {
  if (!ValidFileName(name)) {
    error = "invalid file name: " + name;
    return false;
  }
  HostStore store;
  if (!OpenStore(store, home, false, error)) return false;
  AreaRow row;
  if (!Report(store, store.FindArea(area, row), error)) return false;
  std::string dir = store.AreaDirectory(row);
  if (dir.empty() || !ForceDirectories(dir)) {
    error = "no storage directory for file area " + std::to_string(area);
    return false;
  }
  std::string target = ResolveExisting(TrailingBackslash(dir) + name);
  if (target.empty()) target = TrailingBackslash(dir) + name;
  if (!CopyReplacing(localFile, target)) {
    error = "cannot copy " + localFile + " to " + target;
    return false;
  }
  // The stored copy keeps the file's time, as a record made from it should.
  (void)CopyFileTimes(localFile, target);
  return true;
}

bool LoginAsUtility(const std::string& home, std::string& error) {
  std::string password;
  {
    HostStore store;
    if (!OpenStore(store, home, true, error)) return false;
    if (!Report(store, store.Setting("password", password), error))
      return false;
  }
  WcSetHostHome(home.c_str());
  if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext()) {
    error = "cannot connect to the host in " + home;
    return false;
  }
  if (!MwLogin(password.c_str())) {
    uint32_t code = WcGetLastError();
    error = code == WC_ALREADY_LOGGED_IN
                ? "a configuration utility already holds the host"
                : "cannot log in to the host";
    WildcatServerDeleteContext();
    return false;
  }
  return true;
}

}  // namespace qm::host
