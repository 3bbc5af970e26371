#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "actions/FileActions.h"
#include "host/HostAdmin.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;
using qmtest::Exists;
using qmtest::ReadFile;

class MoveActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "host";
    qmtest::MakeHost(
        home,
        {{0, "Low", "low"}, {3, "Games", "games"}, {7, "Archive", "archive"}});
    login = std::make_unique<qmtest::HostLogin>(home);
    ASSERT_TRUE(login->ok);
    run.state.configDir = qm::TrailingBackslash(dir.path());
    run.state.logBaseName = dir / "run.cfg";
  }

  std::string Store(int32_t area) {
    return qm::TrailingBackslash(qm::host::AreaDirectory(home, area));
  }
  void AddFile(int32_t area, const std::string& name) {
    qmtest::WriteFile(Store(area) + name, "bytes of " + name);
    ASSERT_TRUE(qmtest::AddRecord(area, name, {"about " + name}));
  }
  void AddFiles() {
    for (const char* name : {"BIGDEMO.ZIP", "DEMO.ZIP", "NOTES.TXT", "README"})
      AddFile(3, name);
  }
  Names Records(int32_t area) {
    Names names;
    for (const auto& full : qmtest::AreaRecords(area))
      names.push_back(full.Info.Name);
    return names;
  }
  std::string LogText() {
    const std::string log = qm::LogFileName(run.state.logBaseName);
    return Exists(log) ? ReadFile(log) : "";
  }

  qmtest::TempDir dir;
  std::string home;
  qmtest::TestRun run{dir.path()};
  std::unique_ptr<qmtest::HostLogin> login;
};

TEST_F(MoveActionTest, FilesAndRecordsMoveTogether) {
  AddFiles();
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*.ZIP", "");
  EXPECT_EQ(Records(3), (Names{"NOTES.TXT", "README"}));
  EXPECT_EQ(Records(7), (Names{"BIGDEMO.ZIP", "DEMO.ZIP"}));
  EXPECT_EQ(ReadFile(Store(7) + "DEMO.ZIP"), "bytes of DEMO.ZIP");
  EXPECT_FALSE(Exists(Store(3) + "DEMO.ZIP"));
  EXPECT_TRUE(Exists(Store(3) + "README"));
  // The record keeps what it held.
  const auto moved = qmtest::AreaRecords(7);
  EXPECT_STREQ(moved[1].Info.Description, "about DEMO.ZIP");
  EXPECT_EQ(LogText(), "");
}

TEST_F(MoveActionTest, WalkNeitherSkipsNorRevisitsWhileMoving) {
  Names names;
  for (int i = 0; i < 25; ++i) {
    names.push_back("M" + std::to_string(100 + i) + ".DAT");
    AddFile(3, names.back());
  }
  // Into a later area and into an earlier one.
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*.*", "");
  EXPECT_TRUE(Records(3).empty());
  EXPECT_EQ(Records(7), names);
  qm::MoveAction(run.ctx, 7, 0, "Files and Records", "*.*", "");
  EXPECT_TRUE(Records(7).empty());
  EXPECT_EQ(Records(0), names);
  EXPECT_EQ(ReadFile(Store(0) + "M124.DAT"), "bytes of M124.DAT");
  EXPECT_EQ(LogText(), "");
}

TEST_F(MoveActionTest, JustCopyFilesCopiesBytesOnly) {
  AddFiles();
  qm::MoveAction(run.ctx, 3, 7, "Just Copy Files", "demo.zip", "");
  EXPECT_EQ(ReadFile(Store(7) + "DEMO.ZIP"), "bytes of DEMO.ZIP");
  EXPECT_EQ(ReadFile(Store(3) + "DEMO.ZIP"), "bytes of DEMO.ZIP");
  EXPECT_FALSE(Exists(Store(7) + "BIGDEMO.ZIP"));
  EXPECT_TRUE(Records(7).empty());
  EXPECT_EQ(Records(3).size(), 4u);
  EXPECT_EQ(run.view.progressCaptions, Names{"Copy file"});
  EXPECT_EQ(LogText(), "");
}

TEST_F(MoveActionTest, CopyNeverReplacesAFileWithItsOwnRecord) {
  AddFiles();
  AddFile(7, "DEMO.ZIP");
  qmtest::WriteFile(Store(7) + "DEMO.ZIP", "the target's own");
  qm::MoveAction(run.ctx, 3, 7, "Just Copy Files", "*.ZIP", "");
  EXPECT_EQ(ReadFile(Store(7) + "DEMO.ZIP"), "the target's own");
  EXPECT_EQ(ReadFile(Store(7) + "BIGDEMO.ZIP"), "bytes of BIGDEMO.ZIP");
  EXPECT_NE(LogText().find("\r\nCould not COPY file: DEMO.ZIP from FA# 3 to "
                           "7\r\n"),
            std::string::npos)
      << LogText();
}

TEST_F(MoveActionTest, FilesAndRecordsNeverReplaceOrMakeTargetStorage) {
  AddFiles();
  // An upload in the target's storage that no scan has recorded yet.
  qmtest::WriteFile(Store(7) + "demo.zip", "an upload");
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*.ZIP", "");
  EXPECT_EQ(Records(7), Names{"BIGDEMO.ZIP"});
  EXPECT_EQ(Records(3), (Names{"DEMO.ZIP", "NOTES.TXT", "README"}));
  EXPECT_EQ(ReadFile(Store(7) + "demo.zip"), "an upload");
  EXPECT_EQ(ReadFile(Store(3) + "DEMO.ZIP"), "bytes of DEMO.ZIP");
  // Storage that is not there (a share not mounted) is not made locally.
  ASSERT_EQ(rmdir(Store(0).c_str()), 0);
  qm::MoveAction(run.ctx, 3, 0, "Files and Records", "README", "");
  EXPECT_FALSE(Exists(Store(0)));
  EXPECT_EQ(ReadFile(Store(3) + "README"), "bytes of README");
  EXPECT_EQ(Records(3), (Names{"DEMO.ZIP", "NOTES.TXT", "README"}));
  EXPECT_NE(LogText().find("\r\nCould not MOVE file: DEMO.ZIP from FA# 3 to "
                           "7\r\nCould not MOVE file: README from FA# 3 to "
                           "0\r\n"),
            std::string::npos)
      << LogText();
}

TEST_F(MoveActionTest, FileListMovesNamedRecordsOnly) {
  AddFiles();
  qmtest::WriteFile(dir / "move.qls", "D:\\incoming\\BIGDEMO.ZIP\nreadme\n");
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", dir / "move.qls", "");
  EXPECT_EQ(Records(7), (Names{"BIGDEMO.ZIP", "README"}));
  EXPECT_EQ(Records(3), (Names{"DEMO.ZIP", "NOTES.TXT"}));

  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "gone.qls", "");
  EXPECT_NE(LogText().find("File List: gone.qls not found for FA# 3"),
            std::string::npos);
  EXPECT_EQ(Records(3).size(), 2u);
}

TEST_F(MoveActionTest, TestRunReportsAndChangesNothing) {
  AddFiles();
  run.view.testRun = true;
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "DEMO.ZIP", "");
  qm::MoveAction(run.ctx, 3, 7, "Just Copy Files", "*.TXT", "");
  qm::MoveAction(run.ctx, 3, 7, "Other", "*.*", "");
  qm::MoveAction(run.ctx, 3, 3, "Files and Records", "*.*", "");
  EXPECT_EQ(run.view.testRunLines,
            (Names{"Move Files and Records From FA# 3 to 7: DEMO.ZIP",
                   "Copy Files From FA# 3 to 7: NOTES.TXT"}));
  EXPECT_EQ(Records(3).size(), 4u);
  EXPECT_TRUE(Records(7).empty());
  EXPECT_TRUE(qmtest::ListDir(Store(7)).empty());
}

// A test run shows each refusal of the real run as its "ERR: " line, and
// its other lines are what the real run then does.
TEST_F(MoveActionTest, TestRunForeseesTheRealRun) {
  AddFiles();
  AddFile(7, "NOTES.TXT");                                // recorded there
  qmtest::WriteFile(Store(7) + "demo.zip", "an upload");  // stored there
  ASSERT_TRUE(qmtest::AddRecord(3, "GHOST.TXT"));         // not stored here
  ASSERT_EQ(rmdir(Store(0).c_str()), 0);                  // a share not mounted
  std::string error;
  ASSERT_TRUE(qm::host::AddArea(home, 8, "Twin", "games", error)) << error;
  const auto runAll = [this] {
    qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*.ZIP", "");
    qm::MoveAction(run.ctx, 3, 0, "Files and Records", "README", "");
    qm::MoveAction(run.ctx, 3, 9, "Files and Records", "README", "");
    qm::MoveAction(run.ctx, 3, 7, "Just Copy Files", "*.TXT", "");
    qm::MoveAction(run.ctx, 3, 0, "Just Copy Files", "README", "");
    // An area sharing the storage takes the file where it lies.
    qm::MoveAction(run.ctx, 3, 8, "Files and Records", "README", "");
  };
  run.view.testRun = true;
  runAll();
  EXPECT_EQ(Records(3).size(), 5u);
  EXPECT_EQ(LogText(), "");
  Names refusals, actions;
  for (const std::string& line : run.view.testRunLines) {
    if (line.starts_with("ERR: "))
      refusals.push_back(line.substr(5));
    else
      actions.push_back(line);
  }
  EXPECT_EQ(actions,
            (Names{"Move Files and Records From FA# 3 to 7: BIGDEMO.ZIP",
                   "Move Files and Records From FA# 3 to 8: README"}));
  EXPECT_EQ(refusals.size(), 6u);

  run.view.testRun = false;
  runAll();
  EXPECT_EQ(qmtest::LogEntries(qm::LogFileName(run.state.logBaseName)),
            refusals);
  EXPECT_EQ(Records(7), (Names{"BIGDEMO.ZIP", "NOTES.TXT"}));
  EXPECT_EQ(Records(8), Names{"README"});
  EXPECT_EQ(ReadFile(Store(8) + "README"), "bytes of README");
}

TEST_F(MoveActionTest, SameAreaOrUnknownModeDoesNothing) {
  AddFiles();
  run.state.cancelRequest = true;
  qm::MoveAction(run.ctx, 3, 3, "Files and Records", "*.*", "");
  EXPECT_TRUE(run.state.cancelRequest);  // not even the cancel is touched
  qm::MoveAction(run.ctx, 3, 7, "files and records", "*.*", "");
  EXPECT_FALSE(run.state.cancelRequest);
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*", "");
  EXPECT_EQ(Records(3).size(), 4u);
  EXPECT_TRUE(Records(7).empty());
  EXPECT_EQ(LogText(), "");
}

TEST_F(MoveActionTest, CancelKeepsMovesMadeSoFar) {
  AddFiles();
  run.view.cancelAfterEvents = 2;  // the check before the walk, one record
  qm::MoveAction(run.ctx, 3, 7, "Files and Records", "*.*", "");
  EXPECT_EQ(Records(7), Names{"BIGDEMO.ZIP"});
  EXPECT_EQ(Records(3), (Names{"DEMO.ZIP", "NOTES.TXT", "README"}));
}

}  // namespace
