#include "tests/support/ReferenceJob.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>

#include "config/ConfigFile.h"
#include "host/HostAdmin.h"
#include "host/HostStore.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace qmtest {

namespace {

constexpr int64_t kFixtureTime = 946684800;  // 2000-01-01, files not copied

// Bytes that do not compress, so archives are as large as their members.
std::string Noise(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

std::string RecordLabel(int32_t area, const TFullFileRecord& record) {
  return std::to_string(area) + ":" +
         qm::FieldText(record.Info.Name, kFileNameSize);
}

bool LocalFileTime(const struct stat& st, uint64_t& local) {
  return qm::FileTimeToLocalFileTime(
      qm::UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), local);
}

std::vector<qm::host::AreaInfo> Areas(const std::string& home,
                                      std::vector<std::string>& problems) {
  std::vector<qm::host::AreaInfo> areas;
  std::string error;
  if (!qm::host::ListAreas(home, areas, error))
    problems.push_back("cannot list areas: " + error);
  return areas;
}

std::vector<TFullFileRecord> Records(const std::string& home, int32_t area,
                                     std::vector<std::string>& problems) {
  std::vector<TFullFileRecord> records;
  std::string error;
  if (!qm::host::ListFileRecords(home, area, records, error))
    problems.push_back("cannot list records of area " + std::to_string(area) +
                       ": " + error);
  return records;
}

// Plain, visible files of a directory, sorted.
std::vector<std::string> StoredNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const std::string& name : ListDir(dir)) {
    struct stat st {};
    if (name[0] != '.' && lstat((dir + "/" + name).c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
      names.push_back(name);
  }
  return names;
}

}  // namespace

ReferenceJob::ReferenceJob(const std::string& home, const std::string& work,
                           const std::string& configPath, size_t bigSize)
    : home_(home), configPath_(configPath) {
  MakeHost(home, {{1, "Uploads", "files/up"},
                  {2, "Utilities", "files/utils"},
                  {3, "Archive", "files/arch"}});
  const std::string up = home + "/files/up/";
  const std::string utils = home + "/files/utils/";
  const std::string incoming = work + "/incoming/";
  for (const std::string& dir : {up, utils, home + "/files/arch/", incoming})
    MakeDirs(dir);

  auto upload = [&](const std::string& name, const std::string& bytes) {
    WriteFile(incoming + name, bytes);
    SetMTime(incoming + name, kFixtureTime);
    sources_[qm::UpperCase(name)] = {bytes, true};
  };
  auto zip = [&](const std::string& name,
                 const std::vector<std::pair<std::string, std::string>>& m) {
    MakeZip(incoming + name, m);
    upload(name, ReadFile(incoming + name));
  };
  zip("GAME.ZIP", {{"FILE_ID.DIZ", "Star game v2\r\nfor two players\r\n"},
                   {"STAR.EXE", Noise(9000, 1)}});
  zip("TOOLS.ZIP",
      {{"docs/file_id.diz", "Sysop tools"}, {"README", Noise(300, 2)}});
  upload("DEMO.EXE", Noise(6000, 3));  // not an archive: the count fails
  upload("NOTE.TXT", Noise(5000, 4));
  upload("EMPTY.TXT", "");
  upload("BIG.BIN", Noise(bigSize, 5));
  upload("ABCDEFGHIJK.ZIP", "a name too long to store");
  // Uploads named by a path list, and a link it names that is refused.
  const std::string listed = work + "/listed/";
  MakeDirs(listed);
  MakeZip(listed + "LISTED.ZIP",
          {{"FILE_ID.DIZ", "Listed upload\r\n"}, {"DATA.BIN", Noise(7000, 9)}});
  sources_["LISTED.ZIP"] = {ReadFile(listed + "LISTED.ZIP"), true};
  WriteFile(listed + "LISTED.TXT", Noise(3000, 10));
  sources_["LISTED.TXT"] = {ReadFile(listed + "LISTED.TXT"), true};
  WriteFile(work + "/private.txt", "not for the public");
  fs::create_symlink(work + "/private.txt", listed + "LINK.TXT");
  WriteFile(work + "/uploads.lst",
            listed + "LISTED.ZIP\r\n" + listed + "LINK.TXT\r\n\r\n" + listed +
                "MISSING.TXT\r\n" + listed + "LISTED.TXT\r\n");

  auto kept = [&](const std::string& path, const std::string& bytes) {
    WriteFile(path, bytes);
    SetMTime(path, kFixtureTime);
    sources_[qm::UpperCase(qm::FileNamePart(path))] = {bytes, false};
  };
  kept(utils + "PKTOOLS.ZIP", Noise(1200, 6));
  kept(utils + "NOTES.TXT", "notes of the sysop");
  WriteFile(utils + "FILES.BBS",
            "   Sysop Utilities\r\n"
            "NOTES.TXT  Notes of the sysop\r\n"
            "PKTOOLS.ZIP  1200  01-01-98  Archive tools\r\n"
            "   | second line\r\n"
            "MISSING.ZIP  Not on disk\r\n");
  // Records from before the run: one the move takes, one the delete takes.
  auto stored = [&](int32_t area, const std::string& name,
                    const std::string& bytes) {
    std::string local = work + "/" + name;
    kept(local, bytes);
    TFullFileRecord record{};
    record.Info.Area = area;
    qm::SetFieldText(record.Info.Name, kFileNameSize, name);
    qm::SetFieldText(record.Info.Description, kShortDescSize, "old");
    std::string error;
    if (!qm::host::StoreFile(home, area, name, local, error) ||
        !qm::host::AddFileRecord(home, record, error))
      throw std::runtime_error("reference job: " + error);
  };
  stored(1, "OLDNEWS.TXT", Noise(700, 7));
  stored(1, "OLDGAME.ZIP", Noise(3000, 8));
  stored(3, "STALE.TXT", "to be deleted");

  std::string message;
  if (!qm::WriteConfigFile(
          configPath,
          {ConfigEntry(1, "Add", "Scan For New", incoming + "*.*",
                       "Extract from ZIP", "file_id.diz", up),
           ConfigEntry(1, "Add", "From File List", work + "/uploads.lst",
                       "Extract from ZIP", "file_id.diz", up),
           ConfigEntry(2, "Add", "Scan For New", "FILES.BBS",
                       "Extract from ZIP", "file_id.diz", utils),
           // Only what was there before: a second run then changes
           // nothing, so a run cut short and run again ends as one run.
           ConfigEntry(1, "Move",
                       qm::JoinMoveParam("Files and Records", "3:Archive"),
                       "OLD*", "NA", "NA", ""),
           ConfigEntry(2, "Move",
                       qm::JoinMoveParam("Just Copy Files", "3:Archive"),
                       "PKTOOLS.ZIP", "NA", "NA", ""),
           ConfigEntry(3, "Delete", "Delete and Remove", "STALE.TXT", "NA",
                       "NA", home + "/files/arch/"),
           ConfigEntry(1, "List", "Single", "*.*", "Per File Area", "FILES.LST",
                       up)},
          message))
    throw std::runtime_error("reference job: " + message);
}

std::vector<std::string> ReferenceJob::Problems() const {
  std::vector<std::string> problems;
  sqlite3* db = nullptr;
  std::string dbPath = qm::host::DatabasePath(home_);
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    problems.push_back("cannot open " + dbPath);
  } else {
    auto rows = [&](const char* sql) {
      std::vector<std::string> out;
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        out.push_back(std::string("error: ") + sqlite3_errmsg(db));
      } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
          const unsigned char* text = sqlite3_column_text(st, 0);
          out.push_back(text ? reinterpret_cast<const char*>(text) : "");
        }
      }
      sqlite3_finalize(st);
      return out;
    };
    auto integrity = rows("PRAGMA integrity_check");
    if (integrity != std::vector<std::string>{"ok"})
      for (const auto& line : integrity)
        problems.push_back("integrity_check: " + line);
    auto intents = rows("SELECT source || ' -> ' || target FROM moves");
    for (const auto& intent : intents)
      problems.push_back("move intent left: " + intent);
    for (const auto& intent : rows("SELECT stored FROM adds"))
      problems.push_back("add intent left: " + intent);
  }
  sqlite3_close_v2(db);

  std::set<std::string> dirs;
  for (const auto& area : Areas(home_, problems)) {
    dirs.insert(area.directory);
    const std::vector<TFullFileRecord> records =
        Records(home_, area.number, problems);
    std::set<std::string> recorded;
    for (const auto& record : records)
      recorded.insert(qm::UpperCase(RecordLabel(area.number, record)));
    // An upload the job copies into storage has a record there (files the
    // sysop keeps in place, or copies without records, need none).
    for (const std::string& name : StoredNames(area.directory)) {
      const std::string label =
          std::to_string(area.number) + ":" + qm::UpperCase(name);
      auto source = sources_.find(qm::UpperCase(name));
      if (source != sources_.end() && source->second.copied &&
          !recorded.count(label))
        problems.push_back(label + ": stored without a record");
    }
    for (const auto& record : records) {
      std::string label = RecordLabel(area.number, record);
      std::string path =
          qm::ResolveExisting(qm::TrailingBackslash(area.directory) +
                              qm::FieldText(record.Info.Name, kFileNameSize));
      struct stat st {};
      uint64_t local = 0;
      if (path.empty() || stat(path.c_str(), &st) != 0 ||
          !S_ISREG(st.st_mode)) {
        problems.push_back(label + ": record without stored file");
      } else if (st.st_size != record.Info.Size) {
        problems.push_back(label + ": size " +
                           std::to_string(record.Info.Size) + ", stored " +
                           std::to_string(st.st_size));
      } else if (!LocalFileTime(st, local) || local != record.Info.FileTime) {
        problems.push_back(label + ": time differs from the stored file");
      }
    }
  }
  for (const std::string& dir : dirs) {
    for (const std::string& name : StoredNames(dir)) {
      auto source = sources_.find(qm::UpperCase(name));
      if (source != sources_.end() &&
          ReadFile(dir + "/" + name) != source->second.bytes)
        problems.push_back(dir + "/" + name + ": not its source's bytes");
    }
  }
  for (const std::string& path : TemporaryFiles())
    problems.push_back("temporary file left: " + path);
  return problems;
}

std::vector<std::string> ReferenceJob::PendingRepairs() const {
  std::vector<std::string> notes;
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_open_v2(qm::host::DatabasePath(home_).c_str(), &db,
                      SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "SELECT 'FA# ' || area || ': ' || name FROM repairs "
                         "ORDER BY id",
                         -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW)
      notes.push_back(
          reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
  return notes;
}

std::vector<std::string> ReferenceJob::TemporaryFiles() const {
  std::vector<std::string> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(home_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string()[0] == '.')
      paths.push_back(it->path().string());
  }
  return paths;
}

std::vector<std::string> ReferenceJob::Snapshot() const {
  std::vector<std::string> lines;
  for (const auto& area : Areas(home_, lines)) {
    lines.push_back("area " + std::to_string(area.number) + " " + area.name);
    for (const auto& record : Records(home_, area.number, lines)) {
      std::string line =
          "record " + RecordLabel(area.number, record) + " size " +
          std::to_string(record.Info.Size) + " '" +
          qm::FieldText(record.Info.Description, kShortDescSize) + "' long " +
          std::to_string(record.Info.HasLongDescription);
      for (const auto& text : record.LongDescription)
        if (text[0] != '\0') line += " |" + std::string(text);
      auto source = sources_.find(
          qm::UpperCase(qm::FieldText(record.Info.Name, kFileNameSize)));
      if (source != sources_.end() && !source->second.copied)
        line += " time " + std::to_string(record.Info.FileTime);
      lines.push_back(line);
    }
    for (const std::string& name : StoredNames(area.directory)) {
      std::string bytes = ReadFile(area.directory + "/" + name);
      std::string line = "file " + std::to_string(area.number) + ":" + name +
                         " size " + std::to_string(bytes.size());
      // Archives hold the time they were made and a listing holds dates:
      // neither need match between two jobs.
      auto source = sources_.find(qm::UpperCase(name));
      if (source != sources_.end())
        line += bytes == source->second.bytes ? " as its source" : " altered";
      else if (qm::UpperCase(name) != "FILES.LST")
        line += " hash " + std::to_string(std::hash<std::string>()(bytes));
      lines.push_back(line);
    }
  }
  return lines;
}

std::vector<std::string> ReferenceJob::ExpectedRecords() {
  return {"1:BIG.BIN",    "1:DEMO.EXE",    "1:EMPTY.TXT",   "1:GAME.ZIP",
          "1:LISTED.TXT", "1:LISTED.ZIP",  "1:NOTE.TXT",    "1:TOOLS.ZIP",
          "2:NOTES.TXT",  "2:PKTOOLS.ZIP", "3:OLDGAME.ZIP", "3:OLDNEWS.TXT"};
}

}  // namespace qmtest
