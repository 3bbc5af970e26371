// Administration of a host home: creating it, its areas, volumes and
// records, and reading it without the utility login (the host program's
// own view, which works while a utility holds the host).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/WcApi.h"

namespace qm::host {
// Creates a host home: the database (with the configuration-utility password,
// sysop and BBS name) and its storage. serverProgram, when not empty, is copied
// into home as "wcserver" (the file the setup dialog looks for).
bool InitHost(const std::string& home, const std::string& password,
              const std::string& sysop, const std::string& bbs,
              const std::string& serverProgram, std::string& error);
bool AddArea(const std::string& home, int32_t number, const std::string& name,
             const std::string& path, std::string& error);
bool AddVolume(const std::string& home, const std::string& name,
               const std::string& path, bool offline, std::string& error);
// The directory an area's files are stored in (resolved as the configuration
// tool resolves area paths), or "" when unknown.
std::string AreaDirectory(const std::string& home, int32_t number);

struct AreaInfo {
  int32_t number = 0;
  std::string name;
  std::string path;       // as stored
  std::string directory;  // resolved; "" when unknown
};
struct VolumeInfo {
  std::string name;
  std::string path;
  bool offline = false;
};
bool ListAreas(const std::string& home, std::vector<AreaInfo>& areas,
               std::string& error);
bool ListVolumes(const std::string& home, std::vector<VolumeInfo>& volumes,
                 std::string& error);
// Every record of an area in key order.
bool ListFileRecords(const std::string& home, int32_t area,
                     std::vector<TFullFileRecord>& records, std::string& error);
// Adds a record as AddFileRec does (size and time from the stored file).
bool AddFileRecord(const std::string& home, const TFullFileRecord& record,
                   std::string& error);
// Copies a local file, with its modification time, into an area's storage
// as name (replacing it only when the copy is complete).
bool StoreFile(const std::string& home, int32_t area, const std::string& name,
               const std::string& localFile, std::string& error);
// Logs in to the host at home as the configuration utility with its own
// password (the host program's "hold"). Log out with LogoutUser and
// WildcatServerDeleteContext.
bool LoginAsUtility(const std::string& home, std::string& error);
}  // namespace qm::host
