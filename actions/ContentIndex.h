// The index of stored files by content (size + SHA-256) that finds
// duplicate uploads: the program's own SQLite database quillmar.db in the
// program directory, brought up to date with the host before use.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "run/RunContext.h"

struct sqlite3;

namespace qm {

using Digest = std::array<unsigned char, 32>;

// SHA-256 of a local regular file (never blocks on a special file).
bool HashLocalFile(const std::string& path, uint64_t& size, Digest& hash);

// A stored file's size and time as the host gives them.
bool StoredFileStat(int32_t area, const std::string& name, uint64_t& size,
                    uint64_t& time);

struct IndexedFile {
  int32_t area = 0;
  std::string name;
  uint64_t size = 0;
  uint64_t time = 0;  // the stored file's time as the host gives it
  Digest hash{};
  // Set for a file a test run would add: it is read here, not stored.
  std::string localPath;
};

class ContentIndex {
 public:
  // Opens the database (a damaged one is built again, one that cannot be
  // written leaves an index in memory for this run; both logged) and
  // brings it up to date: a stored file whose size or time changed is
  // hashed again. Shows progress while it hashes.
  explicit ContentIndex(RunContext& ctx);
  ~ContentIndex();  // writes the files remembered since
  ContentIndex(const ContentIndex&) = delete;
  ContentIndex& operator=(const ContentIndex&) = delete;

  // A stored file with this content, read again to be sure (the index is
  // only a guide: a stale entry never counts). Empty files have none.
  std::optional<IndexedFile> FindSame(uint64_t size, const Digest& hash);
  // A file added in this run.
  void Remember(IndexedFile file);
  // Groups of two or more non-empty files with the same content, each
  // member read again to be sure.
  std::vector<std::vector<IndexedFile>> Groups();

 private:
  // Opens the database and reads its rows; false when nothing can be kept.
  bool OpenDatabase(RunContext& ctx, const std::string& path,
                    std::vector<IndexedFile>& rows);
  int LoadRows(std::vector<IndexedFile>& rows);  // SQLITE_DONE when read
  void Refresh(RunContext& ctx, std::vector<IndexedFile>& rows);
  // Whether a file still holds its indexed content; a stored file that
  // holds other content now is indexed so and given in current.
  bool Verify(const IndexedFile& file,
              std::optional<IndexedFile>* current = nullptr);
  size_t Members(const IndexedFile& file) const;  // with its content, live
  void Add(IndexedFile file);
  void Write(const std::vector<IndexedFile>& changed,
             const std::vector<IndexedFile>& removed);

  sqlite3* db_ = nullptr;  // null: nothing is kept beyond this run
  std::vector<IndexedFile> files_;
  std::vector<bool> gone_;
  std::unordered_map<std::string, std::vector<size_t>> byContent_;
  std::vector<IndexedFile> remembered_;
};

}  // namespace qm
