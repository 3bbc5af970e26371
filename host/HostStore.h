// The host's data: a SQLite database in the home directory (settings,
// areas, volumes, file records, pending stored-file moves) and the storage
// directories the areas name. Operations give 0 or a host error code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"
#include "server/WcApi.h"

struct sqlite3;

namespace qm::host {

constexpr const char* kDatabaseName = "wchost.db";
constexpr const char* kLockName = "wchost.lock";
// Marks the temporary files of the host's own writes in its storage; the
// login clean-up removes only these.
constexpr const char* kWriteMark = ".wchost-write.";
constexpr uint32_t kOk = 0;

std::string DatabasePath(const std::string& home);

// The key form of a file name: ASCII letters upper-cased.
std::string FoldName(const std::string& name);
// 1 to 15 bytes, no "/", "\" or ":", no control character, not "." or "..".
bool ValidFileName(const std::string& name);
// The name in a record's name field; false when the field is not a valid
// name (a full field without its terminator included).
bool RecordName(const TFileRecord& record, std::string& name);
// A short description of a host code, for the host program's messages.
std::string CodeText(uint32_t code);

struct AreaRow {
  int32_t number = 0;
  std::string name;
  std::string path;  // as stored: drive path, [VOLUME]\path or relative
};

struct VolumeRow {
  std::string name;
  std::string description;
  std::string path;
  bool offline = false;
};

// What a login did with a copy a killed add left in storage without its
// record.
struct RepairNote {
  int64_t id = 0;
  int32_t area = 0;
  std::string name;
  bool recorded = false;  // recorded (its upload was gone), else removed
  std::string source;     // where the run read the upload
};

// Where a file-record walk or lookup starts.
enum class KeyMatch { Equal, AtOrAfter, After };

class HostStore {
 public:
  HostStore() = default;
  ~HostStore();
  HostStore(const HostStore&) = delete;
  HostStore& operator=(const HostStore&) = delete;

  // Creates a new host database in home (which must hold none yet).
  static bool Create(const std::string& home, const std::string& password,
                     const std::string& sysop, const std::string& bbs,
                     std::string& error);

  // Opens an existing host database and checks that it is one. A read-only
  // store never writes to the database. WC_ACCESS_DENIED when the database
  // is there but cannot be used (read-only, full disk, I/O).
  uint32_t Open(const std::string& home, bool readOnly);
  // WC_ACCESS_DENIED unless a change can be written to the database.
  uint32_t CheckWritable();
  void Close();
  const std::string& Home() const { return home_; }
  // The database's message for the last failure, if any.
  const std::string& Message() const { return message_; }

  uint32_t Setting(const std::string& key, std::string& value);

  uint32_t FindArea(int32_t number, AreaRow& row);
  uint32_t ListAreas(std::vector<AreaRow>& rows);
  int32_t AreaCount();  // highest number + 1; -1 on failure
  uint32_t AddArea(const AreaRow& row);
  uint32_t UpdateArea(int32_t number, const std::string& name,
                      const std::string& path);

  uint32_t ListVolumes(std::vector<VolumeRow>& rows);
  uint32_t AddVolume(const VolumeRow& row);

  // The directory an area stores its files in, "" when it cannot be told.
  std::string AreaDirectory(const AreaRow& area);
  std::string AreaDirectory(int32_t number);
  // The same, failing when the database does.
  uint32_t FindAreaDirectory(const AreaRow& area, std::string& dir);
  // The stored file of an area's name (found without regard to case), or
  // "" when there is none.
  std::string StoredFile(int32_t area, const std::string& name);
  uint32_t FindStoredFile(int32_t area, const std::string& name,
                          std::string& path);
  // Removes a stored file that no record names.
  uint32_t RemoveUnrecordedFile(int32_t area, const std::string& name);

  // The first record whose key (area, folded name) matches as asked.
  uint32_t FindRecord(int32_t area, const std::string& name, KeyMatch match,
                      TFullFileRecord& record);
  // The record a caller's record names: by Id, or by area and name when
  // the Id is 0.
  uint32_t Locate(const TFileRecord& record, TFullFileRecord& stored);
  uint32_t ListRecords(int32_t area, std::vector<TFullFileRecord>& records);
  // Adds a record; size and time come from the stored file when it exists.
  uint32_t AddRecord(const TFullFileRecord& record, uint32_t* id = nullptr);
  // Updates a located record; a changed area moves the stored file along.
  uint32_t UpdateRecord(const TFileRecord& info, const TFullFileRecord* full);
  uint32_t DeleteRecord(const TFileRecord& record, bool deleteFile);
  // Finishes what a crash interrupted: stored-file moves and removals, and
  // adds (their copies, below); temporary files of writes cut short are
  // removed from the storage.
  void RepairMoves();

  // The adds journal (made by EnsureJournal in an older host). An add notes
  // its copy before a byte of it is written: the file being written (copyFd)
  // that will be stored, and the upload it comes from. The note ends with
  // the record of that name (AddRecord), the copy's removal
  // (RemoveUnrecordedFile) or DropAdd; one a crash left is repaired at the
  // next login, and the repair noted until RemoveRepairNote.
  uint32_t EnsureJournal();
  uint32_t NoteAdd(int32_t area, const std::string& name,
                   const std::string& stored, const Result<FileFacts>& copy,
                   const std::string& source, int64_t& id);
  uint32_t DropAdd(int64_t id);
  // The oldest repair not yet reported; WC_ITEM_NOT_FOUND when there is
  // none.
  uint32_t OldestRepairNote(RepairNote& note);
  uint32_t RemoveRepairNote(int64_t id);

 private:
  uint32_t Fail(uint32_t code);  // keeps the database's message
  uint32_t MoveRecordAndFile(const TFullFileRecord& before,
                             const TFullFileRecord& after);
  uint32_t WriteRecord(const TFullFileRecord& record);
  // True when a record's stored file is the file at path.
  bool RecordOwns(const std::vector<AreaRow>& areas, const std::string& path);
  bool JournalAbsent();  // a host from before the adds journal, not logged in
  uint32_t EndAdds(int32_t area, const std::string& name);
  void RepairAdds();

  sqlite3* db_ = nullptr;
  std::string home_;
  std::string message_;
};

// Copies a whole file; the target is replaced only when the copy is
// complete (and on disk).
bool CopyReplacing(const std::string& source, const std::string& target);
// Moves a stored file: a rename on one file system, else a complete copy,
// then removal of the source. A file at the target (one that came after the
// caller looked) is never replaced: the move fails. A source that cannot be
// removed takes its copy away again: never two copies.
bool MoveStoredFile(const std::string& source, const std::string& target);

}  // namespace qm::host
