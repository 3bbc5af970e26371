#include "host/HostStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm::host {

namespace {

constexpr const char* kFormat = "1";
constexpr int kBusyMilliseconds = 5000;

const char* const kSchema = R"sql(
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE areas(number INTEGER PRIMARY KEY, name TEXT NOT NULL,
                   path TEXT NOT NULL);
CREATE TABLE volumes(seq INTEGER PRIMARY KEY AUTOINCREMENT,
                     name TEXT NOT NULL UNIQUE COLLATE NOCASE,
                     description TEXT NOT NULL, path TEXT NOT NULL,
                     offline INTEGER NOT NULL);
CREATE TABLE files(id INTEGER PRIMARY KEY AUTOINCREMENT,
                   area INTEGER NOT NULL, name TEXT NOT NULL,
                   fold TEXT NOT NULL, description TEXT NOT NULL,
                   uploader TEXT NOT NULL, size INTEGER NOT NULL,
                   filetime INTEGER NOT NULL, lastaccessed INTEGER NOT NULL,
                   downloads INTEGER NOT NULL, haslong INTEGER NOT NULL,
                   longdesc BLOB NOT NULL);
CREATE UNIQUE INDEX files_key ON files(area, fold);
CREATE TABLE moves(id INTEGER PRIMARY KEY, source TEXT NOT NULL,
                   target TEXT NOT NULL);
)sql";

// The adds journal, made at login in a host older than it: a copy on its
// way into storage (its file's identity, and the upload's as it was read),
// and what a login repaired of such copies for the next run to report.
const char* const kJournal = R"sql(
CREATE TABLE IF NOT EXISTS adds(id INTEGER PRIMARY KEY,
                   area INTEGER NOT NULL, fold TEXT NOT NULL,
                   name TEXT NOT NULL, stored TEXT NOT NULL,
                   device INTEGER NOT NULL, inode INTEGER NOT NULL,
                   born INTEGER NOT NULL, source TEXT NOT NULL,
                   sourcedevice INTEGER NOT NULL, sourceinode INTEGER NOT NULL,
                   sourcesize INTEGER NOT NULL,
                   sourcetime INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS repairs(id INTEGER PRIMARY KEY,
                   area INTEGER NOT NULL, name TEXT NOT NULL,
                   recorded INTEGER NOT NULL, source TEXT NOT NULL);
)sql";

constexpr const char* kRecordColumns =
    "id, area, name, description, uploader, size, filetime, lastaccessed, "
    "downloads, haslong, longdesc";

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (db) sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    if (stmt_)
      sqlite3_bind_text(stmt_, index, text.data(),
                        static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const void* data, int size) {
    if (stmt_) sqlite3_bind_blob(stmt_, index, data, size, SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const auto* text = sqlite3_column_text(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), size)
                : std::string();
  }
  const void* Blob(int column, int& size) {
    const void* data = sqlite3_column_blob(stmt_, column);
    size = sqlite3_column_bytes(stmt_, column);
    return data;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    begun_ = Exec(db_, "BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (begun_ && !done_) Exec(db_, "ROLLBACK");
  }
  bool Begun() const { return begun_; }
  bool Commit() {
    done_ = Exec(db_, "COMMIT");
    return done_;
  }

 private:
  sqlite3* db_;
  bool begun_ = false;
  bool done_ = false;
};

bool IsConstraint(int rc) { return (rc & 0xff) == SQLITE_CONSTRAINT; }

// A database that is there but cannot be used, as opposed to one that is
// not a host's.
uint32_t OpenFailure(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return WC_DATABASE_LOCKED;
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return WC_ACCESS_DENIED;
    default:
      return WC_INVALID_CONNECTION_ID;
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  const Result<FileFacts> fa = PathFacts(a);
  if (!fa) return false;
  const Result<FileFacts> fb = PathFacts(b);
  return fb && fa->id == fb->id;
}

void CleanLongDescription(TFullFileRecord& record) {
  for (auto& line : record.LongDescription) {
    std::string text = FieldText(line, kLongDescLineSize);
    SetFieldText(line, kLongDescLineSize, text);
  }
}

// Normalises every text field to its width so what is stored reads back
// exactly.
TFullFileRecord CleanRecord(const TFullFileRecord& in) {
  TFullFileRecord out{};
  out.Info.Id = in.Info.Id;
  out.Info.Area = in.Info.Area;
  SetFieldText(out.Info.Name, kFileNameSize,
               FieldText(in.Info.Name, kFileNameSize));
  SetFieldText(out.Info.Description, kShortDescSize,
               FieldText(in.Info.Description, kShortDescSize));
  SetFieldText(out.Info.Uploader, sizeof out.Info.Uploader,
               FieldText(in.Info.Uploader, sizeof in.Info.Uploader));
  out.Info.Size = in.Info.Size;
  out.Info.FileTime = in.Info.FileTime;
  out.Info.LastAccessed = in.Info.LastAccessed;
  out.Info.Downloads = in.Info.Downloads;
  out.Info.HasLongDescription = in.Info.HasLongDescription;
  std::memcpy(out.LongDescription, in.LongDescription,
              sizeof out.LongDescription);
  CleanLongDescription(out);
  return out;
}

// Binds ?2 .. ?12 of an insert or update.
void BindRecord(Statement& st, const TFullFileRecord& r) {
  std::string name = FieldText(r.Info.Name, kFileNameSize);
  st.Bind(2, r.Info.Area)
      .Bind(3, name)
      .Bind(4, FoldName(name))
      .Bind(5, FieldText(r.Info.Description, kShortDescSize))
      .Bind(6, FieldText(r.Info.Uploader, sizeof r.Info.Uploader))
      .Bind(7, r.Info.Size)
      .Bind(8, static_cast<int64_t>(r.Info.FileTime))
      .Bind(9, static_cast<int64_t>(r.Info.LastAccessed))
      .Bind(10, r.Info.Downloads)
      .Bind(11, r.Info.HasLongDescription)
      .BindBlob(12, r.LongDescription, sizeof r.LongDescription);
}

void ReadRecord(Statement& st, TFullFileRecord& r) {
  r = TFullFileRecord{};
  r.Info.Id = static_cast<uint32_t>(st.Int(0));
  r.Info.Area = static_cast<int32_t>(st.Int(1));
  SetFieldText(r.Info.Name, kFileNameSize, st.Text(2));
  SetFieldText(r.Info.Description, kShortDescSize, st.Text(3));
  SetFieldText(r.Info.Uploader, sizeof r.Info.Uploader, st.Text(4));
  r.Info.Size = static_cast<int32_t>(st.Int(5));
  r.Info.FileTime = static_cast<uint64_t>(st.Int(6));
  r.Info.LastAccessed = static_cast<uint64_t>(st.Int(7));
  r.Info.Downloads = static_cast<int32_t>(st.Int(8));
  r.Info.HasLongDescription = static_cast<int32_t>(st.Int(9));
  int size = 0;
  const void* data = st.Blob(10, size);
  if (data)
    std::memcpy(r.LongDescription, data,
                std::min<size_t>(size, sizeof r.LongDescription));
  CleanLongDescription(r);
}

// Size (what fits the 32-bit field) and local modification time of a file.
bool StoredFileFacts(const std::string& path, int32_t& size,
                     uint64_t& localTime) {
  const Result<FileFacts> facts = PathFacts(path);
  if (!facts || !facts->Regular()) return false;
  uint64_t utc =
      UnixToFileTime(facts->modified.tv_sec, facts->modified.tv_nsec);
  if (!FileTimeToLocalFileTime(utc, localTime)) return false;
  size =
      facts->size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(facts->size);
  return true;
}

int64_t Nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Which file a regular file is, also after its inode number was freed and
// given to another file: its birth time tells them apart where the file
// system keeps one (born 0 where it does not).
struct FileIdentity {
  int64_t device = 0, inode = 0, born = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool Identify(const Result<FileFacts>& facts, FileIdentity& id) {
  if (!facts || !facts->Regular()) return false;
  id.device = static_cast<int64_t>(facts->id.device);
  id.inode = static_cast<int64_t>(facts->id.inode);
  id.born = facts->born;
  return true;
}

std::string JoinName(const std::string& dir, const std::string& name) {
  return TrailingBackslash(dir) + name;
}

}  // namespace

std::string DatabasePath(const std::string& home) {
  return JoinName(home, kDatabaseName);
}

std::string FoldName(const std::string& name) { return UpperCase(name); }

bool ValidFileName(const std::string& name) {
  if (name.empty() || name.size() > kFileNameSize - 1) return false;
  if (name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':')
      return false;
  }
  return true;
}

bool RecordName(const TFileRecord& record, std::string& name) {
  if (strnlen(record.Name, kFileNameSize) == kFileNameSize) return false;
  name = record.Name;
  return ValidFileName(name);
}

std::string CodeText(uint32_t code) {
  switch (code) {
    case kOk:
      return "no error";
    case WC_INVALID_CONNECTION_ID:
      return "no readable host database";
    case WC_INVALID_FILEAREA:
      return "no such file area";
    case WC_DUPLICATE_RECORD:
      return "a record of that name already exists in the area";
    case WC_RECORD_NOT_FOUND:
      return "no such file record";
    case WC_ITEM_REQUIRES_NAME:
      return "invalid name";
    case WC_ITEM_NAME_DIFFERENT:
      return "a record's name cannot be changed";
    case WC_ITEM_ALREADY_EXISTS:
      return "already exists";
    case WC_ITEM_NOT_FOUND:
      return "not found";
    case WC_ACCESS_DENIED:
      return "a stored file could not be written or removed";
    case WC_INVALID_INDEX:
      return "invalid number";
    default:
      return "the host database could not carry out the change";
  }
}

HostStore::~HostStore() { Close(); }

void HostStore::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

uint32_t HostStore::Fail(uint32_t code) {
  message_ = db_ ? sqlite3_errmsg(db_) : "";
  return code;
}

bool HostStore::Create(const std::string& home, const std::string& password,
                       const std::string& sysop, const std::string& bbs,
                       std::string& error) {
  std::string path = DatabasePath(home);
  if (FileExists(path)) {
    error = "a host already exists in " + home;
    return false;
  }
  if (!ForceDirectories(home)) {
    error = "cannot create the directory " + home;
    return false;
  }
  // Made here so that it follows the home's sharing; SQLite gives its
  // -wal and -shm files the database's modes.
  (void)File::Open(path,
                   OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  bool ok = rc == SQLITE_OK && Exec(db, "PRAGMA journal_mode=WAL");
  if (ok) {
    Transaction tx(db);
    ok = tx.Begun() && Exec(db, kSchema) && Exec(db, kJournal);
    const std::pair<const char*, std::string> settings[] = {
        {"format", kFormat},
        {"password", password},
        {"sysop", sysop},
        {"bbs", bbs}};
    for (const auto& [key, value] : settings) {
      if (!ok) break;
      Statement st(db, "INSERT INTO settings(key, value) VALUES(?1, ?2)");
      ok = st.Bind(1, std::string(key)).Bind(2, value).Step() == SQLITE_DONE;
    }
    ok = ok && tx.Commit();
  }
  if (!ok)
    error = std::string("cannot create the host database: ") +
            (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_close_v2(db);
  if (!ok) {
    DeleteLocalFile(path);
    DeleteLocalFile(path + "-wal");
    DeleteLocalFile(path + "-shm");
  }
  return ok;
}

uint32_t HostStore::Open(const std::string& home, bool readOnly) {
  Close();
  home_ = home;
  message_.clear();
  std::string path = DatabasePath(home);
  if (home.empty() || !FileExists(path)) {
    message_ = "no host database in " + home;
    return WC_INVALID_CONNECTION_ID;
  }
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    uint32_t code = Fail(OpenFailure(rc));
    Close();
    return code;
  }
  sqlite3_busy_timeout(db_, kBusyMilliseconds);
  if (!readOnly) Exec(db_, "PRAGMA synchronous=FULL");
  std::string format;
  uint32_t code = Setting("format", format);
  if (code != kOk || format != kFormat) {
    code = code == WC_NO_ACTION_TAKEN ? OpenFailure(sqlite3_errcode(db_))
                                      : WC_INVALID_CONNECTION_ID;
    if (message_.empty()) message_ = "not a host database";
    Close();
    return code;
  }
  return kOk;
}

uint32_t HostStore::CheckWritable() {
  if (!db_) return WC_INVALID_CONNECTION_ID;
  if (sqlite3_db_readonly(db_, "main") == 1) {
    message_ = "the host database is read-only";
    return WC_ACCESS_DENIED;
  }
  // Only a commit finds a full disk or a directory the journal cannot be
  // made in. This one writes a page (an unchanged row is not written) and
  // leaves the value as it was.
  Transaction tx(db_);
  if (tx.Begun() &&
      Exec(db_,
           "UPDATE settings SET value = value || '-' WHERE key = 'format'") &&
      Exec(db_,
           "UPDATE settings SET value = substr(value, 1, length(value) - 1) "
           "WHERE key = 'format'") &&
      tx.Commit())
    return kOk;
  // A writer that holds the database is no reason to think it unwritable.
  const uint32_t code = OpenFailure(sqlite3_errcode(db_));
  return Fail(code == WC_DATABASE_LOCKED ? code : WC_ACCESS_DENIED);
}

uint32_t HostStore::Setting(const std::string& key, std::string& value) {
  Statement st(db_, "SELECT value FROM settings WHERE key = ?1");
  int rc = st.Bind(1, key).Step();
  if (rc == SQLITE_ROW) {
    value = st.Text(0);
    return kOk;
  }
  return rc == SQLITE_DONE ? WC_ITEM_NOT_FOUND : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::FindArea(int32_t number, AreaRow& row) {
  Statement st(db_, "SELECT number, name, path FROM areas WHERE number = ?1");
  int rc = st.Bind(1, number).Step();
  if (rc == SQLITE_ROW) {
    row.number = static_cast<int32_t>(st.Int(0));
    row.name = st.Text(1);
    row.path = st.Text(2);
    return kOk;
  }
  return rc == SQLITE_DONE ? WC_INVALID_FILEAREA : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::ListAreas(std::vector<AreaRow>& rows) {
  rows.clear();
  Statement st(db_, "SELECT number, name, path FROM areas ORDER BY number");
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW)
    rows.push_back({static_cast<int32_t>(st.Int(0)), st.Text(1), st.Text(2)});
  return rc == SQLITE_DONE ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

int32_t HostStore::AreaCount() {
  Statement st(db_, "SELECT COALESCE(MAX(number) + 1, 0) FROM areas");
  if (st.Step() != SQLITE_ROW) {
    Fail(WC_NO_ACTION_TAKEN);
    return -1;
  }
  return static_cast<int32_t>(std::min<int64_t>(st.Int(0), INT32_MAX));
}

uint32_t HostStore::AddArea(const AreaRow& row) {
  Statement st(db_, "INSERT INTO areas(number, name, path) VALUES(?1, ?2, ?3)");
  int rc = st.Bind(1, row.number).Bind(2, row.name).Bind(3, row.path).Step();
  if (rc == SQLITE_DONE) return kOk;
  return IsConstraint(rc) ? WC_ITEM_ALREADY_EXISTS : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::UpdateArea(int32_t number, const std::string& name,
                               const std::string& path) {
  AreaRow row;
  if (uint32_t code = FindArea(number, row)) return code;
  Statement st(db_, "UPDATE areas SET name = ?2, path = ?3 WHERE number = ?1");
  return st.Bind(1, number).Bind(2, name).Bind(3, path).Step() == SQLITE_DONE
             ? kOk
             : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::ListVolumes(std::vector<VolumeRow>& rows) {
  rows.clear();
  Statement st(db_,
               "SELECT name, description, path, offline FROM volumes "
               "ORDER BY seq");
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW)
    rows.push_back({st.Text(0), st.Text(1), st.Text(2), st.Int(3) != 0});
  return rc == SQLITE_DONE ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::AddVolume(const VolumeRow& row) {
  Statement st(db_,
               "INSERT INTO volumes(name, description, path, offline) "
               "VALUES(?1, ?2, ?3, ?4)");
  int rc = st.Bind(1, row.name)
               .Bind(2, row.description)
               .Bind(3, row.path)
               .Bind(4, row.offline ? 1 : 0)
               .Step();
  if (rc == SQLITE_DONE) return kOk;
  return IsConstraint(rc) ? WC_ITEM_ALREADY_EXISTS : Fail(WC_NO_ACTION_TAKEN);
}

namespace {

// A drive letter or a "\\server" share names a place on another system:
// used here, it would land under whatever directory the program runs in.
bool ReachableHere(const std::string& path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 2 && path[1] == ':') return false;
  return path.size() < 2 || !separator(path[0]) || !separator(path[1]);
}

}  // namespace

uint32_t HostStore::FindAreaDirectory(const AreaRow& area, std::string& dir) {
  dir.clear();
  const std::string& p = area.path;
  if (p.empty()) return WC_INVALID_FILEAREA;
  if (IsDrivePath(p)) {
    dir = p;
  } else if (p[0] == '[') {
    size_t close = p.find(']');
    if (close == std::string::npos) return WC_INVALID_FILEAREA;
    std::string wanted = p.substr(1, close - 1);
    std::vector<VolumeRow> volumes;
    if (uint32_t code = ListVolumes(volumes)) return code;
    auto it = std::find_if(volumes.begin(), volumes.end(), [&](auto& v) {
      return EqualsNoCase(v.name.substr(0, 16), wanted);
    });
    if (it == volumes.end()) return WC_INVALID_FILEAREA;
    dir = it->path + (close + 2 <= p.size() ? p.substr(close + 2) : "");
  } else {
    dir = TrailingBackslash(home_) + p;
  }
  if (!ReachableHere(p) || !ReachableHere(dir)) {
    dir.clear();
    return WC_INVALID_FILEAREA;
  }
  std::replace(dir.begin(), dir.end(), '\\', '/');
  return kOk;
}

std::string HostStore::AreaDirectory(const AreaRow& area) {
  std::string dir;
  FindAreaDirectory(area, dir);
  return dir;
}

std::string HostStore::AreaDirectory(int32_t number) {
  AreaRow row;
  return FindArea(number, row) == kOk ? AreaDirectory(row) : std::string();
}

uint32_t HostStore::FindStoredFile(int32_t area, const std::string& name,
                                   std::string& path) {
  path.clear();
  AreaRow row;
  uint32_t code = FindArea(area, row);
  if (code == kOk) code = FindAreaDirectory(row, path);
  if (code == WC_NO_ACTION_TAKEN) return code;
  // An area or a directory that cannot be told has no stored files.
  if (code != kOk || !ValidFileName(name)) {
    path.clear();
    return kOk;
  }
  path = ResolveExisting(JoinName(path, name));
  if (!path.empty() && !FileExists(path)) path.clear();
  return kOk;
}

std::string HostStore::StoredFile(int32_t area, const std::string& name) {
  std::string path;
  FindStoredFile(area, name, path);
  return path;
}

uint32_t HostStore::RemoveUnrecordedFile(int32_t area,
                                         const std::string& name) {
  if (!ValidFileName(name)) return WC_ITEM_REQUIRES_NAME;
  TFullFileRecord record;
  uint32_t code = FindRecord(area, name, KeyMatch::Equal, record);
  if (code == kOk) return WC_DUPLICATE_RECORD;
  if (code != WC_RECORD_NOT_FOUND) return code;
  std::string path;
  if ((code = FindStoredFile(area, name, path))) return code;
  if (path.empty()) return WC_ITEM_NOT_FOUND;
  if (!DeleteLocalFile(path)) return WC_ACCESS_DENIED;
  // A crash before this leaves an intent whose copy is gone: nothing to do.
  if (!JournalAbsent()) EndAdds(area, name);
  return kOk;
}

uint32_t HostStore::FindRecord(int32_t area, const std::string& name,
                               KeyMatch match, TFullFileRecord& record) {
  const char* where = match == KeyMatch::Equal ? "area = ?1 AND fold = ?2"
                      : match == KeyMatch::AtOrAfter
                          ? "(area, fold) >= (?1, ?2)"
                          : "(area, fold) > (?1, ?2)";
  std::string sql = std::string("SELECT ") + kRecordColumns +
                    " FROM files WHERE " + where +
                    " ORDER BY area, fold LIMIT 1";
  Statement st(db_, sql.c_str());
  int rc = st.Bind(1, area).Bind(2, FoldName(name)).Step();
  if (rc == SQLITE_ROW) {
    ReadRecord(st, record);
    return kOk;
  }
  return rc == SQLITE_DONE ? WC_RECORD_NOT_FOUND : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::Locate(const TFileRecord& record, TFullFileRecord& stored) {
  if (record.Id == 0)
    return FindRecord(record.Area, FieldText(record.Name, kFileNameSize),
                      KeyMatch::Equal, stored);
  std::string sql =
      std::string("SELECT ") + kRecordColumns + " FROM files WHERE id = ?1";
  Statement st(db_, sql.c_str());
  int rc = st.Bind(1, record.Id).Step();
  if (rc == SQLITE_ROW) {
    ReadRecord(st, stored);
    return kOk;
  }
  return rc == SQLITE_DONE ? WC_RECORD_NOT_FOUND : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::ListRecords(int32_t area,
                                std::vector<TFullFileRecord>& records) {
  records.clear();
  std::string sql = std::string("SELECT ") + kRecordColumns +
                    " FROM files WHERE area = ?1 ORDER BY fold";
  Statement st(db_, sql.c_str());
  st.Bind(1, area);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    records.emplace_back();
    ReadRecord(st, records.back());
  }
  return rc == SQLITE_DONE ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::AddRecord(const TFullFileRecord& in, uint32_t* id) {
  std::string name;
  if (!RecordName(in.Info, name)) return WC_ITEM_REQUIRES_NAME;
  TFullFileRecord record = CleanRecord(in);
  AreaRow area;
  if (uint32_t code = FindArea(record.Info.Area, area)) return code;
  std::string stored = StoredFile(record.Info.Area, name);
  int32_t size = 0;
  uint64_t time = 0;  // the record is packed: no references into it
  if (!stored.empty() && StoredFileFacts(stored, size, time)) {
    record.Info.Size = size;
    record.Info.FileTime = time;
  }
  // The record and the end of its copy's add intent go together.
  Transaction tx(db_);
  if (!tx.Begun()) return Fail(WC_NO_ACTION_TAKEN);
  Statement st(db_,
               "INSERT INTO files(area, name, fold, description, uploader, "
               "size, filetime, lastaccessed, downloads, haslong, longdesc) "
               "VALUES(?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
  BindRecord(st, record);
  int rc = st.Step();
  if (rc != SQLITE_DONE)
    return IsConstraint(rc) ? WC_DUPLICATE_RECORD : Fail(WC_NO_ACTION_TAKEN);
  const int64_t rowId = sqlite3_last_insert_rowid(db_);
  if (!JournalAbsent() && EndAdds(record.Info.Area, name) != kOk)
    return Fail(WC_NO_ACTION_TAKEN);
  if (!tx.Commit()) return Fail(WC_NO_ACTION_TAKEN);
  if (id) *id = static_cast<uint32_t>(rowId);
  return kOk;
}

bool HostStore::JournalAbsent() {
  Statement st(db_,
               "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
               "name = 'adds'");
  return st.Step() != SQLITE_ROW;
}

uint32_t HostStore::EnsureJournal() {
  return Exec(db_, kJournal) ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::EndAdds(int32_t area, const std::string& name) {
  Statement st(db_, "DELETE FROM adds WHERE area = ?1 AND fold = ?2");
  return st.Bind(1, area).Bind(2, FoldName(name)).Step() == SQLITE_DONE
             ? kOk
             : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::NoteAdd(int32_t area, const std::string& name,
                            const std::string& stored,
                            const Result<FileFacts>& copyFacts,
                            const std::string& source, int64_t& id) {
  FileIdentity copy;
  if (!Identify(copyFacts, copy)) return WC_ACCESS_DENIED;
  const Result<FileFacts> sourceFacts = PathFacts(source, false);
  const FileFacts from = sourceFacts ? *sourceFacts : FileFacts{};
  Statement st(db_,
               "INSERT INTO adds(area, fold, name, stored, device, inode, "
               "born, source, sourcedevice, sourceinode, sourcesize, "
               "sourcetime) "
               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
  st.Bind(1, area)
      .Bind(2, FoldName(name))
      .Bind(3, name)
      .Bind(4, stored)
      .Bind(5, copy.device)
      .Bind(6, copy.inode)
      .Bind(7, copy.born)
      .Bind(8, source)
      .Bind(9, static_cast<int64_t>(from.id.device))
      .Bind(10, static_cast<int64_t>(from.id.inode))
      .Bind(11, static_cast<int64_t>(from.size))
      .Bind(12, Nanoseconds(from.modified));
  if (st.Step() != SQLITE_DONE) return Fail(WC_NO_ACTION_TAKEN);
  id = sqlite3_last_insert_rowid(db_);
  return kOk;
}

uint32_t HostStore::DropAdd(int64_t id) {
  Statement st(db_, "DELETE FROM adds WHERE id = ?1");
  return st.Bind(1, id).Step() == SQLITE_DONE ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::OldestRepairNote(RepairNote& note) {
  Statement st(db_,
               "SELECT id, area, name, recorded, source FROM repairs "
               "ORDER BY id LIMIT 1");
  const int rc = st.Step();
  if (rc == SQLITE_DONE) return WC_ITEM_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(WC_NO_ACTION_TAKEN);
  note = {st.Int(0), static_cast<int32_t>(st.Int(1)), st.Text(2),
          st.Int(3) != 0, st.Text(4)};
  return kOk;
}

uint32_t HostStore::RemoveRepairNote(int64_t id) {
  Statement st(db_, "DELETE FROM repairs WHERE id = ?1");
  return st.Bind(1, id).Step() == SQLITE_DONE ? kOk : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::WriteRecord(const TFullFileRecord& record) {
  Statement st(db_,
               "UPDATE files SET area = ?2, name = ?3, fold = ?4, "
               "description = ?5, uploader = ?6, size = ?7, filetime = ?8, "
               "lastaccessed = ?9, downloads = ?10, haslong = ?11, "
               "longdesc = ?12 WHERE id = ?1");
  st.Bind(1, record.Info.Id);
  BindRecord(st, record);
  int rc = st.Step();
  if (rc == SQLITE_DONE) return kOk;
  return IsConstraint(rc) ? WC_DUPLICATE_RECORD : Fail(WC_NO_ACTION_TAKEN);
}

uint32_t HostStore::UpdateRecord(const TFileRecord& info,
                                 const TFullFileRecord* full) {
  TFullFileRecord before;
  if (uint32_t code = Locate(info, before)) return code;
  TFullFileRecord wanted{};
  wanted.Info = info;
  if (full)
    std::memcpy(wanted.LongDescription, full->LongDescription,
                sizeof wanted.LongDescription);
  else
    std::memcpy(wanted.LongDescription, before.LongDescription,
                sizeof wanted.LongDescription);
  TFullFileRecord after = CleanRecord(wanted);
  after.Info.Id = before.Info.Id;
  std::string oldName = FieldText(before.Info.Name, kFileNameSize);
  std::string newName;
  if (!RecordName(info, newName)) return WC_ITEM_REQUIRES_NAME;
  // A case-only change is allowed: the stored file is found either way.
  if (FoldName(oldName) != FoldName(newName)) return WC_ITEM_NAME_DIFFERENT;
  if (after.Info.Area == before.Info.Area) return WriteRecord(after);
  return MoveRecordAndFile(before, after);
}

uint32_t HostStore::MoveRecordAndFile(const TFullFileRecord& before,
                                      const TFullFileRecord& after) {
  std::string name = FieldText(after.Info.Name, kFileNameSize);
  AreaRow target;
  if (uint32_t code = FindArea(after.Info.Area, target)) return code;
  TFullFileRecord clash;
  uint32_t code = FindRecord(after.Info.Area, name, KeyMatch::Equal, clash);
  if (code == kOk) return WC_DUPLICATE_RECORD;
  if (code != WC_RECORD_NOT_FOUND) return code;

  std::string source;
  if ((code =
           FindStoredFile(before.Info.Area,
                          FieldText(before.Info.Name, kFileNameSize), source)))
    return code;
  std::string dir;
  code = FindAreaDirectory(target, dir);
  if (code == WC_NO_ACTION_TAKEN || (code != kOk && !source.empty()))
    return code;
  std::string targetPath;
  if (!dir.empty()) {
    targetPath = JoinName(dir, name);
    std::string present = ResolveExisting(targetPath);
    if (!present.empty() && !source.empty() && SameFile(present, source))
      source.clear();  // areas sharing a directory: the file stays put
    else if (!present.empty())
      return WC_ITEM_ALREADY_EXISTS;  // recorded or not, it is never replaced
    // A missing directory may be a share that is not mounted.
    if (!source.empty() && !DirectoryExists(dir)) return WC_ACCESS_DENIED;
  }

  int64_t intent = 0;
  {
    Transaction tx(db_);
    if (!tx.Begun()) return Fail(WC_NO_ACTION_TAKEN);
    if ((code = WriteRecord(after))) return code;
    if (!source.empty()) {
      Statement st(db_, "INSERT INTO moves(source, target) VALUES(?1, ?2)");
      if (st.Bind(1, source).Bind(2, targetPath).Step() != SQLITE_DONE)
        return Fail(WC_NO_ACTION_TAKEN);
      intent = sqlite3_last_insert_rowid(db_);
    }
    if (!tx.Commit()) return Fail(WC_NO_ACTION_TAKEN);
  }
  if (source.empty()) return kOk;

  fault::Point("stored file move");
  bool moved = MoveStoredFile(source, targetPath);
  Transaction tx(db_);
  if (!moved) {
    // Put the record back where its file still is.
    if (tx.Begun() && WriteRecord(before) == kOk) {
      Statement st(db_, "DELETE FROM moves WHERE id = ?1");
      if (st.Bind(1, intent).Step() == SQLITE_DONE) tx.Commit();
    }
    return WC_ACCESS_DENIED;
  }
  Statement st(db_, "DELETE FROM moves WHERE id = ?1");
  if (tx.Begun() && st.Bind(1, intent).Step() == SQLITE_DONE) tx.Commit();
  return kOk;  // a left-over intent is cleared at the next login
}

uint32_t HostStore::DeleteRecord(const TFileRecord& record, bool deleteFile) {
  TFullFileRecord stored;
  if (uint32_t code = Locate(record, stored)) return code;
  std::string path;
  if (deleteFile) {
    uint32_t code = FindStoredFile(
        stored.Info.Area, FieldText(stored.Info.Name, kFileNameSize), path);
    if (code) return code;
  }
  // The record goes together with a note to remove its file (an intent
  // without a target), so a crash before the file is gone leaves the
  // removal to the next login: never a record without its file.
  int64_t intent = 0;
  {
    Transaction tx(db_);
    if (!tx.Begun()) return Fail(WC_NO_ACTION_TAKEN);
    Statement st(db_, "DELETE FROM files WHERE id = ?1");
    if (st.Bind(1, stored.Info.Id).Step() != SQLITE_DONE)
      return Fail(WC_NO_ACTION_TAKEN);
    if (!path.empty()) {
      Statement note(db_, "INSERT INTO moves(source, target) VALUES(?1, '')");
      if (note.Bind(1, path).Step() != SQLITE_DONE)
        return Fail(WC_NO_ACTION_TAKEN);
      intent = sqlite3_last_insert_rowid(db_);
    }
    if (!tx.Commit()) return Fail(WC_NO_ACTION_TAKEN);
  }
  if (path.empty()) return kOk;
  bool removed = DeleteLocalFile(path);
  Transaction tx(db_);
  if (!tx.Begun()) return removed ? kOk : WC_ACCESS_DENIED;
  if (!removed) {
    // The file stays, so its record comes back as it was.
    Statement restore(
        db_,
        "INSERT INTO files(id, area, name, fold, description, uploader, "
        "size, filetime, lastaccessed, downloads, haslong, longdesc) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    restore.Bind(1, stored.Info.Id);
    BindRecord(restore, stored);
    if (restore.Step() != SQLITE_DONE) return WC_ACCESS_DENIED;
  }
  Statement done(db_, "DELETE FROM moves WHERE id = ?1");
  if (done.Bind(1, intent).Step() == SQLITE_DONE) tx.Commit();
  return removed ? kOk : WC_ACCESS_DENIED;
}

bool HostStore::RecordOwns(const std::vector<AreaRow>& areas,
                           const std::string& path) {
  for (const AreaRow& area : areas) {
    std::string dir = AreaDirectory(area);
    TFullFileRecord found;
    if (!dir.empty() && TrailingBackslash(dir) == DirectoryPart(path) &&
        FindRecord(area.number, FileNamePart(path), KeyMatch::Equal, found) ==
            kOk)
      return true;
  }
  return false;
}

void HostStore::RepairMoves() {
  struct Intent {
    int64_t id;
    std::string source, target;
  };
  std::vector<Intent> intents;
  {
    Statement st(db_, "SELECT id, source, target FROM moves ORDER BY id");
    while (st.Step() == SQLITE_ROW)
      intents.push_back({st.Int(0), st.Text(1), st.Text(2)});
  }
  std::vector<AreaRow> areas;
  ListAreas(areas);
  for (const auto& intent : intents) {
    if (intent.target.empty()) {
      // A deleted record's file, unless a new record has taken its name.
      if (FileExists(intent.source) && !RecordOwns(areas, intent.source) &&
          !DeleteLocalFile(intent.source))
        continue;
    } else if (FileExists(intent.source) &&
               (!DirectoryExists(DirectoryPart(intent.target)) ||
                !MoveStoredFile(intent.source, intent.target))) {
      // The source is removed only after the target is complete, so a
      // source still present means the move has yet to happen (or finish).
      continue;  // tried again at the next login
    }
    Statement st(db_, "DELETE FROM moves WHERE id = ?1");
    st.Bind(1, intent.id).Step();
  }
  if (!JournalAbsent()) RepairAdds();
  // Writes into the storage that a crash cut short.
  RemoveAbandonedWrites(home_, kWriteMark);
  for (const AreaRow& area : areas) {
    std::string dir = AreaDirectory(area);
    if (!dir.empty()) RemoveAbandonedWrites(dir, kWriteMark);
  }
}

void HostStore::RepairAdds() {
  struct Intent {
    int64_t id;
    int32_t area;
    std::string name, stored, source;
    FileIdentity copy;
    int64_t sourceDevice, sourceInode, sourceSize, sourceTime;
  };
  std::vector<Intent> intents;
  {
    Statement st(db_,
                 "SELECT id, area, name, stored, device, inode, born, source, "
                 "sourcedevice, sourceinode, sourcesize, sourcetime FROM adds "
                 "ORDER BY id");
    while (st.Step() == SQLITE_ROW)
      intents.push_back({st.Int(0), static_cast<int32_t>(st.Int(1)), st.Text(2),
                         st.Text(3), st.Text(7),
                         FileIdentity{st.Int(4), st.Int(5), st.Int(6)},
                         st.Int(8), st.Int(9), st.Int(10), st.Int(11)});
  }
  for (const Intent& intent : intents) {
    TFullFileRecord recorded;
    const uint32_t found =
        FindRecord(intent.area, intent.name, KeyMatch::Equal, recorded);
    if (found != kOk && found != WC_RECORD_NOT_FOUND) continue;
    FileIdentity stored;
    // Only the copy the run made, and only while no record names it: a file
    // someone else put there, or one with a record, is never touched.
    const bool ours = found == WC_RECORD_NOT_FOUND &&
                      Identify(PathFacts(intent.stored, false), stored) &&
                      stored == intent.copy;
    // Storage that is not there (a share not mounted) may hold the copy.
    if (!ours && found == WC_RECORD_NOT_FOUND &&
        !DirectoryExists(DirectoryPart(intent.stored)))
      continue;
    if (ours) {
      // The upload still as the run read it: the copy goes, and the next run
      // adds the upload again with its description. Otherwise the copy is
      // all there is of it, and it is recorded.
      const Result<FileFacts> source = PathFacts(intent.source, false);
      const bool uploadThere =
          source && source->Regular() &&
          static_cast<int64_t>(source->id.device) == intent.sourceDevice &&
          static_cast<int64_t>(source->id.inode) == intent.sourceInode &&
          static_cast<int64_t>(source->size) == intent.sourceSize &&
          Nanoseconds(source->modified) == intent.sourceTime;
      // Noted before it is done: a crash in between has it told twice (the
      // next login does it again), never not at all.
      Statement note(db_,
                     "INSERT INTO repairs(area, name, recorded, source) "
                     "VALUES(?1, ?2, ?3, ?4)");
      if (note.Bind(1, intent.area)
              .Bind(2, intent.name)
              .Bind(3, uploadThere ? 0 : 1)
              .Bind(4, intent.source)
              .Step() != SQLITE_DONE)
        continue;
      const int64_t noted = sqlite3_last_insert_rowid(db_);
      bool repaired = false;
      if (uploadThere) {
        repaired = DeleteLocalFile(intent.stored);
      } else {
        TFullFileRecord record{};
        record.Info.Area = intent.area;
        SetFieldText(record.Info.Name, kFileNameSize, intent.name);
        repaired = AddRecord(record) == kOk;
      }
      if (!repaired) {
        RemoveRepairNote(noted);
        continue;  // tried again at the next login
      }
    }
    DropAdd(intent.id);
  }
}

namespace {

// Copies a whole file into an opened writer and commits it.
bool CopyInto(const std::string& source, AtomicWriter& writer) {
  LocalReader reader;
  if (!reader.Open(source)) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0, put = 0;
    if (!reader.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), got))
      return false;
    if (got == 0) return writer.Commit();
    if (!writer.Write(buffer.data(), got, put) || put != got) return false;
  }
}

}  // namespace

bool CopyReplacing(const std::string& source, const std::string& target) {
  AtomicWriter writer(kWriteMark);
  return writer.Open(target) && CopyInto(source, writer);
}

bool MoveStoredFile(const std::string& source, const std::string& target) {
  if (MoveLocalFile(source, target)) return true;
  if (errno != EXDEV) return false;
  AtomicWriter writer(kWriteMark, false, true);
  if (!writer.Open(target) || writer.FoundTarget() || !CopyInto(source, writer))
    return false;
  if (DeleteLocalFile(source)) return true;
  DeleteLocalFile(target);
  return false;
}

}  // namespace qm::host
