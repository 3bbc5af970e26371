#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "config/AreaPaths.h"
#include "config/ConfigFile.h"
#include "tests/support/TestSupport.h"

namespace {

using qm::AreaConfigEntry;
using qm::ConfigRecord;
using qm::kConfigRecordSize;

using qmtest::AsUnprivileged;

AreaConfigEntry SampleEntry(int32_t area) {
  AreaConfigEntry e;
  e.AreaNum = area;
  e.AreaName = "Area " + std::to_string(area);
  e.FileAction = "Add";
  e.FileActionParam = "Scan For New";
  e.FileActionSpec = "*.*";
  e.DescAction = "Extract from ZIP";
  e.DescActionSpec = "file_id.diz";
  e.Path = "/srv/files/" + std::to_string(area);
  e.Volume = "NA";
  return e;
}

std::string Bytes(const ConfigRecord& r, int offset, int count) {
  return std::string(reinterpret_cast<const char*>(r.data()) + offset, count);
}

bool AllZero(const ConfigRecord& r, int offset, int count) {
  return Bytes(r, offset, count) == std::string(count, '\0');
}

int32_t IntAt(const ConfigRecord& r, int offset) {
  return int32_t(uint32_t(r[offset]) | uint32_t(r[offset + 1]) << 8 |
                 uint32_t(r[offset + 2]) << 16 | uint32_t(r[offset + 3]) << 24);
}

std::string RecordsOf(const std::vector<AreaConfigEntry>& entries) {
  std::string bytes;
  for (const auto& e : entries) {
    const ConfigRecord r = qm::EncodeEntry(e);
    bytes.append(reinterpret_cast<const char*>(r.data()), r.size());
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// The record layout.

TEST(ConfigRecordTest, FieldsLieAtTheirOffsetsAndTheRestIsZero) {
  AreaConfigEntry e = SampleEntry(-2);
  e.AreaName = std::string(32, 'N');  // a full 32 characters fit
  e.Volume = std::string(16, 'V');    // and a full 16 here
  e.Offline = true;
  const ConfigRecord r = qm::EncodeEntry(e);

  EXPECT_EQ(Bytes(r, 0, 16), std::string("[FileCHK]\r\0\0\0\0\0\0", 16));
  EXPECT_EQ(IntAt(r, 16), -2);
  EXPECT_EQ(Bytes(r, 20, 32), std::string(32, 'N'));
  EXPECT_TRUE(AllZero(r, 52, 4));
  EXPECT_EQ(Bytes(r, 56, 4), std::string("Add\0", 4));
  EXPECT_EQ(Bytes(r, 89, 13), std::string("Scan For New\0", 13));
  EXPECT_EQ(Bytes(r, 155, 4), std::string("*.*\0", 4));
  EXPECT_EQ(Bytes(r, 420, 17), std::string("Extract from ZIP\0", 17));
  EXPECT_EQ(Bytes(r, 519, 12), std::string("file_id.diz\0", 12));
  EXPECT_EQ(Bytes(r, 780, 15), std::string("/srv/files/-2\0", 15));
  EXPECT_EQ(Bytes(r, 1041, 16), std::string(16, 'V'));
  EXPECT_TRUE(AllZero(r, 1057, 3));
  EXPECT_EQ(IntAt(r, 1060), 1);
  // Reserved fields.
  EXPECT_TRUE(AllZero(r, 122, 33));
  EXPECT_TRUE(AllZero(r, 416, 4));
  EXPECT_TRUE(AllZero(r, 453, 66));

  const AreaConfigEntry back = qm::DecodeEntry(r);
  EXPECT_EQ(back.AreaNum, -2);
  EXPECT_EQ(back.AreaName, std::string(32, 'N'));
  EXPECT_EQ(back.FileAction, "Add");
  EXPECT_EQ(back.FileActionParam, "Scan For New");
  EXPECT_EQ(back.FileActionSpec, "*.*");
  EXPECT_EQ(back.DescAction, "Extract from ZIP");
  EXPECT_EQ(back.DescActionSpec, "file_id.diz");
  EXPECT_EQ(back.Path, "/srv/files/-2");
  EXPECT_EQ(back.Volume, std::string(16, 'V'));
  EXPECT_TRUE(back.Offline);
}

TEST(ConfigRecordTest, TextsAreCutToTheirFields) {
  AreaConfigEntry e = SampleEntry(1);
  e.AreaName = std::string(40, 'n');
  e.FileAction = std::string(40, 'a');
  e.FileActionParam = std::string(80, 'p');
  e.FileActionSpec = std::string(300, 's');
  e.DescAction = std::string(40, 'd');
  e.DescActionSpec = std::string(300, 'm');
  e.Path = std::string(300, 'x');
  e.Volume = std::string(20, 'v');
  const ConfigRecord r = qm::EncodeEntry(e);

  EXPECT_EQ(Bytes(r, 20, 33), std::string(32, 'n') + '\0');
  EXPECT_EQ(Bytes(r, 56, 33), std::string(32, 'a') + '\0');
  EXPECT_EQ(Bytes(r, 89, 66), std::string(65, 'p') + '\0');
  EXPECT_EQ(Bytes(r, 155, 261), std::string(260, 's') + '\0');
  EXPECT_EQ(Bytes(r, 420, 33), std::string(32, 'd') + '\0');
  EXPECT_EQ(Bytes(r, 519, 261), std::string(260, 'm') + '\0');
  EXPECT_EQ(Bytes(r, 780, 261), std::string(260, 'x') + '\0');
  EXPECT_EQ(Bytes(r, 1041, 17), std::string(16, 'v') + '\0');

  const AreaConfigEntry back = qm::DecodeEntry(r);
  EXPECT_EQ(back.FileAction, std::string(32, 'a'));
  EXPECT_EQ(back.FileActionParam, std::string(33, 'p'));
  EXPECT_EQ(back.Path, std::string(260, 'x'));
}

TEST(ConfigRecordTest, MoveParameterRunsOnAndIsReadBackAs33Characters) {
  const std::string name = "Nineteen Char Area_";  // 19 characters
  ASSERT_EQ(name.size(), 19u);
  AreaConfigEntry e = SampleEntry(4);
  e.FileAction = "Move";
  e.FileActionParam = qm::JoinMoveParam("Files and Records", "12:" + name);
  ASSERT_EQ(e.FileActionParam.size(), 45u);
  const ConfigRecord r = qm::EncodeEntry(e);

  EXPECT_EQ(Bytes(r, 89, 45), e.FileActionParam);
  EXPECT_EQ(r[134], 0);
  const AreaConfigEntry back = qm::DecodeEntry(r);
  EXPECT_EQ(back.FileActionParam, e.FileActionParam.substr(0, 33));

  const qm::MoveParam move = qm::SplitMoveParam(back.FileActionParam);
  EXPECT_TRUE(move.hasTarget);
  EXPECT_EQ(move.mode, "Files and Records");
  EXPECT_EQ(move.target.substr(0, move.target.find(':')), "12");
}

TEST(ConfigRecordTest, MoveTargetBeyondThe33rdCharacterLosesItsColon) {
  AreaConfigEntry e = SampleEntry(4);
  e.FileActionParam =
      qm::JoinMoveParam("Files and Records", "1234567890123:Far Away");
  const AreaConfigEntry back = qm::DecodeEntry(qm::EncodeEntry(e));
  const qm::MoveParam move = qm::SplitMoveParam(back.FileActionParam);
  EXPECT_TRUE(move.hasTarget);
  EXPECT_EQ(move.target, "1234567890");
  EXPECT_EQ(move.target.find(':'), std::string::npos);
}

TEST(ConfigRecordTest, MoveParameterWithoutSeparator) {
  const qm::MoveParam move = qm::SplitMoveParam("Files and Records");
  EXPECT_FALSE(move.hasTarget);
  EXPECT_EQ(move.mode, "Files and Records");
  EXPECT_EQ(move.target, "");
  // Only the first separator splits.
  const qm::MoveParam twice = qm::SplitMoveParam("a >to> 3:b >to> c");
  EXPECT_EQ(twice.mode, "a");
  EXPECT_EQ(twice.target, "3:b >to> c");
}

TEST(ConfigRecordTest, OfflineTextAndFlag) {
  EXPECT_TRUE(qm::OfflineFromText("yes"));
  EXPECT_TRUE(qm::OfflineFromText("Y"));
  EXPECT_FALSE(qm::OfflineFromText("No"));
  EXPECT_FALSE(qm::OfflineFromText("NA"));
  EXPECT_FALSE(qm::OfflineFromText(""));

  AreaConfigEntry e = SampleEntry(1);
  e.Offline = qm::OfflineFromText("yes");
  EXPECT_EQ(IntAt(qm::EncodeEntry(e), 1060), 1);
  e.Offline = qm::OfflineFromText("No");
  EXPECT_EQ(IntAt(qm::EncodeEntry(e), 1060), 0);

  // Only a positive number reads as offline.
  ConfigRecord r = qm::EncodeEntry(e);
  r[1060] = 5;
  EXPECT_TRUE(qm::DecodeEntry(r).Offline);
  std::memset(r.data() + 1060, 0xFF, 4);
  EXPECT_FALSE(qm::DecodeEntry(r).Offline);
}

TEST(ConfigRecordTest, DecodingTakesFieldsWithoutTerminatorAndIgnoresMarker) {
  ConfigRecord r{};
  std::memset(r.data() + 20, 'A', 36);    // name runs into the reserved word
  std::memset(r.data() + 1041, 'V', 19);  // volume runs into the padding
  const AreaConfigEntry e = qm::DecodeEntry(r);
  EXPECT_EQ(e.AreaName, std::string(32, 'A'));
  EXPECT_EQ(e.Volume, std::string(16, 'V'));
  EXPECT_EQ(e.FileAction, "");
}

TEST(ConfigRecordTest, LowerCaseActionIsStoredAsWritten) {
  AreaConfigEntry e = SampleEntry(1);
  e.FileAction = "add";
  EXPECT_EQ(qm::DecodeEntry(qm::EncodeEntry(e)).FileAction, "add");
}

TEST(ConfigRecordTest, KeyLinesAndLookup) {
  AreaConfigEntry e = SampleEntry(7);
  e.Path = "/x/a=b";
  const std::vector<std::string> lines = qm::EntryKeyLines(e);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "AreaNum=7", "AreaName=Area 7", "FileAction=Add",
                       "FileActionParam=Scan For New", "FileActionSpec=*.*",
                       "DescAction=Extract from ZIP",
                       "DescActionSpec=file_id.diz", "Path=/x/a=b"}));
  EXPECT_EQ(qm::KeyValue(lines, "areanum"), "7");
  EXPECT_EQ(qm::KeyValue(lines, "PATH"), "/x/a=b");
  EXPECT_EQ(qm::KeyValue(lines, "Volume"), "");

  // A List entry's day count: in the reserved bytes before DescAction, and
  // a ninth line.
  e.AddedWithinDays = 30;
  const ConfigRecord r = qm::EncodeEntry(e);
  EXPECT_EQ(IntAt(r, 416), 30);
  EXPECT_EQ(qm::DecodeEntry(r).AddedWithinDays, 30);
  EXPECT_EQ(qm::EntryKeyLines(e).back(), "AddedWithinDays=30");
}

// ---------------------------------------------------------------------------
// RecordFile.

TEST(RecordFileTest, OpenAppendReadAndCount) {
  qmtest::TempDir dir;
  const std::string name = dir / "a.cfg";
  const ConfigRecord one = qm::EncodeEntry(SampleEntry(1));
  const ConfigRecord two = qm::EncodeEntry(SampleEntry(2));
  {
    qm::RecordFile f;
    EXPECT_EQ(f.RecordCount(), 0);
    // Without the create flag a missing name is created empty.
    ASSERT_TRUE(f.Open(name, false));
    EXPECT_TRUE(qmtest::Exists(name));
    EXPECT_EQ(f.RecordCount(), 0);
    EXPECT_FALSE(f.Open(name, false));  // one file per instance
    EXPECT_EQ(f.Append(one.data()), 1);
    EXPECT_EQ(f.Append(two.data()), 2);
    ConfigRecord got{};
    EXPECT_TRUE(f.Read(2, got.data()));
    EXPECT_EQ(got, two);
    EXPECT_TRUE(f.Read(1, got.data()));
    EXPECT_EQ(got, one);
    EXPECT_FALSE(f.Read(3, got.data()));
    EXPECT_FALSE(f.Read(0, got.data()));
    EXPECT_TRUE(f.Close());
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(f.Append(one.data()), 0);  // not open

    // An existing file is opened as it is...
    ASSERT_TRUE(f.Open(name, false));
    EXPECT_EQ(f.RecordCount(), 2);
    EXPECT_TRUE(f.Close());
    // ...and the create flag starts it anew.
    ASSERT_TRUE(f.Open(name, true));
    EXPECT_EQ(f.RecordCount(), 0);
    EXPECT_EQ(f.Append(two.data()), 1);
  }  // the destructor closes
  EXPECT_EQ(qmtest::ReadFile(name), RecordsOf({SampleEntry(2)}));
}

TEST(RecordFileTest, TrailingPartialRecordIsIgnored) {
  qmtest::TempDir dir;
  const std::string name = dir / "b.cfg";
  qmtest::WriteFile(name, RecordsOf({SampleEntry(1), SampleEntry(2)}) +
                              std::string(100, 'z'));
  qm::RecordFile f;
  ASSERT_TRUE(f.OpenForReading(name));
  EXPECT_EQ(f.RecordCount(), 2);
  ConfigRecord r{};
  EXPECT_TRUE(f.Read(2, r.data()));
  EXPECT_EQ(qm::DecodeEntry(r).AreaNum, 2);
  EXPECT_FALSE(f.Read(3, r.data()));
}

TEST(RecordFileTest, OpenForReadingNeverCreatesAndNeedsNoWriteAccess) {
  qmtest::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  const std::string missing = dir / "missing.cfg";
  qm::RecordFile f;
  EXPECT_FALSE(f.OpenForReading(missing));
  EXPECT_FALSE(qmtest::Exists(missing));

  const std::string name = dir / "ro.cfg";
  qmtest::WriteFile(name, RecordsOf({SampleEntry(3)}));
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  AsUnprivileged nobody;
  EXPECT_FALSE(f.Open(name, false));  // read-write access is refused
  ASSERT_TRUE(f.OpenForReading(name));
  EXPECT_EQ(f.RecordCount(), 1);
  const ConfigRecord one = qm::EncodeEntry(SampleEntry(1));
  EXPECT_EQ(f.Append(one.data()), 0);
  EXPECT_EQ(f.RecordCount(), 1);
}

TEST(RecordFileTest, DirectoryIsNoRecordFile) {
  qmtest::TempDir dir;
  qm::RecordFile f;
  EXPECT_FALSE(f.OpenForReading(dir.path()));
  EXPECT_FALSE(f.Open(dir.path(), false));
}

// ---------------------------------------------------------------------------
// The marker test.

TEST(IsConfigFileTest, FirstLineMustBeTheMarker) {
  qmtest::TempDir dir;
  struct Case {
    std::string bytes;
    bool passes;
  };
  const std::vector<Case> cases = {
      {std::string("[FileCHK]\r\0rest", 15), true},
      {"[filechk]\r\n", true},
      {"[FileCHK]", true},              // the end of the file ends the line
      {"[FileCHK]\x1A garbage", true},  // so does the end-of-file mark
      {std::string("[FileCHK]\0\r", 11), false},
      {"[FileCHK]\n\r", false},  // a line feed does not end the line
      {"[FileCHK] \r", false},
      {" [FileCHK]\r", false},
      {"[FileCH", false},
      {"", false},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = dir / ("m" + std::to_string(i++) + ".cfg");
    qmtest::WriteFile(name, c.bytes);
    bool ioError = true;
    EXPECT_EQ(qm::IsConfigFile(name, &ioError), c.passes) << "case " << (i - 1);
    EXPECT_FALSE(ioError);
  }
}

TEST(IsConfigFileTest, UnreadableFileIsAnIoError) {
  qmtest::TempDir dir;
  bool ioError = false;
  EXPECT_FALSE(qm::IsConfigFile(dir / "none.cfg", &ioError));
  EXPECT_TRUE(ioError);
  ioError = false;
  EXPECT_FALSE(qm::IsConfigFile(dir.path(), &ioError));
  EXPECT_TRUE(ioError);
  EXPECT_FALSE(qmtest::Exists(dir / "none.cfg"));
}

// ---------------------------------------------------------------------------
// Saving.

TEST(WriteConfigFileTest, RecordsInOrder) {
  qmtest::TempDir dir;
  const std::string name = dir / "w.cfg";
  const std::vector<AreaConfigEntry> entries = {SampleEntry(5), SampleEntry(0),
                                                SampleEntry(9)};
  std::string message;
  ASSERT_TRUE(qm::WriteConfigFile(name, entries, message)) << message;
  EXPECT_EQ(qmtest::ReadFile(name), RecordsOf(entries));
  EXPECT_TRUE(qm::IsConfigFile(name));
  EXPECT_EQ(qmtest::ListDir(dir.path()), std::vector<std::string>{"w.cfg"});
}

TEST(WriteConfigFileTest, NoEntriesGiveAnEmptyFileThatIsNoConfigFile) {
  qmtest::TempDir dir;
  const std::string name = dir / "empty.cfg";
  qmtest::WriteFile(name, RecordsOf({SampleEntry(1)}));
  std::string message;
  ASSERT_TRUE(qm::WriteConfigFile(name, {}, message));
  EXPECT_EQ(qmtest::ReadFile(name), "");
  EXPECT_FALSE(qm::IsConfigFile(name));

  qm::RecordFile f;
  int handed = 0;
  const qm::ReadResult result = qm::ReadConfigFile(
      f, name, [&](const AreaConfigEntry&, int) { return ++handed, true; });
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.recordCount, 0);
  EXPECT_EQ(handed, 0);
}

TEST(WriteConfigFileTest, FileThatCannotBeCreated) {
  qmtest::TempDir dir;
  const std::string name = dir / "no/such/dir.cfg";
  std::string message;
  EXPECT_FALSE(qm::WriteConfigFile(name, {SampleEntry(1)}, message));
  EXPECT_EQ(message, "Could not save config file: " + name);
}

TEST(WriteConfigFileTest, WriteProtectedFileIsKept) {
  qmtest::TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string name = dir / "ro.cfg";
  const std::string old = RecordsOf({SampleEntry(1)});
  qmtest::WriteFile(name, old);
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  std::string message;
  {
    AsUnprivileged nobody;
    EXPECT_FALSE(qm::WriteConfigFile(name, {SampleEntry(2)}, message));
  }
  EXPECT_EQ(message, "Could not save config file: " + name);
  EXPECT_EQ(qmtest::ReadFile(name), old);
}

// A save that fails part way leaves the earlier file untouched.
TEST(WriteConfigFileTest, FailedRecordKeepsTheOldFile) {
  qmtest::TempDir dir;
  const std::string name = dir / "full.cfg";
  const std::string old = RecordsOf({SampleEntry(7)});
  qmtest::WriteFile(name, old);

  // A file size limit lets two records through, then the disk is "full".
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 2 * kConfigRecordSize + 500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string message;
  const bool saved_ok = qm::WriteConfigFile(
      name, {SampleEntry(1), SampleEntry(2), SampleEntry(3), SampleEntry(4)},
      message);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(message, "Error Adding record #2");
  EXPECT_EQ(qmtest::ReadFile(name), old);
  EXPECT_EQ(qmtest::ListDir(dir.path()), std::vector<std::string>{"full.cfg"});
}

// ---------------------------------------------------------------------------
// Reading against a host.

class ReadConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Area numbers start at 0 and have gaps.
    qmtest::MakeHost(
        home_.path(),
        {{0, "Zero", "zero"}, {3, "Three", "three"}, {7, "Seven", "seven"}});
    login_ = std::make_unique<qmtest::HostLogin>(home_.path());
    ASSERT_TRUE(login_->ok);
  }

  std::string WriteEntries(const std::vector<int32_t>& areas) {
    std::vector<AreaConfigEntry> entries;
    for (int32_t a : areas) entries.push_back(SampleEntry(a));
    const std::string name = dir_ / "run.cfg";
    qmtest::WriteFile(name, RecordsOf(entries));
    return name;
  }

  qmtest::TempDir home_, dir_;
  std::unique_ptr<qmtest::HostLogin> login_;
};

// Each record is checked against its own area number, not its position.
TEST_F(ReadConfigFileTest, SkipsRecordsWhoseAreaTheHostLacks) {
  const std::string name = WriteEntries({3, 5, 0, 7, 1});
  qm::RecordFile f;
  std::vector<std::pair<int32_t, int>> seen;
  const qm::ReadResult result =
      qm::ReadConfigFile(f, name, [&](const AreaConfigEntry& e, int k) {
        seen.emplace_back(e.AreaNum, k);
        EXPECT_EQ(e.AreaName, "Area " + std::to_string(e.AreaNum));
        return true;
      });
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.recordCount, 5);
  EXPECT_EQ(result.entriesRead, 3);
  EXPECT_EQ(seen,
            (std::vector<std::pair<int32_t, int>>{{3, 1}, {0, 3}, {7, 4}}));
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(ReadConfigFileTest, StopsWhenAskedAndAlwaysCloses) {
  const std::string name = WriteEntries({0, 3, 7});
  qm::RecordFile f;
  std::vector<int> before;
  int handed = 0;
  qm::ReadResult result = qm::ReadConfigFile(
      f, name, [&](const AreaConfigEntry&, int) { return ++handed, true; },
      [&](int k) {
        before.push_back(k);
        return k < 3;
      });
  EXPECT_EQ(before, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(handed, 2);
  EXPECT_FALSE(f.IsOpen());

  handed = 0;
  result = qm::ReadConfigFile(
      f, name, [&](const AreaConfigEntry&, int) { return ++handed < 1; });
  EXPECT_EQ(handed, 1);
  EXPECT_EQ(result.entriesRead, 1);
  EXPECT_FALSE(f.IsOpen());

  EXPECT_THROW(qm::ReadConfigFile(f, name,
                                  [](const AreaConfigEntry&, int) -> bool {
                                    throw std::runtime_error("boom");
                                  }),
               std::runtime_error);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(ReadConfigFileTest, ReadOnlyFileIsReadAndMissingFileNotCreated) {
  const std::string name = WriteEntries({7, 0});
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(name.c_str(), 0444), 0);
  qm::RecordFile f;
  std::vector<int32_t> seen;
  qm::ReadResult result;
  {
    AsUnprivileged nobody;
    result = qm::ReadConfigFile(f, name, [&](const AreaConfigEntry& e, int) {
      seen.push_back(e.AreaNum);
      return true;
    });
  }
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(seen, (std::vector<int32_t>{7, 0}));

  const std::string missing = dir_ / "missing.cfg";
  const qm::ReadResult none = qm::ReadConfigFile(
      f, missing, [](const AreaConfigEntry&, int) { return true; });
  EXPECT_FALSE(none.opened);
  EXPECT_FALSE(qmtest::Exists(missing));
}

TEST_F(ReadConfigFileTest, InstanceWithAnOpenFileReadsNothing) {
  const std::string name = WriteEntries({0});
  qm::RecordFile f;
  ASSERT_TRUE(f.OpenForReading(name));
  int handed = 0;
  const qm::ReadResult result = qm::ReadConfigFile(
      f, name, [&](const AreaConfigEntry&, int) { return ++handed, true; });
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(handed, 0);
}

}  // namespace
