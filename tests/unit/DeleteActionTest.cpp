#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>

#include "actions/FileActions.h"
#include "host/HostAdmin.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;

class DeleteActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "host";
    qmtest::MakeHost(home, {{1, "Games", "games"}, {2, "Docs", "docs"}});
    login = std::make_unique<qmtest::HostLogin>(home);
    ASSERT_TRUE(login->ok);
    run.state.configDir = qm::TrailingBackslash(dir.path());
    run.state.logBaseName = dir / "run.cfg";
    store = qm::TrailingBackslash(qm::host::AreaDirectory(home, 1));
    qmtest::MakeDirs(local);
  }

  // A record of area 1 with its stored file and a local copy.
  void AddFile(const std::string& name) {
    qmtest::WriteFile(store + name, "stored " + name);
    qmtest::WriteFile(local + "/" + name, "local " + name);
    ASSERT_TRUE(qmtest::AddRecord(1, name, {"about " + name}));
  }
  void AddFiles() {
    for (const char* name : {"BIGDEMO.ZIP", "DEMO.ZIP", "NOTES.TXT", "README"})
      AddFile(name);
  }

  Names Records(int32_t area = 1) {
    Names names;
    for (const auto& full : qmtest::AreaRecords(area))
      names.push_back(full.Info.Name);
    return names;
  }
  Names LogLines() {
    return qmtest::LogEntries(qm::LogFileName(run.state.logBaseName));
  }

  qmtest::TempDir dir;
  std::string home, store;
  std::string local = dir / "local";
  qmtest::TestRun run{dir.path()};
  std::unique_ptr<qmtest::HostLogin> login;
};

TEST_F(DeleteActionTest, DeleteAndRemoveTakesRecordsAndStoredFiles) {
  AddFiles();
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "*.ZIP", local);
  EXPECT_EQ(Records(), (Names{"NOTES.TXT", "README"}));
  EXPECT_FALSE(qmtest::Exists(store + "DEMO.ZIP"));
  EXPECT_FALSE(qmtest::Exists(store + "BIGDEMO.ZIP"));
  EXPECT_TRUE(qmtest::Exists(store + "README"));
  EXPECT_TRUE(qmtest::Exists(local + "/DEMO.ZIP"));  // not the local copy
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteActionTest, JustDeleteFilesKeepsRecords) {
  AddFiles();
  qm::DeleteAction(run.ctx, 1, "Just Delete Files", "*.*", local);
  // Names without a dot are left alone by "*.*".
  EXPECT_EQ(qmtest::ListDir(local), Names{"README"});
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_TRUE(qmtest::Exists(store + "DEMO.ZIP"));
}

TEST_F(DeleteActionTest, JustDeleteFilesFindsNamesInAnyCaseAndLogsMissing) {
  ASSERT_TRUE(qmtest::AddRecord(1, "LOWER.ZIP"));
  ASSERT_TRUE(qmtest::AddRecord(1, "GONE.ZIP"));
  qmtest::WriteFile(local + "/lower.zip", "x");
  qm::DeleteAction(run.ctx, 1, "Just Delete Files", "*.zip", local);
  EXPECT_TRUE(qmtest::ListDir(local).empty());
  EXPECT_EQ(LogLines(), Names{"Could not delete file: " + local + "/GONE.ZIP"});
}

TEST_F(DeleteActionTest, JustDeleteFilesWithoutPathDeletesNothing) {
  AddFiles();
  qm::DeleteAction(run.ctx, 1, "Just Delete Files", "DEMO.ZIP", "");
  EXPECT_EQ(qmtest::ListDir(local).size(), 4u);
  EXPECT_EQ(LogLines(),
            Names{"Could not delete file: DEMO.ZIP - no path set for FA# 1"});

  run.view.testRun = true;
  qm::DeleteAction(run.ctx, 1, "Just Delete Files", "DEMO.ZIP", "");
  EXPECT_EQ(run.view.testRunLines,
            Names{"ERR: Could not delete file: DEMO.ZIP - no path set for "
                  "FA# 1"});
}

TEST_F(DeleteActionTest, JustRemoveRecordsLeavesFiles) {
  AddFiles();
  // Without wildcards only the record of exactly that name goes.
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "demo.zip", local);
  EXPECT_EQ(Records(), (Names{"BIGDEMO.ZIP", "NOTES.TXT", "README"}));
  EXPECT_TRUE(qmtest::Exists(store + "DEMO.ZIP"));
  EXPECT_EQ(qmtest::ListDir(local).size(), 4u);
}

TEST_F(DeleteActionTest, FileListSelectsWholeNames) {
  AddFiles();
  qmtest::MakeDirs(dir / "lists");
  qmtest::WriteFile(dir / "lists/del.qls",
                    "C:\\upload\\BIGDEMO.ZIP\r\nreadme\r\nMISSING.TXT\r\n");
  // A relative list path lies beside the configuration file.
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "lists/del.qls", local);
  EXPECT_EQ(Records(), (Names{"DEMO.ZIP", "NOTES.TXT"}));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteActionTest, MissingFileListChangesNothing) {
  AddFiles();
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "list.qls", local);
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_EQ(LogLines(), Names{"File List: list.qls not found for FA# 1"});
}

TEST_F(DeleteActionTest, SpecsThatSelectNothing) {
  AddFiles();
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "*", local);
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "", local);
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "A?C.TXT", local);
  qm::DeleteAction(run.ctx, 1, "delete and remove", "*.*", local);  // mode 0
  qm::DeleteAction(run.ctx, 2, "Delete and Remove", "*.*", local);
  qm::DeleteAction(run.ctx, 7, "Delete and Remove", "*.*", local);  // no area
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteActionTest, TestRunReportsAndChangesNothing) {
  AddFiles();
  run.view.testRun = true;
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "*.ZIP", local);
  qm::DeleteAction(run.ctx, 1, "Just Delete Files", "NOTES.TXT", local);
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "readme", local);
  qm::DeleteAction(run.ctx, 1, "Nothing", "*.*", local);
  EXPECT_EQ(run.view.testRunLines,
            (Names{"Delete and Remove From FA# 1: BIGDEMO.ZIP",
                   "Delete and Remove From FA# 1: DEMO.ZIP",
                   "Delete File From FA# 1: NOTES.TXT",
                   "Remove Record From FA# 1: README"}));
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_EQ(qmtest::ListDir(local).size(), 4u);
  EXPECT_TRUE(qmtest::Exists(store + "DEMO.ZIP"));
}

TEST_F(DeleteActionTest, WalkVisitsEveryRecordOnceWhileRemoving) {
  Names expected;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "F" + std::to_string(100 + i) + ".ZIP";
    ASSERT_TRUE(qmtest::AddRecord(1, name));
    expected.push_back("Remove Record From FA# 1: " + name);
  }
  ASSERT_TRUE(qmtest::AddRecord(2, "KEEP.ZIP"));
  run.view.testRun = true;
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local);
  EXPECT_EQ(run.view.testRunLines, expected);

  run.view.testRun = false;
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local);
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(Records(2), Names{"KEEP.ZIP"});
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(DeleteActionTest, CancelStopsBeforeTheNextRecord) {
  AddFiles();
  run.state.cancelRequest = true;  // an old request is cleared at the start
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "README", local);
  EXPECT_FALSE(run.state.cancelRequest);
  EXPECT_EQ(Records().size(), 3u);

  // One event before the walk, then one per record: two records go.
  run.view.cancelAfterEvents = 3;
  run.view.eventsProcessed = 0;
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local);
  EXPECT_TRUE(run.state.cancelRequest);
  EXPECT_EQ(Records(), Names{"NOTES.TXT"});
}

// Clean-up by the description action: only records whose stored file is
// gone, or whose file time lies more than N days before the run began.
TEST_F(DeleteActionTest, CleanupNarrowsTheSelection) {
  const int64_t now = std::time(nullptr);
  const auto aged = [&](const std::string& name, int days) {
    qmtest::WriteFile(store + name, name);
    qmtest::SetMTime(store + name, now - days * int64_t{86400});
    ASSERT_TRUE(qmtest::AddRecord(1, name));
  };
  aged("NEW.ZIP", 28);
  aged("OLD.ZIP", 32);
  ASSERT_TRUE(qmtest::AddRecord(1, "GONE.ZIP"));  // no stored file
  ASSERT_TRUE(qm::FileTimeToLocalFileTime(qm::UnixToFileTime(now),
                                          run.state.runStarted));
  const Names all{"GONE.ZIP", "NEW.ZIP", "OLD.ZIP"};

  run.view.testRun = true;
  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "*.*", local,
                   "Only Missing Files", "NA");
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.ZIP", local,
                   "Only Older Than", " 30 ");
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "OLD.ZIP", local,
                   "Only Older Than", "33");
  // Any other description action keeps the specified selection.
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local,
                   "only missing files", "30");
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local,
                   "Only Older Than", "year");
  EXPECT_EQ(run.view.testRunLines,
            (Names{"Delete and Remove From FA# 1: GONE.ZIP",
                   "Remove Record From FA# 1: GONE.ZIP",
                   "Remove Record From FA# 1: OLD.ZIP",
                   "Remove Record From FA# 1: GONE.ZIP",
                   "Remove Record From FA# 1: NEW.ZIP",
                   "Remove Record From FA# 1: OLD.ZIP",
                   "ERR: Bad number of days for FA# 1: year"}));
  EXPECT_EQ(Records(), all);

  run.view.testRun = false;
  for (const char* days : {"0", "36501", "1e3", "-5", "", "NA", "99999999"})
    qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local,
                     "Only Older Than", days);
  EXPECT_EQ(Records(), all);
  EXPECT_EQ(LogLines(), (Names{"Bad number of days for FA# 1: 0",
                               "Bad number of days for FA# 1: 36501",
                               "Bad number of days for FA# 1: 1e3",
                               "Bad number of days for FA# 1: -5",
                               "Bad number of days for FA# 1: ",
                               "Bad number of days for FA# 1: NA",
                               "Bad number of days for FA# 1: 99999999"}));

  qm::DeleteAction(run.ctx, 1, "Delete and Remove", "*.*", local,
                   "Only Missing Files", "NA");
  EXPECT_EQ(Records(), (Names{"NEW.ZIP", "OLD.ZIP"}));
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local,
                   "Only Older Than", "30");
  EXPECT_EQ(Records(), Names{"NEW.ZIP"});
  EXPECT_TRUE(qmtest::Exists(store + "OLD.ZIP"));  // only the record went
  qm::DeleteAction(run.ctx, 1, "Just Remove Records", "*.*", local,
                   "Only Older Than", "36500");
  EXPECT_EQ(Records(), Names{"NEW.ZIP"});
  EXPECT_EQ(LogLines().size(), 7u);
}

// Storage that cannot show its files (a share not mounted, its mount point
// empty or gone; a disc the host has offline) must not make every record
// look orphaned, in a test run as in the run itself.
TEST_F(DeleteActionTest, StorageShowingNoFileRemovesNoRecord) {
  const auto missingOnly = [&](int32_t area, const std::string& mode) {
    qm::DeleteAction(run.ctx, area, mode, "*.*", local, "Only Missing Files",
                     "NA");
  };
  AddFiles();
  std::string error;
  const std::string disc = dir / "disc";
  qmtest::MakeDirs(disc + "/games");
  ASSERT_TRUE(qm::host::AddVolume(home, "CD", disc + "/", true, error));
  ASSERT_TRUE(qm::host::AddArea(home, 3, "Disc", "[CD]\\games", error));
  qmtest::WriteFile(disc + "/games/ON.ZIP", "on the disc");
  ASSERT_TRUE(qmtest::AddRecord(3, "ON.ZIP"));
  ASSERT_TRUE(qmtest::AddRecord(3, "OFF.ZIP"));

  const std::string storage = store.substr(0, store.size() - 1);
  std::filesystem::rename(storage, dir / "elsewhere");
  missingOnly(1, "Just Remove Records");
  std::filesystem::create_directory(storage);  // the empty mount point
  run.view.testRun = true;
  missingOnly(1, "Just Remove Records");
  missingOnly(2, "Just Remove Records");  // no records: nothing to say
  missingOnly(3, "Delete and Remove");
  // Deleting the files of records whose files are gone, refused once.
  missingOnly(1, "Just Delete Files");
  EXPECT_EQ(
      run.view.testRunLines,
      (Names{"ERR: No stored file of FA# 1 found (4 records): not "
             "cleaned up",
             "ERR: Volume CD is offline: FA# 3 not cleaned up",
             "ERR: Only Missing Files has no files to delete for FA# 1"}));
  run.view.testRun = false;
  missingOnly(1, "Just Remove Records");
  missingOnly(3, "Just Remove Records");
  missingOnly(1, "Just Delete Files");
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_EQ(Records(3), (Names{"OFF.ZIP", "ON.ZIP"}));
  EXPECT_EQ(qmtest::ListDir(local).size(), 4u);
  EXPECT_EQ(LogLines(),
            (Names{"Could not look for stored file: BIGDEMO.ZIP in FA# 1",
                   "No stored file of FA# 1 found (4 records): not cleaned up",
                   "Volume CD is offline: FA# 3 not cleaned up",
                   "Only Missing Files has no files to delete for FA# 1"}));
}

}  // namespace
