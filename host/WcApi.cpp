// The host contract over HostStore: one session per process, the utility
// lock, search positions and the stored-file handles.
#include "server/WcApi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host/HostAdmin.h"
#include "host/HostStore.h"
#include "platform/FaultInjection.h"
#include "platform/FieldText.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"

using qm::FieldText;
using qm::host::FoldName;
using qm::host::HostStore;
using qm::host::KeyMatch;
using qm::host::kOk;

namespace {

thread_local uint32_t lastError = 0;

// Search positions kept at once; the least recently used go first.
constexpr size_t kMaxCursors = 4096;
constexpr char kHostPathPrefix[] = "wc:\\file\\area(";

struct Cursor {
  int32_t area = 0;
  std::string fold;  // key of the last record returned
  uint64_t used = 0;
};

struct OpenFile {
  bool write = false;
  bool failed = false;
  std::string path;  // the stored file (read) or the target (write)
  int32_t area = 0;
  std::string name;
  int64_t addIntent = 0;  // the adds journal's note of this copy, if any
  qm::LocalReader reader;
  // A write never replaces a file someone put there since it began.
  qm::AtomicWriter writer{qm::host::kWriteMark, true, true};
};

struct Session {
  std::mutex mutex;
  std::string home;  // for the next connect
  std::string connectedHome;
  bool connected = false;
  bool context = false;
  bool loggedIn = false;
  qm::File lock;  // held while logged in
  HostStore store;
  std::unordered_map<uint32_t, Cursor> cursors;
  uint32_t nextCursor = 1;
  uint64_t clock = 0;
  std::map<WcHandle, std::unique_ptr<OpenFile>> files;
  WcHandle nextHandle = 1;
};

Session& S() {
  static Session session;
  return session;
}

WcBool Fail(uint32_t code) {
  lastError = code;
  return 0;
}

WcBool Result(uint32_t code) { return code == kOk ? 1 : Fail(code); }

void EndLogin(Session& s) {
  for (auto& [handle, file] : s.files)
    if (file->write) file->writer.Abandon();
  s.files.clear();
  s.cursors.clear();
  s.store.Close();
  (void)s.lock.Close();  // releases the lock
  s.loggedIn = false;
}

// Drops the less recently used half of the positions in one pass, so that
// a session opening many positions pays a constant share per position.
void ForgetOlderHalf(Session& s) {
  std::vector<uint64_t> used;
  used.reserve(s.cursors.size());
  for (const auto& c : s.cursors) used.push_back(c.second.used);
  auto middle = used.begin() + used.size() / 2;
  std::nth_element(used.begin(), middle, used.end());
  std::erase_if(s.cursors,
                [&](const auto& c) { return c.second.used < *middle; });
}

// Remembers where a walk stands; zero position asks for a new one.
void KeepPosition(Session& s, uint32_t& position, const TFileRecord& record) {
  auto it = s.cursors.find(position);
  if (position == 0 || it == s.cursors.end()) {
    if (s.cursors.size() >= kMaxCursors) ForgetOlderHalf(s);
    do {
      position = s.nextCursor++;
    } while (position == 0 || s.cursors.count(position));
    it = s.cursors.emplace(position, Cursor{}).first;
  }
  it->second.area = record.Area;
  it->second.fold = FoldName(FieldText(record.Name, kFileNameSize));
  it->second.used = ++s.clock;
}

std::string NameArgument(const char* name) {
  return name ? std::string(name, strnlen(name, kFileNameSize)) : std::string();
}

// Splits "wc:\file\area(N)\NAME" (prefix without regard to case).
uint32_t ParseHostPath(const char* path, int32_t& area, std::string& name) {
  if (!path) return WC_ITEM_NOT_FOUND;
  std::string text = path;
  size_t prefix = sizeof kHostPathPrefix - 1;
  if (text.size() <= prefix ||
      !qm::EqualsNoCase(text.substr(0, prefix), kHostPathPrefix))
    return WC_ITEM_NOT_FOUND;
  size_t close = text.find(")\\", prefix);
  if (close == std::string::npos || close == prefix || close - prefix > 10)
    return WC_INVALID_FILEAREA;
  int64_t number = 0;
  for (size_t i = prefix; i < close; ++i) {
    if (text[i] < '0' || text[i] > '9') return WC_INVALID_FILEAREA;
    number = number * 10 + (text[i] - '0');
  }
  if (number > INT32_MAX) return WC_INVALID_FILEAREA;
  area = static_cast<int32_t>(number);
  name = text.substr(close + 2);
  return qm::host::ValidFileName(name) ? kOk : WC_ITEM_REQUIRES_NAME;
}

// The area's storage directory for a host path.
uint32_t HostPathDirectory(Session& s, const char* path, std::string& dir,
                           std::string& name) {
  int32_t area = 0;
  if (uint32_t code = ParseHostPath(path, area, name)) return code;
  qm::host::AreaRow row;
  if (uint32_t code = s.store.FindArea(area, row)) return code;
  dir = s.store.AreaDirectory(row);
  return dir.empty() ? WC_INVALID_FILEAREA : kOk;
}

OpenFile* FindFile(Session& s, WcHandle handle) {
  auto it = s.files.find(handle);
  return it == s.files.end() ? nullptr : it->second.get();
}

}  // namespace

// Every operation after login holds the session for its whole run. A test
// may make one refuse the call before it does anything.
#define LOGGED_IN_SESSION                           \
  Session& s = S();                                 \
  std::lock_guard<std::mutex> guard(s.mutex);       \
  if (qm::fault::ShouldFail(qm::fault::Kind::Host)) \
    return Fail(WC_NO_ACTION_TAKEN);                \
  if (!s.loggedIn) return Fail(WC_USER_NOT_LOGGED_IN)

uint32_t WcGetLastError() { return lastError; }
void WcSetLastError(uint32_t code) { lastError = code; }

void WcSetHostHome(const char* home) {
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.home = home ? home : "";
}

WcBool WildcatServerConnect(void*) {
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (s.loggedIn) return Fail(WC_ALREADY_LOGGED_IN);
  HostStore probe;
  if (uint32_t code = probe.Open(s.home, true)) {
    s.connected = false;
    return Fail(code);
  }
  s.connected = true;
  s.connectedHome = s.home;
  return 1;
}

WcBool WildcatServerCreateContext() {
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (!s.connected) return Fail(WC_INVALID_CONNECTION_ID);
  if (s.context) return Fail(WC_CONTEXT_ALREADY_INITIALIZED);
  s.context = true;
  return 1;
}

WcBool MwLogin(const char* password) {
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (!s.context) return Fail(WC_CONTEXT_NOT_INITIALIZED);
  if (s.loggedIn) return Fail(WC_ALREADY_LOGGED_IN);
  if (uint32_t code = s.store.Open(s.connectedHome, false)) return Fail(code);
  std::string stored;
  if (uint32_t code = s.store.Setting("password", stored)) {
    s.store.Close();
    return Fail(code);
  }
  if (stored != (password ? password : "")) {
    s.store.Close();
    return Fail(WC_INCORRECT_PASSWORD);
  }
  std::string lockPath =
      qm::TrailingBackslash(s.connectedHome) + qm::host::kLockName;
  // Read access is all a lock needs: a lock file another user made with
  // narrower modes still lets this one in.
  qm::Result<qm::File> lock =
      qm::File::Open(lockPath, qm::OpenFlags::Read | qm::OpenFlags::Create);
  if (!lock) {
    s.store.Close();
    return Fail(WC_ACCESS_DENIED);
  }
  if (!lock->TryLock()) {
    (void)lock->Close();
    s.store.Close();
    return Fail(WC_ALREADY_LOGGED_IN);
  }
  // A host that cannot take a record is refused now rather than found out
  // file by file, with the files already copied.
  if (uint32_t code = s.store.CheckWritable()) {
    (void)lock->Close();
    s.store.Close();
    return Fail(code);
  }
  s.lock = std::move(*lock);
  s.loggedIn = true;
  s.store.EnsureJournal();
  s.store.RepairMoves();
  return 1;
}

WcBool LogoutUser() {
  LOGGED_IN_SESSION;
  EndLogin(s);
  return 1;
}

WcBool WildcatServerDeleteContext() {
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (s.loggedIn) EndLogin(s);
  if (!s.context && !s.connected) return Fail(WC_CONTEXT_NOT_INITIALIZED);
  s.context = false;
  s.connected = false;
  return 1;
}

WcBool GetMakewild(TMakewild& makewild) {
  LOGGED_IN_SESSION;
  std::string bbs, sysop;
  if (uint32_t code = s.store.Setting("bbs", bbs)) return Fail(code);
  if (uint32_t code = s.store.Setting("sysop", sysop)) return Fail(code);
  makewild = TMakewild{};
  qm::SetFieldText(makewild.SystemName, sizeof makewild.SystemName, bbs);
  qm::SetFieldText(makewild.SysopName, sizeof makewild.SysopName, sysop);
  return 1;
}

int32_t GetFileAreaCount() {
  LOGGED_IN_SESSION;
  int32_t count = s.store.AreaCount();
  if (count < 0) return Fail(WC_NO_ACTION_TAKEN);
  return count;
}

WcBool MwGetFileAreas(int32_t area, int32_t count, TFileArea* records) {
  LOGGED_IN_SESSION;
  if (count < 1 || !records || area < 0) return Fail(WC_INVALID_FILEAREA);
  for (int32_t i = 0; i < count; ++i) {
    qm::host::AreaRow row;
    if (uint32_t code = s.store.FindArea(area + i, row)) return Fail(code);
    TFileArea& out = records[i];
    out = TFileArea{};
    qm::SetFieldText(out.Name, sizeof out.Name, row.name);
    qm::SetFieldText(out.Path, sizeof out.Path, row.path);
    out.Number = row.number;
  }
  return 1;
}

WcBool MwUpdateFileArea(int32_t area, const TFileArea& record) {
  LOGGED_IN_SESSION;
  return Result(s.store.UpdateArea(area, FieldText(record.Name, kAreaNameSize),
                                   FieldText(record.Path, kPathSize)));
}

int32_t MwGetFileVolumeCount() {
  LOGGED_IN_SESSION;
  std::vector<qm::host::VolumeRow> rows;
  if (uint32_t code = s.store.ListVolumes(rows)) return Fail(code);
  return static_cast<int32_t>(rows.size());
}

WcBool MwGetFileVolumes(int32_t index, int32_t count, TFileVolume* records) {
  LOGGED_IN_SESSION;
  std::vector<qm::host::VolumeRow> rows;
  if (uint32_t code = s.store.ListVolumes(rows)) return Fail(code);
  if (index < 0 || count < 1 || !records ||
      static_cast<size_t>(index) + count > rows.size())
    return Fail(WC_INVALID_INDEX);
  for (int32_t i = 0; i < count; ++i) {
    const auto& row = rows[index + i];
    TFileVolume& out = records[i];
    out = TFileVolume{};
    qm::SetFieldText(out.Name, sizeof out.Name, row.name);
    qm::SetFieldText(out.Description, sizeof out.Description, row.description);
    qm::SetFieldText(out.Path, sizeof out.Path, row.path);
    out.Offline = row.offline ? 1 : 0;
  }
  return 1;
}

WcBool SearchFileRecByAreaName(int32_t area, const char* name,
                               TFileRecord& record, uint32_t& position) {
  LOGGED_IN_SESSION;
  TFullFileRecord found;
  uint32_t code =
      s.store.FindRecord(area, NameArgument(name), KeyMatch::AtOrAfter, found);
  if (code == kOk && found.Info.Area != area) code = WC_RECORD_NOT_FOUND;
  if (code) return Fail(code);
  record = found.Info;
  KeepPosition(s, position, record);
  return 1;
}

WcBool GetNextFileRec(int32_t keyNumber, TFileRecord& record,
                      uint32_t& position) {
  LOGGED_IN_SESSION;
  if (keyNumber != 1) return Fail(WC_INVALID_INDEX);
  // The walk goes on after the last key it returned, whatever has become of
  // that record since; without a known position, after the caller's record.
  int32_t area = record.Area;
  std::string name = FieldText(record.Name, kFileNameSize);
  auto it = s.cursors.find(position);
  if (position != 0 && it != s.cursors.end()) {
    area = it->second.area;
    name = it->second.fold;
  }
  TFullFileRecord found;
  if (uint32_t code = s.store.FindRecord(area, name, KeyMatch::After, found))
    return Fail(code);
  record = found.Info;
  KeepPosition(s, position, record);
  return 1;
}

WcBool GetFileRecByAreaName(int32_t area, const char* name, TFileRecord& record,
                            uint32_t& position) {
  LOGGED_IN_SESSION;
  TFullFileRecord found;
  if (uint32_t code =
          s.store.FindRecord(area, NameArgument(name), KeyMatch::Equal, found))
    return Fail(code);
  record = found.Info;
  KeepPosition(s, position, record);
  return 1;
}

WcBool GetFullFileRec(const TFileRecord& record, TFullFileRecord& full) {
  LOGGED_IN_SESSION;
  TFullFileRecord found;
  if (uint32_t code = s.store.Locate(record, found)) return Fail(code);
  full = found;
  return 1;
}

WcBool AddFileRec(const TFullFileRecord& record) {
  LOGGED_IN_SESSION;
  return Result(s.store.AddRecord(record));
}

WcBool UpdateFullFileRec(const TFullFileRecord& record) {
  LOGGED_IN_SESSION;
  return Result(s.store.UpdateRecord(record.Info, &record));
}

WcBool UpdateFileRec(const TFileRecord& record) {
  LOGGED_IN_SESSION;
  return Result(s.store.UpdateRecord(record, nullptr));
}

WcBool DeleteFileRec(const TFileRecord& record, WcBool deleteFile) {
  LOGGED_IN_SESSION;
  return Result(s.store.DeleteRecord(record, deleteFile != 0));
}

WcBool WcExistFile(const char* path) {
  LOGGED_IN_SESSION;
  std::string dir, name;
  if (uint32_t code = HostPathDirectory(s, path, dir, name)) return Fail(code);
  // Storage that is not there (an unmounted share) says nothing of its
  // files, and writing there would be refused.
  if (!qm::DirectoryExists(dir)) return Fail(WC_ACCESS_DENIED);
  std::string found = qm::ResolveExisting(qm::TrailingBackslash(dir) + name);
  if (!found.empty() && qm::FileExists(found)) return 1;
  // A directory in the name's place: writing it would be refused too.
  if (qm::DirectoryExists(found)) return Fail(WC_ACCESS_DENIED);
  return Fail(WC_ITEM_NOT_FOUND);
}

WcHandle WcCreateFile(const char* path, uint32_t access, uint32_t,
                      uint32_t disposition) {
  LOGGED_IN_SESSION;
  bool read = access == WC_GENERIC_READ && disposition == WC_OPEN_EXISTING;
  bool write = access == WC_GENERIC_WRITE && disposition == WC_CREATE_ALWAYS;
  if (!read && !write) return Fail(WC_ACCESS_DENIED);
  std::string dir, name;
  if (uint32_t code = HostPathDirectory(s, path, dir, name)) return Fail(code);
  std::string wanted = qm::TrailingBackslash(dir) + name;
  auto file = std::make_unique<OpenFile>();
  file->write = write;
  file->name = name;
  ParseHostPath(path, file->area, name);
  if (read) {
    file->path = qm::ResolveExisting(wanted);
    if (file->path.empty() || !qm::FileExists(file->path))
      return Fail(WC_ITEM_NOT_FOUND);
    if (!file->reader.Open(file->path)) return Fail(WC_ACCESS_DENIED);
  } else {
    // A missing directory may be a share that is not mounted: nothing is
    // made in its place.
    if (!qm::DirectoryExists(dir)) return Fail(WC_ACCESS_DENIED);
    // An existing stored file keeps the case of its name.
    file->path = qm::ResolveExisting(wanted);
    if (file->path.empty()) file->path = wanted;
    if (qm::DirectoryExists(file->path)) return Fail(WC_ACCESS_DENIED);
    if (!file->writer.Open(file->path)) return Fail(WC_ACCESS_DENIED);
  }
  WcHandle handle = s.nextHandle++;
  s.files.emplace(handle, std::move(file));
  return handle;
}

uint32_t WcGetFileSize(WcHandle handle) {
  constexpr uint32_t kInvalidSize = 0xFFFFFFFFu;
  Session& s = S();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (qm::fault::ShouldFail(qm::fault::Kind::Host)) {
    lastError = WC_NO_ACTION_TAKEN;
    return kInvalidSize;
  }
  if (!s.loggedIn) {
    lastError = WC_USER_NOT_LOGGED_IN;
    return kInvalidSize;
  }
  OpenFile* file = FindFile(s, handle);
  if (!file || file->write) {
    lastError = WC_INVALID_OBJECT_ID;
    return kInvalidSize;
  }
  uint64_t size = file->reader.Size();
  return size >= kInvalidSize ? kInvalidSize - 1 : static_cast<uint32_t>(size);
}

WcBool WcGetFileTime(WcHandle handle, uint64_t& fileTime) {
  LOGGED_IN_SESSION;
  OpenFile* file = FindFile(s, handle);
  if (!file) return Fail(WC_INVALID_OBJECT_ID);
  const std::string& path = file->write ? file->writer.TempPath() : file->path;
  const qm::Result<qm::FileFacts> facts = qm::PathFacts(path);
  if (!facts) return Fail(WC_ACCESS_DENIED);
  fileTime =
      qm::UnixToFileTime(facts->modified.tv_sec, facts->modified.tv_nsec);
  return 1;
}

WcBool WcReadFile(WcHandle handle, void* buffer, uint32_t count,
                  uint32_t& done) {
  done = 0;
  LOGGED_IN_SESSION;
  OpenFile* file = FindFile(s, handle);
  if (!file || file->write) return Fail(WC_INVALID_OBJECT_ID);
  return file->reader.Read(buffer, count, done) ? 1 : Fail(WC_ACCESS_DENIED);
}

WcBool WcWriteFile(WcHandle handle, const void* buffer, uint32_t count,
                   uint32_t& done) {
  done = 0;
  LOGGED_IN_SESSION;
  OpenFile* file = FindFile(s, handle);
  if (!file || !file->write) return Fail(WC_INVALID_OBJECT_ID);
  if (file->failed) return Fail(WC_ACCESS_DENIED);
  if (!file->writer.Write(buffer, count, done) || done != count) {
    file->failed = true;  // the target is then never replaced
    return Fail(WC_ACCESS_DENIED);
  }
  return 1;
}

namespace {

// A write that is not committed, and the end of its add's note.
WcBool Discard(Session& s, OpenFile& file, uint32_t code) {
  file.writer.Abandon();
  if (file.addIntent != 0) s.store.DropAdd(file.addIntent);
  return code == kOk ? 1 : Fail(code);
}

}  // namespace

WcBool WcCloseHandle(WcHandle handle) {
  LOGGED_IN_SESSION;
  auto it = s.files.find(handle);
  if (it == s.files.end()) return Fail(WC_INVALID_OBJECT_ID);
  std::unique_ptr<OpenFile> file = std::move(it->second);
  s.files.erase(it);
  if (!file->write) return 1;
  if (file->failed) return Discard(s, *file, WC_ACCESS_DENIED);
  // A record that came meanwhile owns whatever file has its name.
  TFullFileRecord recorded;
  const uint32_t lookup =
      s.store.FindRecord(file->area, file->name, KeyMatch::Equal, recorded);
  if (lookup == kOk) return Discard(s, *file, WC_DUPLICATE_RECORD);
  if (lookup != WC_RECORD_NOT_FOUND) return Discard(s, *file, lookup);
  if (file->writer.Commit()) return 1;
  return Discard(s, *file,
                 errno == EEXIST ? WC_ITEM_ALREADY_EXISTS : WC_ACCESS_DENIED);
}

WcBool WcAbandonFile(WcHandle handle) {
  LOGGED_IN_SESSION;
  auto it = s.files.find(handle);
  if (it == s.files.end()) return Fail(WC_INVALID_OBJECT_ID);
  if (it->second->write) Discard(s, *it->second, kOk);
  s.files.erase(it);
  return 1;
}

WcBool WcJournalAdd(WcHandle handle, const char* localPath) {
  LOGGED_IN_SESSION;
  OpenFile* file = FindFile(s, handle);
  if (!file || !file->write || file->addIntent != 0 || !localPath)
    return Fail(WC_INVALID_OBJECT_ID);
  // An add never replaces a stored file, recorded or not: it is someone
  // else's (a run's own copy left by a kill is repaired at login).
  if (file->writer.FoundTarget()) return Fail(WC_ITEM_ALREADY_EXISTS);
  return Result(s.store.NoteAdd(file->area, file->name,
                                file->writer.TargetPath(), file->writer.Facts(),
                                localPath, file->addIntent));
}

WcBool WcGetRepairNote(TRepairNote& note) {
  LOGGED_IN_SESSION;
  qm::host::RepairNote taken;
  if (uint32_t code = s.store.OldestRepairNote(taken)) return Fail(code);
  note = TRepairNote{};
  note.Id = static_cast<uint32_t>(taken.id);
  note.Area = taken.area;
  qm::SetFieldText(note.Name, sizeof note.Name, taken.name);
  note.Recorded = taken.recorded ? 1 : 0;
  qm::SetFieldText(note.Source, sizeof note.Source, taken.source);
  return 1;
}

WcBool WcRepairNoteDone(uint32_t id) {
  LOGGED_IN_SESSION;
  return Result(s.store.RemoveRepairNote(id));
}

WcBool WcDeleteFile(const char* path) {
  LOGGED_IN_SESSION;
  int32_t area = 0;
  std::string name;
  if (uint32_t code = ParseHostPath(path, area, name)) return Fail(code);
  return Result(s.store.RemoveUnrecordedFile(area, name));
}
