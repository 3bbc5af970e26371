#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <utility>

#include "actions/FileActions.h"
#include "actions/TextFit.h"
#include "config/AreaPaths.h"
#include "host/HostAdmin.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

using qmtest::ReadFile;

const uint64_t kMarch15 = qm::UnixToFileTime(1710504000);  // 2024-03-15

TFullFileRecord Record(const std::string& name, int32_t size,
                       const std::string& shortDesc,
                       const std::vector<std::string>& longLines = {}) {
  TFullFileRecord full{};
  std::strncpy(full.Info.Name, name.c_str(), sizeof full.Info.Name - 1);
  std::strncpy(full.Info.Description, shortDesc.c_str(),
               sizeof full.Info.Description - 1);
  full.Info.Size = size;
  full.Info.FileTime = kMarch15;
  full.Info.HasLongDescription = longLines.empty() ? 0 : 1;
  for (size_t i = 0; i < longLines.size(); ++i) {
    std::strncpy(full.LongDescription[i], longLines[i].c_str(),
                 sizeof full.LongDescription[i] - 1);
  }
  return full;
}

std::vector<std::string> Lines(const std::string& mode,
                               const TFullFileRecord& full) {
  return qm::ListingFileLines(mode, full.Info, &full);
}

const std::string kIndent(35, ' ');

TEST(ListingLayoutTest, HeaderFramesTheAreaName) {
  const auto header = qm::ListingHeader("Games");
  ASSERT_EQ(header.size(), 3u);
  EXPECT_EQ(header[0], "  " + std::string(75, '='));
  EXPECT_EQ(header[1], "          Games");
  EXPECT_EQ(header[2], header[0]);
}

TEST(ListingLayoutTest, SingleLineColumns) {
  const auto lines = Lines("Single", Record("DEMO.ZIP", 1234, "A demo"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "DEMO.ZIP       1234       03/15/24 A demo" + std::string(38, ' '));
  EXPECT_EQ(lines[0].size(), 79u);

  // Long names, sizes and descriptions are cut to their columns.
  const auto cut = Lines(
      "Single", Record("ABCDEFGHIJKLMNO", 2147483647, std::string(60, 'd')));
  EXPECT_EQ(cut[0],
            "ABCDEFGHIJKLMN 2147483647 03/15/24 " + std::string(44, 'd'));
}

TEST(ListingLayoutTest, FullCarriesTheCutTextIntoTheNextLine) {
  const std::string first = std::string(44, 'a') + std::string(16, 'b');
  const auto lines =
      Lines("Full", Record("X.ZIP", 1, "short", {first, "second line"}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "X.ZIP          1          03/15/24 " + std::string(44, 'a'));
  EXPECT_EQ(lines[1],
            kIndent + qm::FitText(std::string(16, 'b') + "second line", 44));
}

TEST(ListingLayoutTest, FullSkipsEmptyLinesOnceTheCarryIsUsed) {
  const auto lines = Lines(
      "Full", Record("X.ZIP", 1, "s", {"one", "", "", "four", "", "six"}));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], kIndent + qm::FitText("four", 44));
  EXPECT_EQ(lines[2], kIndent + qm::FitText("six", 44));

  // A carry grows while full lines follow and then fills empty lines.
  const auto carried =
      Lines("Full", Record("X.ZIP", 1, "s",
                           {std::string(44, 'a') + std::string(35, 'c'),
                            std::string(79, 'd'), "", ""}));
  ASSERT_EQ(carried.size(), 4u);
  EXPECT_EQ(carried[1], kIndent + std::string(35, 'c') + std::string(9, 'd'));
  EXPECT_EQ(carried[2], kIndent + std::string(44, 'd'));
  EXPECT_EQ(carried[3], kIndent + qm::FitText(std::string(26, 'd'), 44));
}

TEST(ListingLayoutTest, DoubleAlwaysWritesTwoLines) {
  const auto blank = Lines("Double", Record("X.ZIP", 1, "s", {"one", ""}));
  ASSERT_EQ(blank.size(), 2u);
  EXPECT_EQ(blank[1], std::string(79, ' '));

  const std::string first = std::string(50, 'a');
  const auto lines =
      Lines("Double", Record("X.ZIP", 1, "s", {first, "two", "three", "four"}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], kIndent + qm::FitText("aaaaaatwo", 44));

  // Any other mode text lays out as "Double".
  EXPECT_EQ(Lines("double", Record("X.ZIP", 1, "s", {"one", ""})).size(), 2u);
}

TEST(ListingLayoutTest, WithoutLongDescriptionEveryModeWritesTheShortLine) {
  const TFullFileRecord plain = Record("DEMO.ZIP", 5, "short text");
  const auto single = Lines("Single", plain);
  EXPECT_EQ(Lines("Double", plain), single);
  EXPECT_EQ(Lines("Full", plain), single);
  // A long description that could not be read counts as none.
  const TFullFileRecord rich = Record("DEMO.ZIP", 5, "short text", {"a", "b"});
  EXPECT_EQ(qm::ListingFileLines("Full", rich.Info, nullptr), single);
}

class ListActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "host";
    qmtest::MakeHost(
        home,
        {{1, "Games", "games"}, {2, "Docs", "docs"}, {12, "Empty", "empty"}});
    login = std::make_unique<qmtest::HostLogin>(home);
    ASSERT_TRUE(login->ok);
    run.state.configDir = qm::TrailingBackslash(dir.path());
    run.state.logBaseName = dir / "run.cfg";
    qmtest::MakeDirs(listDir);
  }

  std::string Expected(const std::string& area,
                       const std::vector<std::string>& fileLines) {
    std::string text;
    for (const auto& line : qm::ListingHeader(area)) text += line + "\r\n";
    for (const auto& line : fileLines) text += line + "\r\n";
    return text;
  }

  // The listing lines of an area's records in key order.
  std::vector<std::string> RecordLines(int32_t area, const std::string& mode,
                                       const std::vector<std::string>& names) {
    std::vector<std::string> lines;
    for (const TFullFileRecord& full : qmtest::AreaRecords(area)) {
      for (const auto& name : names) {
        if (name == full.Info.Name) {
          for (const auto& line : Lines(mode, full)) lines.push_back(line);
        }
      }
    }
    return lines;
  }

  std::string LogText() {
    const std::string log = qm::LogFileName(run.state.logBaseName);
    return qmtest::Exists(log) ? ReadFile(log) : "";
  }

  qmtest::TempDir dir;
  std::string home;
  std::string listDir = dir / "lists";
  qmtest::TestRun run{dir.path()};
  std::unique_ptr<qmtest::HostLogin> login;
};

TEST_F(ListActionTest, PerAreaListingReplacesItsFile) {
  ASSERT_TRUE(qmtest::AddRecord(1, "README", {"Read me first"}));
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo", "Demo program", "v2"}));
  ASSERT_TRUE(qmtest::AddRecord(2, "OTHER.TXT", {"Elsewhere"}));
  qmtest::WriteFile(listDir + "/Files.BBS", "old listing");

  qm::ListAction(run.ctx, 1, "Double", "*.*", "Per File Area",
                 "C:\\somewhere\\Files.BBS", listDir);

  EXPECT_EQ(
      ReadFile(listDir + "/Files.BBS"),
      Expected("Games", RecordLines(1, "Double", {"DEMO.ZIP", "README"})));
  EXPECT_EQ(qmtest::ListDir(listDir), std::vector<std::string>{"Files.BBS"});
  EXPECT_EQ(LogText(), "");
}

TEST_F(ListActionTest, EveryModeTheToolOffersHasItsOwnWriter) {
  // A mode without a writer would quietly write what "Double" writes.
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo", "one", "two", "3"}));
  const auto setup = qm::SetupForAction("List");
  ASSERT_TRUE(setup.has_value());
  std::map<std::string, std::string> written;
  for (const std::string& mode : setup->params) {
    qm::ListAction(run.ctx, 1, mode, "*.*", "Per File Area", mode + ".txt",
                   listDir);
    written[mode] = ReadFile(listDir + "/" + mode + ".txt");
  }
  ASSERT_EQ(written.count("Double"), 1u);
  for (const auto& [mode, text] : written) {
    if (mode != "Double") {
      EXPECT_NE(text, written["Double"]) << mode;
    }
  }
}

TEST_F(ListActionTest, SpecSelectsWhatIsListed) {
  ASSERT_TRUE(qmtest::AddRecord(1, "README", {"Read me"}));
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  ASSERT_TRUE(qmtest::AddRecord(1, "BIGDEMO.ZIP", {"Big demo"}));

  qm::ListAction(run.ctx, 1, "Single", "*", "Per File Area", "star.txt",
                 listDir);
  EXPECT_EQ(ReadFile(listDir + "/star.txt"), Expected("Games", {}));

  qm::ListAction(run.ctx, 1, "Single", "demo.zip", "Per File Area", "exact.txt",
                 listDir);
  EXPECT_EQ(ReadFile(listDir + "/exact.txt"),
            Expected("Games", RecordLines(1, "Single", {"DEMO.ZIP"})));

  qm::ListAction(run.ctx, 1, "Single", "*DEMO*", "Per File Area", "sub.txt",
                 listDir);
  EXPECT_EQ(
      ReadFile(listDir + "/sub.txt"),
      Expected("Games", RecordLines(1, "Single", {"BIGDEMO.ZIP", "DEMO.ZIP"})));

  qm::ListAction(run.ctx, 12, "Full", "*.*", "Per File Area", "empty.txt",
                 listDir);
  EXPECT_EQ(ReadFile(listDir + "/empty.txt"), Expected("Empty", {}));
}

TEST_F(ListActionTest, AllFilesListsCollectTheAreasOfOneRunAndNeverGrow) {
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  ASSERT_TRUE(qmtest::AddRecord(2, "MANUAL.TXT", {"Manual", "Long", "text"}));
  qmtest::WriteFile(dir / "ALLFILES.TXT", "from an earlier run");
  qmtest::WriteFile(dir / "docs.txt", "from an earlier run");
  const std::string first =
      Expected("Games", RecordLines(1, "Single", {"DEMO.ZIP"}));
  const std::string second =
      Expected("Docs", RecordLines(2, "Full", {"MANUAL.TXT"}));
  const std::string docs =
      Expected("Docs", RecordLines(2, "Single", {"MANUAL.TXT"}));

  for (int runs = 1; runs <= 3; ++runs) {
    qm::AllFilesListed(run.state).clear();  // as every run starts
    // A relative name lies beside the configuration file.
    qm::ListAction(run.ctx, 1, "Single", "*.*", "All Files List",
                   "ALLFILES.TXT", listDir);
    qm::ListAction(run.ctx, 2, "Single", "*.*", "All Files List", "docs.txt",
                   listDir);
    qm::ListAction(run.ctx, 2, "Full", "*.*", "All Files List", "allfiles.txt",
                   listDir);
    EXPECT_EQ(ReadFile(dir / "ALLFILES.TXT"), first + " \r\n" + second) << runs;
    EXPECT_EQ(ReadFile(dir / "docs.txt"), docs) << runs;
  }
  EXPECT_FALSE(qmtest::Exists(dir / "allfiles.txt"));
  EXPECT_TRUE(qmtest::ListDir(listDir).empty());
}

TEST_F(ListActionTest, TestRunReportsAndWritesNothing) {
  ASSERT_TRUE(qmtest::AddRecord(12, "DEMO.ZIP", {"Demo"}));
  run.view.testRun = true;
  qm::ListAction(run.ctx, 12, "Full", "*.*", "Per File Area", "Files.BBS",
                 listDir);
  qm::ListAction(run.ctx, 12, "Single", "*.*", "All Files List", "all.txt",
                 listDir);
  qm::ListAction(run.ctx, 99, "Single", "*.*", "Per File Area", "Files.BBS",
                 listDir);  // no such area: not even a report
  EXPECT_EQ(run.view.testRunLines,
            (std::vector<std::string>{"Full File Listing for FA# 12",
                                      "Single File Listing for FA# 12"}));
  EXPECT_TRUE(qmtest::ListDir(listDir).empty());
  EXPECT_FALSE(qmtest::Exists(dir / "all.txt"));
  EXPECT_TRUE(qm::AllFilesListed(run.state).empty());
}

// A day count lists only the files whose time lies within that many days
// before the run's start, in the text and the web layouts alike.
TEST_F(ListActionTest, DaysNarrowEveryLayoutToRecentFiles) {
  const int64_t now = std::time(nullptr);
  const std::string store =
      qm::TrailingBackslash(qm::host::AreaDirectory(home, 1));
  for (const auto& [name, days] : {std::pair{"NEW.ZIP", 6}, {"OLD.ZIP", 8}}) {
    qmtest::WriteFile(store + name, name);
    qmtest::SetMTime(store + name, now - days * int64_t{86400});
    ASSERT_TRUE(qmtest::AddRecord(1, name, {"Desc"}));
  }
  ASSERT_TRUE(qm::FileTimeToLocalFileTime(qm::UnixToFileTime(now),
                                          run.state.runStarted));
  for (const std::string mode : {"Single", "Full", "HTML", "JSON"}) {
    qm::ListAction(run.ctx, 1, mode, "*.*", "Per File Area", "week", listDir,
                   7);
    qm::ListAction(run.ctx, 1, mode, "*.*", "Per File Area", "all", listDir);
    const std::string week = ReadFile(listDir + "/week");
    const std::string all = ReadFile(listDir + "/all");
    EXPECT_NE(week.find("NEW.ZIP"), std::string::npos) << mode;
    EXPECT_EQ(week.find("OLD.ZIP"), std::string::npos) << mode;
    EXPECT_NE(all.find("OLD.ZIP"), std::string::npos) << mode;
  }
  qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "nine", listDir,
                 9);
  EXPECT_EQ(
      ReadFile(listDir + "/nine"),
      Expected("Games", RecordLines(1, "Single", {"NEW.ZIP", "OLD.ZIP"})));

  for (int days : {-1, 36501})
    qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "bad", listDir,
                   days);
  EXPECT_FALSE(qmtest::Exists(listDir + "/bad"));
  EXPECT_EQ(qmtest::LogEntries(qm::LogFileName(run.state.logBaseName)),
            (std::vector<std::string>{"Bad number of days for FA# 1: -1",
                                      "Bad number of days for FA# 1: 36501"}));
  run.view.testRun = true;
  qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "t", listDir, 7);
  EXPECT_EQ(run.view.testRunLines,
            std::vector<std::string>{
                "Single File Listing for FA# 1 (added in the last 7 days)"});
}

TEST_F(ListActionTest, CancelKeepsTheLinesWrittenSoFar) {
  for (const char* name : {"A.ZIP", "B.ZIP", "C.ZIP", "D.ZIP"}) {
    ASSERT_TRUE(qmtest::AddRecord(1, name, {"x"}));
  }
  run.view.cancelAfterEvents = 2;  // two records, then a cancel
  qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "Files.BBS",
                 listDir);
  EXPECT_EQ(ReadFile(listDir + "/Files.BBS"),
            Expected("Games", RecordLines(1, "Single", {"A.ZIP", "B.ZIP"})));
  EXPECT_EQ(qmtest::ListDir(listDir), std::vector<std::string>{"Files.BBS"});
}

// A missing directory or a FIFO as the target fails that listing at once.
TEST_F(ListActionTest, UnwritableTargetIsLogged) {
  qmtest::Watchdog watchdog;
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  qmtest::MakeFifo(listDir + "/Files.BBS");
  qmtest::MakeFifo(dir / "all.txt");
  for (const std::string& target : {dir / "missing", listDir}) {
    qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "Files.BBS",
                   target);
  }
  for (const std::string& target : {dir / "missing/all.txt", dir / "all.txt"}) {
    qm::ListAction(run.ctx, 1, "Single", "*.*", "All Files List", target,
                   listDir);
  }
  const std::string failed = "IO Error during File List Creation.";
  EXPECT_EQ(qmtest::LogEntries(qm::LogFileName(run.state.logBaseName)),
            (std::vector<std::string>{failed, failed, failed, failed}));
  EXPECT_TRUE(qm::AllFilesListed(run.state).empty());
  EXPECT_EQ(qmtest::ListDir(listDir), std::vector<std::string>{"Files.BBS"});
}

// A listing per area without a Path would land in the process's directory.
TEST_F(ListActionTest, PerAreaListingWithoutPathIsRefused) {
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  qmtest::MakeDirs(dir / "cwd");
  const std::string started = std::filesystem::current_path();
  std::filesystem::current_path(dir / "cwd");
  qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "Files.BBS", "");
  run.view.testRun = true;
  qm::ListAction(run.ctx, 1, "Single", "*.*", "Per File Area", "Files.BBS", "");
  std::filesystem::current_path(started);
  EXPECT_TRUE(qmtest::ListDir(dir / "cwd").empty());
  const std::string refused = "No path set for FA# 1: entry skipped";
  EXPECT_EQ(qmtest::LogEntries(qm::LogFileName(run.state.logBaseName)),
            std::vector<std::string>{refused});
  EXPECT_EQ(run.view.testRunLines, std::vector<std::string>{"ERR: " + refused});
}

// A full disk (or a kill) part way through a listing leaves the last
// complete one, whether the listing is the area's or the run's shared one.
TEST_F(ListActionTest, FailedWriteKeepsThePreviousListing) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(qmtest::AddRecord(1, "FILE" + std::to_string(i) + ".ZIP",
                                  {"Description " + std::to_string(i)}));
  }
  ASSERT_TRUE(qmtest::AddRecord(2, "MANUAL.TXT", {"Manual"}));
  const std::string old(2000, 'o');
  const std::string shared = listDir + "/ALL.TXT";
  for (const std::string kind : {"Per File Area", "All Files List"}) {
    SCOPED_TRACE(kind);
    const std::string target =
        kind == "Per File Area" ? listDir + "/Files.BBS" : shared;
    qmtest::WriteFile(target, old);
    qm::AllFilesListed(run.state).clear();
    {
      qmtest::FileSizeLimit full(1000);
      qm::ListAction(run.ctx, 1, "Single", "*.*", kind, target, listDir);
    }
    EXPECT_EQ(ReadFile(target), old);
  }
  // The run's second entry fails: the first one's listing stays whole.
  qm::AllFilesListed(run.state).clear();
  qm::ListAction(run.ctx, 2, "Single", "*.*", "All Files List", shared,
                 listDir);
  const std::string first = ReadFile(shared);
  EXPECT_EQ(first, Expected("Docs", RecordLines(2, "Single", {"MANUAL.TXT"})));
  {
    qmtest::FileSizeLimit full(first.size() + 100);
    qm::ListAction(run.ctx, 1, "Single", "*.*", "All Files List", shared,
                   listDir);
  }
  EXPECT_EQ(ReadFile(shared), first);
  EXPECT_EQ(qmtest::ListDir(listDir),
            (std::vector<std::string>{"ALL.TXT", "Files.BBS"}));
  const std::string failed = "IO Error during File List Creation.";
  EXPECT_EQ(qmtest::LogEntries(qm::LogFileName(run.state.logBaseName)),
            (std::vector<std::string>{failed, failed, failed}));
}

}  // namespace
