#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "actions/FilesBbs.h"
#include "host/HostAdmin.h"
#include "platform/FileTime.h"
#include "run/DescriptionExtras.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

using qm::ParseListLine;

TEST(ParseListLineTest, ExampleTable) {
  struct Case {
    std::string line, name, description;
  };
  const std::vector<Case> cases = {
      {"GAME.ZIP  12345  01-01-98  A fine game  for two", "GAME.ZIP",
       "A fine game for two"},
      {"   | continued text", "", "continued text"},
      {"README  First line", "README", "First line"},
      {"FILE.TXT Note  on use", "FILE.TXT", "on use"},
      {"GAME.ZIP 12345 01-01-98 A game", "GAME.ZIP", "12345 01-01-98 A game"},
      // Names padded to 8.3 columns.
      {"ACTIONS .ASC  1  Action list", "ACTIONS.ASC", "Action list"},
      {"GO      .EXE Runs it", "GO.EXE", "Runs it"},
      {"A       .B", "A.B", ""},
      {"ACTIONS .ASCII text", "ACTIONS", ".ASCII text"},
      {"ACTIONS .A.C text", "ACTIONS", ".A.C text"},
      {"AB  CD  .TXT x", "AB", "CD  .TXT x"},
      {"A.B     .TXT x", "A.B", ".TXT x"},
      {"TOOLONGNAME .TXT x", "TOOLONGNAME", ".TXT x"},
  };
  for (const Case& c : cases) {
    qm::ListLine parsed = ParseListLine(c.line);
    EXPECT_EQ(parsed.fileName, c.name) << c.line;
    EXPECT_EQ(parsed.description, c.description) << c.line;
  }
  qm::ListLine columns = ParseListLine(cases[0].line);
  EXPECT_NE(columns.discarded.find("12345"), std::string::npos);
  EXPECT_NE(columns.discarded.find("01-01-98"), std::string::npos);
}

TEST(ParseListLineTest, LineKinds) {
  // No space: the whole line is the name.
  EXPECT_EQ(ParseListLine("ALONE.ZIP").fileName, "ALONE.ZIP");
  EXPECT_EQ(ParseListLine("ALONE.ZIP").description, "");
  EXPECT_EQ(ParseListLine("-----").fileName, "-----");
  EXPECT_EQ(ParseListLine("+PLUS more").fileName, "+PLUS");
  // Character 0 of a non-file line never belongs to the description.
  EXPECT_EQ(ParseListLine("*Title").description, "Title");
  EXPECT_EQ(ParseListLine(".hidden text").fileName, "");
  EXPECT_EQ(ParseListLine("\xC4\xC4 box").fileName, "");
  EXPECT_EQ(ParseListLine("").fileName, "");
  EXPECT_EQ(ParseListLine("").description, "");
  // Trailing control characters and blanks are trimmed.
  EXPECT_EQ(ParseListLine("NOTE.TXT  text\t \x01").description, "text");
  // Bars stay in column mode, not in plain mode.
  EXPECT_EQ(ParseListLine("NAME a | b").description, "a  b");
  EXPECT_EQ(ParseListLine("X.Z a | b").description, "a | b");
}

TEST(ParseListLineTest, NameCharacters) {
  std::string set;
  for (int c = 0; c < 256; ++c)
    if (qm::IsNameChar(static_cast<unsigned char>(c)))
      set += static_cast<char>(c);
  EXPECT_EQ(set,
            "!\"#$%&+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_"
            "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(set.size(), 71u);
}

// A host with area 1 whose storage is the listing's directory.
class FilesBbsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(tmp / "host", {{1, "Old Name", "files1"}});
    dir = qm::host::AreaDirectory(tmp / "host", 1);
    ASSERT_FALSE(dir.empty());
    if (dir.back() == '/') dir.pop_back();
    qmtest::MakeDirs(dir);
    login = std::make_unique<qmtest::HostLogin>(tmp / "host");
    ASSERT_TRUE(login->ok);
    run.state.logBaseName = tmp / "run.cfg";
  }

  void List(const std::string& bytes) {
    qmtest::WriteFile(dir + "/FILES.BBS", bytes);
  }
  void Read() { qm::ReadinFilesBBS(run.ctx, dir, "files.bbs", 1); }

  std::vector<std::string> Log() { return qmtest::LogEntries(tmp / "run.err"); }
  std::string NotAdded(const std::string& name) {
    return "Could not add file: " + name + " from path: " + dir +
           "/ to file area #1";
  }
  std::string AreaName() {
    TFileArea area{};
    EXPECT_TRUE(MwGetFileAreas(1, 1, &area));
    return area.Name;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& r : qmtest::AreaRecords(1)) names.push_back(r.Info.Name);
    return names;
  }

  qmtest::TempDir tmp;
  std::string dir;
  std::unique_ptr<qmtest::HostLogin> login;
  qmtest::TestRun run{tmp / "prog"};
};

TEST_F(FilesBbsTest, AddsEveryListedFileWithItsDescriptions) {
  qmtest::WriteFile(dir + "/ONE.ZIP", "one");
  qmtest::WriteFile(dir + "/TWO.ZIP", "two bytes");
  qmtest::WriteFile(dir + "/MANY.ZIP", "m");
  qmtest::WriteFile(dir + "/LONG.ZIP", "l");
  qmtest::SetMTime(dir + "/TWO.ZIP", 1000000000);
  std::string many = "MANY.ZIP  first\r\n";
  for (int i = 2; i <= 17; ++i) many += " | line " + std::to_string(i) + "\r\n";
  const std::string ninety(90, 'd');
  List(
      "ONE.ZIP  1  01-01-98  Only line\r\n"
      "\r\n"
      "TWO.ZIP first line\r\n"
      "   | second line\r\n" +
      many + "LONG.ZIP " + ninety + "\r\n |" + ninety + "\r\n");
  Read();
  EXPECT_EQ(Log(), std::vector<std::string>{});
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 4u);
  // Key order: LONG, MANY, ONE, TWO.
  const TFullFileRecord& lng = records[0];
  EXPECT_EQ(std::string(lng.Info.Description), std::string(75, 'd'));
  EXPECT_EQ(lng.Info.HasLongDescription, 1);
  EXPECT_EQ(std::string(lng.LongDescription[0]), std::string(79, 'd'));
  EXPECT_EQ(std::string(lng.LongDescription[1]), std::string(79, 'd'));

  const TFullFileRecord& mny = records[1];
  EXPECT_EQ(mny.Info.HasLongDescription, 1);
  EXPECT_STREQ(mny.LongDescription[0], "first");
  EXPECT_STREQ(mny.LongDescription[14], "line 15");

  const TFullFileRecord& one = records[2];
  EXPECT_STREQ(one.Info.Name, "ONE.ZIP");
  EXPECT_STREQ(one.Info.Description, "Only line");
  EXPECT_EQ(one.Info.HasLongDescription, 0);
  EXPECT_STREQ(one.LongDescription[0], "");

  const TFullFileRecord& two = records[3];
  EXPECT_STREQ(two.Info.Description, "first line");
  EXPECT_EQ(two.Info.HasLongDescription, 1);
  EXPECT_STREQ(two.LongDescription[0], "first line");
  EXPECT_STREQ(two.LongDescription[1], "second line");
  EXPECT_STREQ(two.LongDescription[2], "");
  EXPECT_EQ(two.Info.Size, 9);
  uint64_t local = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(1000000000), local));
  EXPECT_EQ(uint64_t{two.Info.FileTime}, local);
}

TEST_F(FilesBbsTest, ExistingNamesAreSkippedWithTheirContinuationLines) {
  ASSERT_TRUE(qmtest::AddRecord(1, "OLD.ZIP", {"kept"}));
  qmtest::WriteFile(dir + "/NEW.ZIP", "n");
  qmtest::WriteFile(dir + "/old.zip", "o");
  qmtest::WriteFile(dir + "/AGAIN.ZIP", "a");
  List(
      "NEW.ZIP new file\r\n"
      "old.zip replaced?\r\n"
      " | belongs to old\r\n"
      "AGAIN.ZIP first\r\n"
      "again.zip second time\r\n");
  Read();
  EXPECT_EQ(Log(), std::vector<std::string>{});
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_STREQ(records[0].Info.Name, "AGAIN.ZIP");
  EXPECT_STREQ(records[0].Info.Description, "first");
  EXPECT_STREQ(records[1].Info.Name, "NEW.ZIP");
  EXPECT_STREQ(records[1].Info.Description, "new file");
  EXPECT_EQ(records[1].Info.HasLongDescription, 0);
  EXPECT_STREQ(records[2].Info.Description, "kept");
}

TEST_F(FilesBbsTest, TitleLinesRenameTheArea) {
  List("\r\n   " + std::string(40, 'T') + "\r\n");
  Read();
  EXPECT_EQ(AreaName(), std::string(31, 'T'));

  List("\r\n\r\n\r\n   Too late\r\n");
  Read();
  EXPECT_EQ(AreaName(), std::string(31, 'T'));

  List("   First\r\n   Second\r\n   ==== not a title ====\r\n");
  Read();
  EXPECT_EQ(AreaName(), "Second");

  run.view.testRun = true;
  List("   Test title\r\n");
  Read();
  EXPECT_EQ(AreaName(), "Second");
}

TEST_F(FilesBbsTest, UnknownFilesAreLogged) {
  qmtest::WriteFile(dir + "/REAL.ZIP", "r");
  // A link in the area's folder is no file of it, whatever it points at.
  qmtest::WriteFile(tmp / "private.zip", "not for the public");
  ASSERT_EQ(symlink((tmp / "private.zip").c_str(), (dir + "/LINK.ZIP").c_str()),
            0);
  List("-----\r\nREAL.ZIP ok\r\nGONE.ZIP missing\r\nLINK.ZIP a link");
  Read();
  EXPECT_EQ(Log(),
            (std::vector<std::string>{NotAdded("-----"), NotAdded("GONE.ZIP"),
                                      NotAdded("LINK.ZIP")}));
  EXPECT_EQ(Names(), std::vector<std::string>{"REAL.ZIP"});
}

TEST_F(FilesBbsTest, MissingListIsLogged) {
  Read();
  qmtest::Watchdog watchdog;
  qmtest::MakeFifo(dir + "/FILES.BBS");
  Read();
  // No Path: the process's directory is not read instead.
  qm::ReadinFilesBBS(run.ctx, "", "FILES.BBS", 1);
  const std::string missing = "Could not Read files.BBS: " + dir + "/files.bbs";
  EXPECT_EQ(Log(),
            (std::vector<std::string>{missing, missing,
                                      "No path set for FA# 1: entry skipped"}));
}

TEST_F(FilesBbsTest, LineEndsAndControlZ) {
  for (const char* name : {"A.ZIP", "B.ZIP", "C.ZIP", "D.ZIP", "E.ZIP"})
    qmtest::WriteFile(dir + "/" + name, name);
  // LF alone, CR alone and CR LF all end a line; control-Z ends the list.
  List("A.ZIP a\nB.ZIP b\rC.ZIP c\r\n | c2\nD.ZIP d\x1A\r\nE.ZIP e\r\n");
  Read();
  EXPECT_EQ(Log(), std::vector<std::string>{});
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_STREQ(records[0].Info.Description, "a");
  EXPECT_STREQ(records[1].Info.Description, "b");
  EXPECT_STREQ(records[2].LongDescription[1], "c2");
  EXPECT_STREQ(records[3].Info.Name, "D.ZIP");
  EXPECT_STREQ(records[3].Info.Description, "d");
}

TEST_F(FilesBbsTest, RestOfALongLineIsSkipped) {
  qmtest::WriteFile(dir + "/A.ZIP", "a");
  qmtest::WriteFile(dir + "/B.ZIP", "b");
  // Past 260 characters comes what would look like a file line.
  List("A.ZIP " + std::string(254, 'x') + "NEXT.ZIP  more\r\nB.ZIP b\r\n");
  Read();
  EXPECT_EQ(Log(), std::vector<std::string>{});
  EXPECT_EQ(Names(), (std::vector<std::string>{"A.ZIP", "B.ZIP"}));
  EXPECT_EQ(std::string(qmtest::AreaRecords(1)[0].Info.Description),
            std::string(75, 'x'));
}

TEST_F(FilesBbsTest, UnsafeAndOverlongNamesAreRefused) {
  qmtest::MakeDirs(dir + "/sub");
  qmtest::WriteFile(dir + "/sub/IN.ZIP", "s");
  qmtest::WriteFile(dir + "/TAB\x01.ZIP", "t");
  qmtest::WriteFile(dir + "/ABCDEFGHIJ.ZIP", "14");
  qmtest::WriteFile(dir + "/ABCDEFGHIJK.ZIP", "15");
  List(
      "sub/IN.ZIP in a subdirectory\r\n"
      "TAB\x01.ZIP control\r\n"
      "ABCDEFGHIJK.ZIP fifteen\r\n"
      "ABCDEFGHIJ.ZIP fourteen\r\n");
  Read();
  EXPECT_EQ(Log(),
            (std::vector<std::string>{
                NotAdded("sub/IN.ZIP"), NotAdded("TAB^A.ZIP"),
                "ABCDEFGHIJK.ZIP filename too long. 14 or less chars only."}));
  EXPECT_EQ(Names(), std::vector<std::string>{"ABCDEFGHIJ.ZIP"});
}

TEST_F(FilesBbsTest, TestRunReportsAndChangesNothing) {
  ASSERT_TRUE(qmtest::AddRecord(1, "HAVE.ZIP"));
  qmtest::WriteFile(dir + "/HAVE.ZIP", "h");
  qmtest::WriteFile(dir + "/NEW.ZIP", "n");
  const std::string big = dir + "/BIG.ZIP";
  qmtest::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 0x80000000LL), 0);  // sparse
  List(
      "   New title\r\nHAVE.ZIP x\r\nnew.zip y\r\nNONE.ZIP z\r\n"
      "BIG.ZIP too large\r\n");
  run.view.testRun = true;
  Read();
  EXPECT_EQ(run.view.testRunLines,
            (std::vector<std::string>{
                "Add to FA# 1: new.zip from: " + dir + "/",
                "ERR: " + NotAdded("NONE.ZIP"),
                "ERR: File: " + big +
                    " is 2 GB or larger: too large for a file area record",
                "ERR: " + NotAdded("BIG.ZIP")}));
  EXPECT_EQ(Names(), std::vector<std::string>{"HAVE.ZIP"});
  EXPECT_EQ(AreaName(), "Old Name");
  EXPECT_FALSE(qmtest::Exists(tmp / "run.err"));
}

// With the layouts on: a test run shows each record it would make; a title
// line still renames the area; a list in no layout is read as it always
// was, a line of dashes included.
TEST_F(FilesBbsTest, ListsInALayoutAndListsInNone) {
  run.state.descriptionExtras.filesBbsDialects = qm::ListDialects::Auto;
  for (const char* name :
       {"A.ZIP", "B.ZIP", "C.ZIP", "D.ZIP", "README", "TWO.ZIP"}) {
    qmtest::WriteFile(dir + "/" + name, "x");
    qmtest::SetMTime(dir + "/" + name, 1000000000);
  }
  const std::string counter =
      " Games of 1994\r\n-----------------\r\n"
      "A.ZIP  [03] First line\r\n           | second line\r\n"
      "B.ZIP  [00] No description available.\r\nGONE.ZIP  [01] gone\r\n";
  const std::string sizeAndDate =
      "C.ZIP   1234  02-29-92  Leap day\r\nD.ZIP  99  13-01-92  No day\r\n";
  List(counter);
  run.view.testRun = true;
  Read();
  List(sizeAndDate);
  Read();
  const std::string from = " from: " + dir + "/";
  EXPECT_EQ(run.view.testRunLines,
            (std::vector<std::string>{
                "Layout of " + dir + "/files.bbs: counter",
                "Add to FA# 1: A.ZIP" + from, "  Description: First line",
                "  Description: second line", "Add to FA# 1: B.ZIP" + from,
                "ERR: " + NotAdded("GONE.ZIP"),
                "Layout of " + dir + "/files.bbs: size and date",
                "Add to FA# 1: C.ZIP" + from, "  Date: 1992-02-29",
                "  Description: Leap day", "Add to FA# 1: D.ZIP" + from,
                "  Description: No day"}));
  EXPECT_EQ(AreaName(), "Old Name");

  run.view.testRun = false;
  Read();
  List(counter);
  Read();
  EXPECT_EQ(AreaName(), "Games of 1994");
  List("README  First line\r\nTWO.ZIP first line\r\n   | second\r\n-----\r\n");
  Read();
  EXPECT_EQ(Names(), (std::vector<std::string>{"A.ZIP", "B.ZIP", "C.ZIP",
                                               "D.ZIP", "README", "TWO.ZIP"}));
  const auto records = qmtest::AreaRecords(1);
  EXPECT_STREQ(records[0].LongDescription[1], "second line");
  EXPECT_STREQ(records[1].Info.Description, "");
  EXPECT_EQ(qm::FileTimeToIsoText(records[2].Info.FileTime),
            "1992-02-29 00:00:00");
  uint64_t local = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(1000000000), local));
  EXPECT_EQ(uint64_t{records[3].Info.FileTime}, local);
  EXPECT_STREQ(records[4].Info.Description, "First line");
  EXPECT_EQ(records[4].Info.HasLongDescription, 0);
  EXPECT_STREQ(records[5].LongDescription[1], "second");
  EXPECT_EQ(Log(), (std::vector<std::string>{NotAdded("GONE.ZIP"),
                                             NotAdded("-----")}));
}

TEST_F(FilesBbsTest, CancelStopsBeforeTheNextFile) {
  for (const char* name : {"A.ZIP", "B.ZIP", "C.ZIP"})
    qmtest::WriteFile(dir + "/" + name, name);
  List("A.ZIP one\r\n | more\r\nB.ZIP two\r\nC.ZIP three\r\n");
  // One event per line (the empty area has no walk): the cancel comes as
  // C.ZIP's line is reached, before B.ZIP is added.
  run.view.cancelAfterEvents = 3;
  Read();
  EXPECT_EQ(Names(), std::vector<std::string>{"A.ZIP"});
  EXPECT_TRUE(run.state.cancelRequest);
}

}  // namespace
