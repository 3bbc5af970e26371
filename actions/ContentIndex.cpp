#include "actions/ContentIndex.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <unordered_set>

#include "actions/MatchRule.h"
#include "actions/Transfer.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "server/WcApi.h"

namespace qm {

namespace {

constexpr char kDatabaseName[] = "quillmar.db";
constexpr size_t kReadBlock = 1 << 20;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;
constexpr auto kProgressLineEvery = std::chrono::seconds(3);

class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1;
  }
  ~Sha256() { EVP_MD_CTX_free(ctx_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(ctx_, data, size) == 1;
  }
  bool Final(Digest& hash) {
    unsigned int length = 0;
    return ok_ && EVP_DigestFinal_ex(ctx_, hash.data(), &length) == 1 &&
           length == hash.size();
  }

 private:
  EVP_MD_CTX* ctx_;
  bool ok_ = false;
};

char* ReadBuffer() {
  static const std::unique_ptr<char[]> buffer(new char[kReadBlock]);
  return buffer.get();
}

std::string ContentKey(uint64_t size, const Digest& hash) {
  std::string key(reinterpret_cast<const char*>(hash.data()), hash.size());
  key.append(reinterpret_cast<const char*>(&size), sizeof size);
  return key;
}

std::string RecordKey(int32_t area, const std::string& name) {
  return std::to_string(area) + '\n' + UpperCase(name);
}

// A stored file opened through the host, closed at the end of the scope.
class StoredFile {
 public:
  StoredFile(int32_t area, const std::string& name) {
    handle_ = WcCreateFile(HostPath(area, name).c_str(), WC_GENERIC_READ,
                           WC_FILE_SHARE_READ, WC_OPEN_EXISTING);
  }
  ~StoredFile() {
    if (handle_ > 0) WcCloseHandle(handle_);
  }
  StoredFile(const StoredFile&) = delete;
  StoredFile& operator=(const StoredFile&) = delete;

  // Size and time; false when the host cannot tell them.
  bool Stat(uint64_t& size, uint64_t& time) {
    if (handle_ <= 0 || !WcGetFileTime(handle_, time)) return false;
    const uint32_t got = WcGetFileSize(handle_);
    size = got;
    return got != kInvalidFileSize;
  }
  bool Hash(Digest& hash) {
    Sha256 sha;
    char* buffer = ReadBuffer();
    for (;;) {
      uint32_t done = 0;
      if (!WcReadFile(handle_, buffer, kReadBlock, done)) return false;
      if (done == 0) return sha.Final(hash);
      sha.Update(buffer, done);
    }
  }

 private:
  WcHandle handle_ = 0;
};

// Reads a stored file's size, time and content afresh.
bool ReadStored(IndexedFile& file) {
  StoredFile stored(file.area, file.name);
  return stored.Stat(file.size, file.time) && stored.Hash(file.hash);
}

bool IsDamage(int code) {
  // SQLITE_ERROR here: a table that is not ours.
  return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ||
         code == SQLITE_ERROR;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    code_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  int code() const { return code_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_;
};

// Tells an unattended run's standard error how far a long build has come.
// A stored file's row key, area and name, as parameters 1 and 2.
void BindKey(sqlite3_stmt* stmt, const IndexedFile& file) {
  sqlite3_bind_int(stmt, 1, file.area);
  sqlite3_bind_blob(stmt, 2, file.name.data(), int(file.name.size()),
                    SQLITE_TRANSIENT);
}

class ProgressLines {
 public:
  explicit ProgressLines(bool enabled) : enabled_(enabled) {
    next_ = std::chrono::steady_clock::now() + kProgressLineEvery;
  }
  void At(size_t done, size_t total) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + kProgressLineEvery;
    std::fprintf(stderr,
                 "Quillmar: duplicate index: %zu of %zu stored files "
                 "checked\n",
                 done, total);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace

bool HashLocalFile(const std::string& path, uint64_t& size, Digest& hash) {
  const std::string found = ResolveExisting(path);
  Result<File> file = File::Open(found.empty() ? path : found, OpenFlags::Read);
  if (!file) return false;
  file->ReadSequentially();
  Sha256 sha;
  char* buffer = ReadBuffer();
  size = 0;
  bool ok = true;
  for (;;) {
    const Result<size_t> n = file->ReadSome(buffer, kReadBlock);
    if (!n || *n == 0) {
      ok = n.ok();
      break;
    }
    sha.Update(buffer, *n);
    size += *n;
  }
  return ok && sha.Final(hash);
}

bool StoredFileStat(int32_t area, const std::string& name, uint64_t& size,
                    uint64_t& time) {
  return StoredFile(area, name).Stat(size, time);
}

ContentIndex::ContentIndex(RunContext& ctx) {
  const std::string path = StateFolder(ctx.state) + kDatabaseName;
  std::vector<IndexedFile> rows;
  if (!OpenDatabase(ctx, path, rows)) {
    rows.clear();
    LogRunError(ctx, "Duplicate index could not be written: " + path +
                         ": stored files are read for this run only");
  }
  Refresh(ctx, rows);
}

ContentIndex::~ContentIndex() {
  if (!remembered_.empty()) Write(remembered_, {});
  sqlite3_close(db_);
}

bool ContentIndex::OpenDatabase(RunContext& ctx, const std::string& path,
                                std::vector<IndexedFile>& rows) {
  // Never a link or a special file: the program's own regular file only.
  const Result<FileFacts> facts = PathFacts(path, false);
  if (facts && !facts->Regular()) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Made here so that it follows the folder's sharing; SQLite gives its
    // journal the database's modes.
    (void)File::Open(
        path, OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive);
    int code = sqlite3_open_v2(
        path.c_str(), &db_,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
        nullptr);
    if (code == SQLITE_OK && sqlite3_db_readonly(db_, "main") == 1)
      code = SQLITE_READONLY;
    if (code == SQLITE_OK) {
      sqlite3_busy_timeout(db_, 2000);
      code = sqlite3_exec(db_,
                          "PRAGMA synchronous=NORMAL;"
                          "CREATE TABLE IF NOT EXISTS stored("
                          "area INTEGER NOT NULL, name BLOB NOT NULL,"
                          "size INTEGER NOT NULL, time INTEGER NOT NULL,"
                          "hash BLOB NOT NULL, PRIMARY KEY(area, name))",
                          nullptr, nullptr, nullptr);
    }
    if (code == SQLITE_OK) {
      rows.clear();
      code = LoadRows(rows);
      if (code == SQLITE_DONE) return true;
    }
    sqlite3_close(db_);
    db_ = nullptr;
    if (attempt > 0 || !IsDamage(code)) break;
    LogRunError(ctx, "Duplicate index was damaged and is built again: " + path);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
      (void)RemoveFile(path + suffix);
  }
  return false;
}

int ContentIndex::LoadRows(std::vector<IndexedFile>& rows) {
  Statement select(db_, "SELECT area, name, size, time, hash FROM stored");
  if (select.code() != SQLITE_OK) return select.code();
  sqlite3_stmt* stmt = select.get();
  int code;
  while ((code = sqlite3_step(stmt)) == SQLITE_ROW) {
    IndexedFile row;
    row.area = sqlite3_column_int(stmt, 0);
    const void* name = sqlite3_column_blob(stmt, 1);
    row.name.assign(static_cast<const char*>(name),
                    name ? sqlite3_column_bytes(stmt, 1) : 0);
    row.size = static_cast<uint64_t>(sqlite3_column_int64(stmt, 2));
    row.time = static_cast<uint64_t>(sqlite3_column_int64(stmt, 3));
    const void* hash = sqlite3_column_blob(stmt, 4);
    if (!hash || sqlite3_column_bytes(stmt, 4) != int(row.hash.size()))
      continue;  // hashed again
    std::memcpy(row.hash.data(), hash, row.hash.size());
    rows.push_back(std::move(row));
  }
  return code;
}

void ContentIndex::Refresh(RunContext& ctx, std::vector<IndexedFile>& rows) {
  std::unordered_map<std::string, IndexedFile*> known;
  for (IndexedFile& row : rows) known[RecordKey(row.area, row.name)] = &row;

  // Every record of every area the host has, gathered first so that the
  // progress knows its end.
  std::vector<std::pair<int32_t, std::string>> records;
  bool complete = true;
  const int32_t areas = GetFileAreaCount();
  for (int32_t area = 0; area < areas; ++area) {
    TFileArea areaRecord{};
    if (!MwGetFileAreas(area, 1, &areaRecord)) continue;
    TFileRecord record{};
    uint32_t position = 0;
    bool found = SearchFileRecByAreaName(area, "", record, position) != 0;
    while (found && record.Area == area) {
      records.emplace_back(area, RecordName(record));
      found = GetNextFileRec(1, record, position) != 0;
    }
    if (!found && WalkFailed(ctx, area)) complete = false;
  }

  std::unique_ptr<ProgressView> progress =
      ctx.view.OpenProgress("Indexing stored files for duplicates");
  if (progress) {
    progress->SetPosition(0);
    progress->SetMaximum(static_cast<int>(records.size()));
  }
  ProgressLines lines(ctx.state.autoRun);
  std::vector<IndexedFile> changed;
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < records.size(); ++i) {
    if (progress) {
      progress->SetPosition(static_cast<int>(i));
      if (progress->Cancelled()) ctx.state.cancelRequest = true;
    }
    if (ctx.state.cancelRequest) {
      complete = false;  // what is left out is only never found
      break;
    }
    lines.At(i, records.size());
    IndexedFile file;
    file.area = records[i].first;
    file.name = records[i].second;
    const std::string key = RecordKey(file.area, file.name);
    StoredFile stored(file.area, file.name);
    if (!stored.Stat(file.size, file.time)) continue;
    seen.insert(key);
    const auto old = known.find(key);
    if (old != known.end() && old->second->size == file.size &&
        old->second->time == file.time && old->second->name == file.name) {
      file.hash = old->second->hash;
    } else {
      if (!stored.Hash(file.hash)) continue;
      changed.push_back(file);
    }
    Add(std::move(file));
  }
  progress.reset();

  std::vector<IndexedFile> removed;
  for (const IndexedFile& row : rows) {
    if (seen.count(RecordKey(row.area, row.name))) continue;
    if (complete)
      removed.push_back(row);
    else
      Add(row);  // still checked before it counts
  }
  Write(changed, removed);
}

void ContentIndex::Add(IndexedFile file) {
  byContent_[ContentKey(file.size, file.hash)].push_back(files_.size());
  files_.push_back(std::move(file));
  gone_.push_back(false);
}

void ContentIndex::Write(const std::vector<IndexedFile>& changed,
                         const std::vector<IndexedFile>& removed) {
  if (!db_ || (changed.empty() && removed.empty())) return;
  if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
    return;
  bool ok = true;
  {
    Statement put(db_,
                  "INSERT OR REPLACE INTO stored(area, name, size, time, hash)"
                  " VALUES(?, ?, ?, ?, ?)");
    Statement drop(db_, "DELETE FROM stored WHERE area = ? AND name = ?");
    ok = put.code() == SQLITE_OK && drop.code() == SQLITE_OK;
    for (const IndexedFile& file : changed) {
      if (!ok) break;
      sqlite3_stmt* stmt = put.get();
      BindKey(stmt, file);
      sqlite3_bind_int64(stmt, 3, static_cast<sqlite3_int64>(file.size));
      sqlite3_bind_int64(stmt, 4, static_cast<sqlite3_int64>(file.time));
      sqlite3_bind_blob(stmt, 5, file.hash.data(), int(file.hash.size()),
                        SQLITE_TRANSIENT);
      ok = sqlite3_step(stmt) == SQLITE_DONE;
      sqlite3_reset(stmt);
    }
    for (const IndexedFile& file : removed) {
      if (!ok) break;
      sqlite3_stmt* stmt = drop.get();
      BindKey(stmt, file);
      ok = sqlite3_step(stmt) == SQLITE_DONE;
      sqlite3_reset(stmt);
    }
  }
  sqlite3_exec(db_, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
}

bool ContentIndex::Verify(const IndexedFile& file,
                          std::optional<IndexedFile>* current) {
  IndexedFile now = file;
  if (!file.localPath.empty()) {
    return HashLocalFile(file.localPath, now.size, now.hash) &&
           now.size == file.size && now.hash == file.hash;
  }
  TFileRecord record{};
  if (LookUpRecord(file.area, file.name, record) != Lookup::Found) return false;
  if (!ReadStored(now)) return false;
  if (now.size == file.size && now.hash == file.hash) return true;
  Write({now}, {});  // what the file holds now
  if (current) *current = std::move(now);
  return false;
}

std::optional<IndexedFile> ContentIndex::FindSame(uint64_t size,
                                                  const Digest& hash) {
  if (size == 0) return std::nullopt;
  const auto it = byContent_.find(ContentKey(size, hash));
  if (it == byContent_.end()) return std::nullopt;
  const std::vector<size_t> candidates = it->second;
  for (const size_t index : candidates) {
    if (gone_[index]) continue;
    if (Verify(files_[index])) return files_[index];
    gone_[index] = true;
  }
  return std::nullopt;
}

void ContentIndex::Remember(IndexedFile file) {
  if (file.localPath.empty()) remembered_.push_back(file);
  Add(std::move(file));
}

size_t ContentIndex::Members(const IndexedFile& file) const {
  const auto it = byContent_.find(ContentKey(file.size, file.hash));
  if (it == byContent_.end()) return 0;
  return std::count_if(it->second.begin(), it->second.end(),
                       [&](size_t index) { return !gone_[index]; });
}

std::vector<std::vector<IndexedFile>> ContentIndex::Groups() {
  // A file changed with its size and time kept still has its old content
  // here, so every member is read again before it counts; what it holds
  // now may make another group, so that is looked at again.
  std::vector<bool> read(files_.size(), false);
  for (bool moved = true; moved;) {
    moved = false;
    for (size_t index = 0; index < files_.size(); ++index) {
      if (read[index] || gone_[index] || files_[index].size == 0 ||
          Members(files_[index]) < 2)
        continue;
      read[index] = true;
      std::optional<IndexedFile> current;
      if (Verify(files_[index], &current)) continue;
      gone_[index] = true;
      if (!current) continue;
      Add(std::move(*current));
      read.push_back(true);
      moved = true;
    }
  }
  std::vector<std::vector<IndexedFile>> groups;
  for (const auto& [key, indexes] : byContent_) {
    std::vector<IndexedFile> group;
    for (const size_t index : indexes)
      if (!gone_[index] && files_[index].size > 0)
        group.push_back(files_[index]);
    if (group.size() < 2) continue;
    std::sort(group.begin(), group.end(), [](const auto& a, const auto& b) {
      return std::make_tuple(a.area, UpperCase(a.name)) <
             std::make_tuple(b.area, UpperCase(b.name));
    });
    groups.push_back(std::move(group));
  }
  auto waste = [](const std::vector<IndexedFile>& group) {
    return group[0].size * (group.size() - 1);
  };
  std::sort(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
    if (waste(a) != waste(b)) return waste(a) > waste(b);
    if (a[0].size != b[0].size) return a[0].size > b[0].size;
    return std::make_tuple(a[0].area, UpperCase(a[0].name)) <
           std::make_tuple(b[0].area, UpperCase(b[0].name));
  });
  return groups;
}

}  // namespace qm
