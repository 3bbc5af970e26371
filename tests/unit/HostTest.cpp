// The stand-in host through its contract: records, key order, walks that
// survive deletes and moves, stored files, areas and volumes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/HostAdmin.h"
#include "platform/FaultInjection.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "server/WcApi.h"
#include "tests/support/TestSupport.h"

namespace {

using qmtest::ReadFile;
using qmtest::WriteFile;

std::string NameOf(const TFileRecord& r) {
  return std::string(r.Name, strnlen(r.Name, sizeof r.Name));
}

TFullFileRecord Record(int32_t area, const std::string& name) {
  TFullFileRecord full{};
  full.Info.Area = area;
  std::memcpy(full.Info.Name, name.data(),
              std::min(name.size(), sizeof full.Info.Name));
  return full;
}

// Names of an area's records as a walk visits them.
std::vector<std::string> Walk(int32_t area) {
  std::vector<std::string> names;
  for (const auto& r : qmtest::AreaRecords(area))
    names.push_back(NameOf(r.Info));
  return names;
}

TFileRecord Find(int32_t area, const std::string& name) {
  TFileRecord rec{};
  uint32_t position = 0;
  EXPECT_TRUE(GetFileRecByAreaName(area, name.c_str(), rec, position)) << name;
  return rec;
}

std::string HostPath(int32_t area, const std::string& name) {
  return "wc:\\file\\area(" + std::to_string(area) + ")\\" + name;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "home";
    qmtest::MakeHost(home, {{1, "One", "one"}, {3, "Three", "three"}});
    login = std::make_unique<qmtest::HostLogin>(home);
    ASSERT_TRUE(login->ok) << std::hex << WcGetLastError();
  }
  void TearDown() override { login.reset(); }
  std::string Stored(int32_t area, const std::string& name) {
    return qm::host::AreaDirectory(home, area) + "/" + name;
  }

  qmtest::TempDir dir;
  std::string home;
  std::unique_ptr<qmtest::HostLogin> login;
};

using HostRecords = HostTest;
using HostWalk = HostTest;
using HostMove = HostTest;
using HostFiles = HostTest;
using HostAreas = HostTest;

TEST_F(HostRecords, FieldsRoundTripAtTheirOffsets) {
  // Written and read by byte offset, as the callers' records are laid out.
  std::vector<uint8_t> raw(sizeof(TFullFileRecord), 0);
  int32_t area = 3;
  std::memcpy(&raw[4], &area, 4);
  std::memcpy(&raw[8], "GAME.ZIP", 8);
  std::string shortDesc(100, 's');
  std::memcpy(&raw[24], shortDesc.data(), 75);
  int32_t flag = 1;
  std::memcpy(&raw[284], &flag, 4);
  std::string longLine(79, 'L');
  std::memcpy(&raw[592], "first line", 10);
  std::memcpy(&raw[592 + 14 * 80], longLine.data(), 79);
  TFullFileRecord in;
  std::memcpy(&in, raw.data(), raw.size());
  ASSERT_TRUE(AddFileRec(in));

  TFileRecord rec = Find(3, "game.zip");
  EXPECT_NE(rec.Id, 0u);
  TFullFileRecord out{};
  ASSERT_TRUE(GetFullFileRec(rec, out));
  std::vector<uint8_t> back(sizeof out);
  std::memcpy(back.data(), &out, sizeof out);
  int32_t backArea = 0, backFlag = 0;
  std::memcpy(&backArea, &back[4], 4);
  std::memcpy(&backFlag, &back[284], 4);
  EXPECT_EQ(backArea, 3);
  EXPECT_EQ(backFlag, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(&back[8]), "GAME.ZIP");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&back[24])),
            shortDesc.substr(0, 75));
  EXPECT_STREQ(reinterpret_cast<char*>(&back[592]), "first line");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&back[592 + 14 * 80])),
            longLine);

  // Texts longer than their fields are cut to width - 1.
  TFullFileRecord update = out;
  std::memset(update.LongDescription[1], 'x', 80);  // no terminator
  std::memcpy(update.Info.Uploader, "Uploader", 8);
  update.Info.Downloads = 7;
  ASSERT_TRUE(UpdateFullFileRec(update));
  ASSERT_TRUE(GetFullFileRec(rec, out));
  EXPECT_EQ(std::string(out.LongDescription[1]), std::string(79, 'x'));
  EXPECT_STREQ(out.Info.Uploader, "Uploader");
  EXPECT_EQ(out.Info.Downloads, 7);
}

TEST_F(HostRecords, DuplicatesUnknownAreasAndBadNamesAreRefused) {
  ASSERT_TRUE(AddFileRec(Record(1, "Game.Zip")));
  EXPECT_FALSE(AddFileRec(Record(1, "GAME.ZIP")));
  EXPECT_EQ(WcGetLastError(), WC_DUPLICATE_RECORD);
  EXPECT_TRUE(AddFileRec(Record(3, "GAME.ZIP")));  // another area is fine
  EXPECT_FALSE(AddFileRec(Record(2, "x.zip")));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_FILEAREA);

  const std::vector<std::string> badNames = {
      "", "a/b", "a\\b", "c:x", "x\x01y", ".", "..", std::string(16, 'N')};
  for (const auto& bad : badNames) {
    WcSetLastError(0);
    EXPECT_FALSE(AddFileRec(Record(1, bad))) << bad;
    EXPECT_EQ(WcGetLastError(), WC_ITEM_REQUIRES_NAME) << bad;
  }
  EXPECT_TRUE(AddFileRec(Record(1, std::string(15, 'N'))));
  EXPECT_EQ(Walk(1),
            (std::vector<std::string>{"Game.Zip", std::string(15, 'N')}));
}

TEST_F(HostRecords, AddTakesSizeAndTimeFromTheStoredFile) {
  WriteFile(Stored(1, "data.bin"), std::string(1234, 'd'));
  qmtest::SetMTime(Stored(1, "data.bin"), 1700000000);
  TFullFileRecord in = Record(1, "DATA.BIN");  // found without regard to case
  in.Info.Size = 5;
  ASSERT_TRUE(AddFileRec(in));
  TFullFileRecord out{};
  ASSERT_TRUE(GetFullFileRec(Find(1, "DATA.BIN"), out));
  uint64_t local = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(1700000000), local));
  EXPECT_EQ(out.Info.Size, 1234);
  uint64_t stored = out.Info.FileTime;  // packed field: no reference to it
  EXPECT_EQ(stored, local);

  // Without a stored file the record keeps what the caller gave.
  TFullFileRecord bare = Record(1, "none.zip");
  bare.Info.Size = 77;
  ASSERT_TRUE(AddFileRec(bare));
  ASSERT_TRUE(GetFullFileRec(Find(1, "none.zip"), out));
  EXPECT_EQ(out.Info.Size, 77);
}

TEST_F(HostRecords, RecordsAreFoundByIdAndDeletedWithOrWithoutTheirFile) {
  WriteFile(Stored(1, "keep.zip"), "k");
  WriteFile(Stored(1, "gone.zip"), "g");
  ASSERT_TRUE(AddFileRec(Record(1, "keep.zip")));
  ASSERT_TRUE(AddFileRec(Record(1, "gone.zip")));
  TFileRecord keep = Find(1, "keep.zip");
  TFileRecord gone = Find(1, "gone.zip");
  EXPECT_NE(keep.Id, gone.Id);

  // The Id decides, whatever the name field holds.
  TFileRecord byId = keep;
  std::strcpy(byId.Name, "other");
  TFullFileRecord full{};
  ASSERT_TRUE(GetFullFileRec(byId, full));
  EXPECT_EQ(NameOf(full.Info), "keep.zip");

  ASSERT_TRUE(DeleteFileRec(keep, 0));
  ASSERT_TRUE(DeleteFileRec(gone, 1));
  EXPECT_TRUE(qmtest::Exists(Stored(1, "keep.zip")));
  EXPECT_FALSE(qmtest::Exists(Stored(1, "gone.zip")));
  EXPECT_TRUE(Walk(1).empty());
  EXPECT_FALSE(DeleteFileRec(keep, 0));
  EXPECT_EQ(WcGetLastError(), WC_RECORD_NOT_FOUND);

  // Id 0 falls back to area and name.
  ASSERT_TRUE(AddFileRec(Record(1, "Named.zip")));
  TFileRecord named = Record(1, "NAMED.ZIP").Info;
  EXPECT_TRUE(DeleteFileRec(named, 0));
  EXPECT_TRUE(Walk(1).empty());
}

TEST_F(HostRecords, ANameChangesOnlyInLetterCase) {
  ASSERT_TRUE(AddFileRec(Record(1, "game.zip")));
  TFileRecord rec = Find(1, "game.zip");
  std::strcpy(rec.Name, "other.zip");
  EXPECT_FALSE(UpdateFileRec(rec));
  EXPECT_EQ(WcGetLastError(), WC_ITEM_NAME_DIFFERENT);
  std::strcpy(rec.Name, "GAME.ZIP");
  EXPECT_TRUE(UpdateFileRec(rec));
  EXPECT_EQ(Walk(1), std::vector<std::string>{"GAME.ZIP"});
}

TEST_F(HostWalk, KeysFollowAreaThenNameWithLettersFolded) {
  for (const char* name : {"b.zip", "_x", "A.ZIP", "c.zip", "a1"})
    ASSERT_TRUE(AddFileRec(Record(1, name)));
  ASSERT_TRUE(AddFileRec(Record(3, "AAA")));
  EXPECT_EQ(Walk(1),
            (std::vector<std::string>{"A.ZIP", "a1", "b.zip", "c.zip", "_x"}));

  // A search starts at the first key at or after the name; the walk then
  // runs on into the next area.
  TFileRecord rec{};
  uint32_t position = 0;
  ASSERT_TRUE(SearchFileRecByAreaName(1, "B", rec, position));
  EXPECT_EQ(NameOf(rec), "b.zip");
  EXPECT_NE(position, 0u);
  ASSERT_TRUE(GetNextFileRec(1, rec, position));
  ASSERT_TRUE(GetNextFileRec(1, rec, position));
  EXPECT_EQ(NameOf(rec), "_x");
  ASSERT_TRUE(GetNextFileRec(1, rec, position));
  EXPECT_EQ(rec.Area, 3);
  EXPECT_EQ(NameOf(rec), "AAA");
  EXPECT_FALSE(GetNextFileRec(1, rec, position));
  EXPECT_EQ(WcGetLastError(), WC_RECORD_NOT_FOUND);

  // No record at or after the name in that area.
  position = 0;
  EXPECT_FALSE(SearchFileRecByAreaName(1, "~", rec, position));
  EXPECT_FALSE(GetFileRecByAreaName(1, "b", rec, position));
}

TEST_F(HostWalk, DeletingTheCurrentRecordNeitherSkipsNorRepeats) {
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) {
    names.push_back("F" + std::to_string(10 + i) + ".ZIP");
    ASSERT_TRUE(AddFileRec(Record(1, names.back())));
  }
  std::vector<std::string> seen;
  TFileRecord rec{};
  uint32_t position = 0;
  bool found = SearchFileRecByAreaName(1, "", rec, position);
  while (found && rec.Area == 1) {
    seen.push_back(NameOf(rec));
    if (seen.size() % 3 != 0) {
      ASSERT_TRUE(DeleteFileRec(rec, 1));
    }
    found = GetNextFileRec(1, rec, position);
  }
  EXPECT_EQ(seen, names);
  EXPECT_EQ(Walk(1), (std::vector<std::string>{"F12.ZIP", "F15.ZIP", "F18.ZIP",
                                               "F21.ZIP"}));
}

TEST_F(HostWalk, MovingTheCurrentRecordNeitherSkipsNorRepeats) {
  std::vector<std::string> names = {"a.zip", "b.zip", "c.zip", "d.zip"};
  for (const auto& n : names) ASSERT_TRUE(AddFileRec(Record(1, n)));
  ASSERT_TRUE(AddFileRec(Record(3, "z.zip")));
  // A second, independent walk keeps its own position.
  TFileRecord other{};
  uint32_t otherPosition = 0;
  ASSERT_TRUE(SearchFileRecByAreaName(1, "", other, otherPosition));

  std::vector<std::string> seen;
  TFileRecord rec{};
  uint32_t position = 0;
  bool found = SearchFileRecByAreaName(1, "", rec, position);
  EXPECT_NE(position, otherPosition);
  while (found && rec.Area == 1) {
    seen.push_back(NameOf(rec));
    rec.Area = 3;
    ASSERT_TRUE(UpdateFileRec(rec));
    found = GetNextFileRec(1, rec, position);
  }
  EXPECT_EQ(seen, names);
  EXPECT_TRUE(Walk(1).empty());
  EXPECT_EQ(Walk(3), (std::vector<std::string>{"a.zip", "b.zip", "c.zip",
                                               "d.zip", "z.zip"}));
  // The other walk goes on after "a.zip", now in the moved-to area.
  ASSERT_TRUE(GetNextFileRec(1, other, otherPosition));
  EXPECT_EQ(other.Area, 3);
  EXPECT_EQ(NameOf(other), "a.zip");
}

TEST_F(HostWalk, PositionsEndWithTheLogin) {
  ASSERT_TRUE(AddFileRec(Record(1, "a.zip")));
  ASSERT_TRUE(AddFileRec(Record(1, "b.zip")));
  TFileRecord rec{};
  uint32_t position = 0;
  ASSERT_TRUE(SearchFileRecByAreaName(1, "b.zip", rec, position));
  login.reset();
  EXPECT_FALSE(GetNextFileRec(1, rec, position));
  EXPECT_EQ(WcGetLastError(), WC_USER_NOT_LOGGED_IN);
  login = std::make_unique<qmtest::HostLogin>(home);
  ASSERT_TRUE(login->ok);
  // An unknown position goes on after the caller's record.
  rec = Find(1, "a.zip");
  ASSERT_TRUE(GetNextFileRec(1, rec, position));
  EXPECT_EQ(NameOf(rec), "b.zip");
  EXPECT_FALSE(GetNextFileRec(2, rec, position));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_INDEX);
}

TEST_F(HostMove, ChangingTheAreaMovesTheStoredFile) {
  WriteFile(Stored(1, "Game.Zip"), "game bytes");
  ASSERT_TRUE(AddFileRec(Record(1, "GAME.ZIP")));
  TFileRecord rec = Find(1, "GAME.ZIP");
  rec.Area = 3;
  ASSERT_TRUE(UpdateFileRec(rec));
  EXPECT_FALSE(qmtest::Exists(Stored(1, "Game.Zip")));
  EXPECT_EQ(ReadFile(Stored(3, "GAME.ZIP")), "game bytes");
  EXPECT_TRUE(WcExistFile(HostPath(3, "game.zip").c_str()));
  EXPECT_EQ(Walk(3), std::vector<std::string>{"GAME.ZIP"});

  // A name the target area already records: nothing changes.
  WriteFile(Stored(1, "x.zip"), "source");
  WriteFile(Stored(3, "X.ZIP"), "target");
  ASSERT_TRUE(AddFileRec(Record(1, "x.zip")));
  ASSERT_TRUE(AddFileRec(Record(3, "X.ZIP")));
  TFileRecord x = Find(1, "x.zip");
  x.Area = 3;
  EXPECT_FALSE(UpdateFileRec(x));
  EXPECT_EQ(WcGetLastError(), WC_DUPLICATE_RECORD);
  EXPECT_EQ(ReadFile(Stored(1, "x.zip")), "source");
  EXPECT_EQ(ReadFile(Stored(3, "X.ZIP")), "target");
  EXPECT_EQ(Walk(1), std::vector<std::string>{"x.zip"});

  x.Area = 2;
  EXPECT_FALSE(UpdateFileRec(x));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_FILEAREA);
  EXPECT_EQ(ReadFile(Stored(1, "x.zip")), "source");
}

TEST_F(HostMove, ASourceThatCannotBeRemovedLeavesNoCopy) {
  // Area 5 stores on another file system where one is at hand, so that the
  // move copies, in a directory the mover may not change.
  qmtest::TempDir other(qm::DirectoryExists("/dev/shm") ? "/dev/shm" : "");
  std::string error;
  ASSERT_TRUE(qm::host::AddArea(home, 5, "Five", other.path(), error)) << error;
  WriteFile(Stored(5, "LOCKED.ZIP"), "stays");
  ASSERT_TRUE(AddFileRec(Record(5, "LOCKED.ZIP")));
  for (const std::string& path : {dir.path(), home})
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  ASSERT_EQ(chmod(other.path().c_str(), 0555), 0);
  const std::string target = qm::host::AreaDirectory(home, 1);
  ASSERT_EQ(chmod(target.c_str(), 0777), 0);

  TFileRecord rec = Find(5, "LOCKED.ZIP");
  rec.Area = 1;
  {
    qmtest::AsUnprivileged nobody;
    EXPECT_FALSE(UpdateFileRec(rec));
  }
  EXPECT_EQ(WcGetLastError(), WC_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(Stored(5, "LOCKED.ZIP")), "stays");
  EXPECT_EQ(qmtest::ListDir(target), std::vector<std::string>{});
  EXPECT_EQ(Walk(5), std::vector<std::string>{"LOCKED.ZIP"});
  EXPECT_EQ(Walk(1), std::vector<std::string>{});
}

// A file stored at the target's name while a move is under way (by the
// host program, say) is never replaced, whether the move renames or copies
// (to another file system): the move fails and its record stays with its
// file.
TEST_F(HostMove, AFileStoredMeanwhileIsNeverReplaced) {
  qmtest::TempDir other(qm::DirectoryExists("/dev/shm") ? "/dev/shm" : "");
  std::string error;
  ASSERT_TRUE(qm::host::AddArea(home, 5, "Five", other.path(), error)) << error;
  for (const int32_t target : {3, 5}) {
    SCOPED_TRACE(target);
    const std::string name = "RACE" + std::to_string(target) + ".ZIP";
    WriteFile(Stored(1, name), "moving");
    ASSERT_TRUE(AddFileRec(Record(1, name)));
    TFileRecord rec = Find(1, name);
    rec.Area = target;
    qm::fault::WatchPoints([&](const char* point) {
      if (std::string(point) == "stored file move")
        WriteFile(Stored(target, name), "newcomer");
    });
    EXPECT_FALSE(UpdateFileRec(rec));
    qm::fault::WatchPoints({});
    EXPECT_EQ(ReadFile(Stored(1, name)), "moving");
    EXPECT_EQ(ReadFile(Stored(target, name)), "newcomer");
    EXPECT_EQ(Walk(target), std::vector<std::string>{});
  }
  EXPECT_EQ(Walk(1), (std::vector<std::string>{"RACE3.ZIP", "RACE5.ZIP"}));
}

TEST_F(HostMove, AMoveCutShortIsFinishedAtTheNextLogin) {
  WriteFile(Stored(1, "half.zip"), "moving");
  ASSERT_TRUE(AddFileRec(Record(1, "half.zip")));
  login.reset();
  // What a crash right after the record change leaves: the record and the
  // intent are in the database, the file is still in the old area.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((home + "/wchost.db").c_str(), &db), SQLITE_OK);
  std::string sql =
      "UPDATE files SET area = 3 WHERE name = 'half.zip';"
      "INSERT INTO moves(source, target) VALUES('" +
      Stored(1, "half.zip") + "', '" + Stored(3, "half.zip") + "');";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  login = std::make_unique<qmtest::HostLogin>(home);
  ASSERT_TRUE(login->ok);
  EXPECT_FALSE(qmtest::Exists(Stored(1, "half.zip")));
  EXPECT_EQ(ReadFile(Stored(3, "half.zip")), "moving");
  EXPECT_EQ(Walk(3), std::vector<std::string>{"half.zip"});
}

TEST_F(HostFiles, HostPathsReadAndWriteStoredFiles) {
  WriteFile(Stored(1, "Game.Zip"), "old bytes");
  qmtest::SetMTime(Stored(1, "Game.Zip"), 1600000000);
  const std::string upper = "WC:\\FILE\\AREA(1)\\GAME.ZIP";
  EXPECT_TRUE(WcExistFile(upper.c_str()));
  WcHandle in = WcCreateFile(upper.c_str(), WC_GENERIC_READ, WC_FILE_SHARE_READ,
                             WC_OPEN_EXISTING);
  ASSERT_GT(in, 0);
  EXPECT_EQ(WcGetFileSize(in), 9u);
  uint64_t time = 0;
  ASSERT_TRUE(WcGetFileTime(in, time));
  EXPECT_EQ(time, qm::UnixToFileTime(1600000000));
  char buffer[64];
  uint32_t done = 0;
  ASSERT_TRUE(WcReadFile(in, buffer, sizeof buffer, done));
  EXPECT_EQ(std::string(buffer, done), "old bytes");
  ASSERT_TRUE(WcReadFile(in, buffer, sizeof buffer, done));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(WcCloseHandle(in));

  // Writing an existing name keeps its case on disk.
  WcHandle out = WcCreateFile(HostPath(1, "game.zip").c_str(), WC_GENERIC_WRITE,
                              0, WC_CREATE_ALWAYS);
  ASSERT_GT(out, 0);
  ASSERT_TRUE(WcWriteFile(out, "new", 3, done));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(ReadFile(Stored(1, "Game.Zip")), "old bytes");  // not yet
  EXPECT_TRUE(WcCloseHandle(out));
  EXPECT_EQ(qmtest::ListDir(qm::host::AreaDirectory(home, 1)),
            std::vector<std::string>{"Game.Zip"});
  EXPECT_EQ(ReadFile(Stored(1, "Game.Zip")), "new");
}

TEST_F(HostFiles, BadHostPathsAreRefused) {
  EXPECT_FALSE(WcExistFile(HostPath(1, "missing.zip").c_str()));
  EXPECT_EQ(WcGetLastError(), WC_ITEM_NOT_FOUND);
  EXPECT_EQ(WcCreateFile(HostPath(1, "missing.zip").c_str(), WC_GENERIC_READ,
                         WC_FILE_SHARE_READ, WC_OPEN_EXISTING),
            0);
  EXPECT_EQ(WcCreateFile(HostPath(2, "x.zip").c_str(), WC_GENERIC_WRITE, 0,
                         WC_CREATE_ALWAYS),
            0);
  EXPECT_EQ(WcGetLastError(), WC_INVALID_FILEAREA);
  for (const std::string& bad :
       {HostPath(1, ".."), HostPath(1, "a/b"), HostPath(1, ""),
        std::string("wc:\\file\\area(x)\\a.zip"), std::string("/tmp/a.zip")}) {
    EXPECT_EQ(WcCreateFile(bad.c_str(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS),
              0)
        << bad;
  }
  EXPECT_FALSE(qmtest::Exists(dir / "a.zip"));
}

TEST_F(HostFiles, AnUnfinishedWriteNeverDamagesTheTarget) {
  std::string area = qm::host::AreaDirectory(home, 1);
  WriteFile(Stored(1, "x.zip"), "old");
  uint32_t done = 0;
  WcHandle out = WcCreateFile(HostPath(1, "x.zip").c_str(), WC_GENERIC_WRITE, 0,
                              WC_CREATE_ALWAYS);
  ASSERT_GT(out, 0);
  ASSERT_TRUE(WcWriteFile(out, "partial", 7, done));
  ASSERT_TRUE(WcAbandonFile(out));
  EXPECT_FALSE(WcCloseHandle(out));  // already gone
  EXPECT_EQ(ReadFile(Stored(1, "x.zip")), "old");
  EXPECT_EQ(qmtest::ListDir(area), std::vector<std::string>{"x.zip"});

  // A write still open at logout is dropped too.
  out = WcCreateFile(HostPath(1, "x.zip").c_str(), WC_GENERIC_WRITE, 0,
                     WC_CREATE_ALWAYS);
  ASSERT_GT(out, 0);
  ASSERT_TRUE(WcWriteFile(out, "partial", 7, done));
  login.reset();
  EXPECT_EQ(ReadFile(Stored(1, "x.zip")), "old");
  EXPECT_EQ(qmtest::ListDir(area), std::vector<std::string>{"x.zip"});
}

TEST_F(HostFiles, WritingNeverMakesAMissingAreaDirectory) {
  // A share that is not mounted must not fill the local disk.
  std::string area = qm::host::AreaDirectory(home, 3);
  ASSERT_EQ(rmdir(area.c_str()), 0);
  EXPECT_EQ(WcCreateFile(HostPath(3, "new.zip").c_str(), WC_GENERIC_WRITE, 0,
                         WC_CREATE_ALWAYS),
            0);
  EXPECT_EQ(WcGetLastError(), WC_ACCESS_DENIED);
  EXPECT_FALSE(qmtest::Exists(area));

  // Asking first tells the same without writing: a name that could be
  // written is merely not there; one that could not is refused.
  qmtest::MakeDirs(Stored(1, "sub.zip"));
  const std::pair<std::string, uint32_t> rows[] = {
      {HostPath(1, "absent.zip"), WC_ITEM_NOT_FOUND},
      {HostPath(3, "new.zip"), WC_ACCESS_DENIED},
      {HostPath(1, "SUB.ZIP"), WC_ACCESS_DENIED}};
  for (const auto& [path, code] : rows) {
    EXPECT_FALSE(WcExistFile(path.c_str())) << path;
    EXPECT_EQ(WcGetLastError(), code) << path;
  }
  EXPECT_FALSE(qmtest::Exists(area));
}

TEST_F(HostAreas, AreasVolumesAndTheMakewildRecord) {
  std::string error;
  ASSERT_TRUE(qm::host::AddVolume(home, "CD1", dir / "cd/", true, error))
      << error;
  ASSERT_TRUE(qm::host::AddArea(home, 7, "On CD", "[cd1]\\games", error))
      << error;
  ASSERT_TRUE(qm::host::AddArea(home, 8, "Fixed", dir / "fixed", error));
  ASSERT_TRUE(qm::host::AddArea(home, 9, "Lost", "[NONE]\\x", error));
  // Places on another system resolve nowhere here, never under the cwd.
  ASSERT_TRUE(qm::host::AddArea(home, 10, "Drive", "D:\\WinApps", error));
  ASSERT_TRUE(qm::host::AddArea(home, 11, "Share", "\\\\srv\\x", error));
  EXPECT_FALSE(qm::host::AddArea(home, 7, "Again", "again", error));
  EXPECT_EQ(qm::host::AreaDirectory(home, 1), home + "/one");
  EXPECT_EQ(qm::host::AreaDirectory(home, 7), dir / "cd/games");
  EXPECT_EQ(qm::host::AreaDirectory(home, 8), dir / "fixed");
  EXPECT_EQ(qm::host::AreaDirectory(home, 9), "");
  EXPECT_EQ(qm::host::AreaDirectory(home, 2), "");
  EXPECT_EQ(qm::host::AreaDirectory(home, 10), "");
  EXPECT_EQ(qm::host::AreaDirectory(home, 11), "");

  EXPECT_EQ(GetFileAreaCount(), 12);  // highest number + 1, gaps included
  TFileArea area{};
  EXPECT_FALSE(MwGetFileAreas(2, 1, &area));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_FILEAREA);
  ASSERT_TRUE(MwGetFileAreas(7, 1, &area));
  EXPECT_STREQ(area.Name, "On CD");
  EXPECT_STREQ(area.Path, "[cd1]\\games");
  EXPECT_EQ(area.Number, 7);
  std::strcpy(area.Name, "Renamed");
  std::strcpy(area.Path, "elsewhere");
  ASSERT_TRUE(MwUpdateFileArea(7, area));
  ASSERT_TRUE(MwGetFileAreas(7, 1, &area));
  EXPECT_STREQ(area.Name, "Renamed");
  EXPECT_EQ(qm::host::AreaDirectory(home, 7), home + "/elsewhere");

  ASSERT_EQ(MwGetFileVolumeCount(), 1);
  TFileVolume volume{};
  ASSERT_TRUE(MwGetFileVolumes(0, 1, &volume));
  EXPECT_STREQ(volume.Name, "CD1");
  EXPECT_EQ(std::string(volume.Path), dir / "cd/");
  EXPECT_EQ(volume.Offline, 1);
  EXPECT_FALSE(MwGetFileVolumes(1, 1, &volume));

  TMakewild makewild{};
  ASSERT_TRUE(GetMakewild(makewild));
  EXPECT_STREQ(makewild.SystemName, "Test BBS");
  EXPECT_STREQ(makewild.SysopName, "Test Sysop");
}

class HostLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "home";
    qmtest::MakeHost(home, {{1, "One", "one"}}, "Secret");
  }
  qmtest::TempDir dir;
  std::string home;
};

TEST_F(HostLoginTest, PasswordAndOneUtilityAtATime) {
  TFileArea area{};
  EXPECT_FALSE(MwGetFileAreas(1, 1, &area));
  EXPECT_EQ(WcGetLastError(), WC_USER_NOT_LOGGED_IN);
  {
    qmtest::HostLogin wrong(home, "secret");
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(WcGetLastError(), WC_INCORRECT_PASSWORD);
  }
  qmtest::HostLogin first(home, "Secret");
  ASSERT_TRUE(first.ok);
  EXPECT_FALSE(MwLogin("Secret"));
  EXPECT_EQ(WcGetLastError(), WC_ALREADY_LOGGED_IN);
  EXPECT_TRUE(MwGetFileAreas(1, 1, &area));
  ASSERT_TRUE(LogoutUser());
  EXPECT_FALSE(MwGetFileAreas(1, 1, &area));
  EXPECT_TRUE(MwLogin("Secret"));  // the lock went with the logout
}

TEST_F(HostLoginTest, AnotherProcessHoldsTheHostUntilItEnds) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    qmtest::HostLogin holder(home, "Secret");
    char c = holder.ok ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(2);
    pause();  // until killed: a crashed holder
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  ASSERT_EQ(c, 'y');
  {
    qmtest::HostLogin second(home, "Secret");
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(WcGetLastError(), WC_ALREADY_LOGGED_IN);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  qmtest::HostLogin third(home, "Secret");
  EXPECT_TRUE(third.ok);
}

TEST_F(HostLoginTest, ConnectNeedsAReadableHostDatabase) {
  std::string db = home + "/wchost.db";
  std::string good = ReadFile(db);

  WriteFile(db, std::string(8192, 'x'));
  WcSetHostHome(home.c_str());
  EXPECT_FALSE(WildcatServerConnect(nullptr));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_CONNECTION_ID);
  EXPECT_EQ(ReadFile(db), std::string(8192, 'x'));

  // A database cut short: refused or failing calls, never a crash.
  WriteFile(db, good.substr(0, good.size() / 2));
  {
    qmtest::HostLogin cut(home, "Secret");
    if (cut.ok) {
      TFileArea area{};
      MwGetFileAreas(1, 1, &area);
      qmtest::AreaRecords(1);
    }
  }
  EXPECT_EQ(ReadFile(db), good.substr(0, good.size() / 2));

  // A SQLite file that is not a host.
  std::remove(db.c_str());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  sqlite3_exec(other, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_FALSE(WildcatServerConnect(nullptr));

  WcSetHostHome((dir / "nowhere").c_str());
  EXPECT_FALSE(WildcatServerConnect(nullptr));
  EXPECT_EQ(WcGetLastError(), WC_INVALID_CONNECTION_ID);
}

}  // namespace
