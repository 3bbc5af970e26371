#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/UploadScreen.h"
#include "run/Extras.h"
#include "run/RunCounts.h"
#include "tests/support/TestSupport.h"

namespace {

// Uploads wait in tmp/up; the log is tmp/run.err. The check refuses by
// the file's name and needs the path as one argument.
class UploadScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeDirs(tmp / "up");
    qmtest::MakeDirs(tmp / "prog");
    run.state.logBaseName = tmp / "run.cfg";
    check = tmp / "check.sh";
    qmtest::WriteFile(check,
                      "#!/bin/sh\n"
                      "[ $# -eq 1 ] && [ -f \"$1\" ] || exit 7\n"
                      "case \"$1\" in\n"
                      "  *BAD*) exit 1 ;;\n"
                      "  *KILL*) kill -9 $$ ;;\n"
                      "  *SLOW*) sleep 60 & echo $! > \"$PIDS\"\n"
                      "          echo $$ >> \"$PIDS\"; wait ;;\n"
                      "esac\n"
                      "exit 0\n");
    ASSERT_EQ(chmod(check.c_str(), 0755), 0);
  }
  void TearDown() override { qm::EndUploadScreen(run.state); }

  bool Screen(const std::string& name) {
    const std::string up = tmp / "up/";
    qmtest::WriteFile(up + name, name);
    return qm::ScreenUpload(run.ctx, name, up, up + name);
  }
  std::vector<std::string> Log() { return qmtest::LogEntries(tmp / "run.err"); }

  qmtest::TempDir tmp;
  std::string check;
  qmtest::TestRun run{tmp / "prog"};
};

using Lines = std::vector<std::string>;

// Only a check that exits 0 in time passes a file; one that runs out of
// time is stopped with all it started.
TEST_F(UploadScreen, OnlyACleanExitInTimePasses) {
  const std::string pids = tmp / "pids";
  setenv("PIDS", pids.c_str(), 1);
  run.state.extras.uploadCheck = check + " %f";
  run.state.extras.uploadCheckSeconds = 1;
  qm::StartExtrasCounts(run.state);
  EXPECT_TRUE(Screen("GOOD.ZIP"));
  EXPECT_FALSE(Screen("BAD.ZIP"));
  EXPECT_FALSE(Screen("KILL.ZIP"));
  EXPECT_FALSE(Screen("SLOW.ZIP"));
  unsetenv("PIDS");
  const std::string up = tmp / "up/";
  EXPECT_EQ(Log(), (Lines{"Upload check refused: " + up + "BAD.ZIP (exit 1)",
                          "Upload check refused: " + up + "KILL.ZIP (signal 9)",
                          "Upload check refused: " + up +
                              "SLOW.ZIP (timed out after 1 s)"}));
  EXPECT_EQ(run.state.counts.uploadChecksRefused, 3);
  const std::vector<int> started = qmtest::PidsIn(pids);
  ASSERT_EQ(started.size(), 2u);
  for (int pid : started) EXPECT_TRUE(qmtest::ProcessEnds(pid)) << pid;
}

// A check that cannot start, or is not given the file (it would check
// something else and pass everything), refuses every file and is logged
// once.
TEST_F(UploadScreen, CheckThatCannotStartRefusesEveryFileOnce) {
  const struct {
    std::string command, line;
  } rows[] = {
      {"/nonexistent/scan --quiet %f",
       "Upload check could not start: /nonexistent/scan --quiet %f"},
      {"true --quiet",
       "Upload check names no file (%f), every upload refused: true --quiet"},
  };
  for (const auto& row : rows) {
    qm::EndUploadScreen(run.state);
    std::filesystem::remove(tmp / "run.err");
    run.state.extras.uploadCheck = row.command;
    qm::StartExtrasCounts(run.state);
    EXPECT_FALSE(Screen("ONE.ZIP"));
    EXPECT_FALSE(Screen("TWO.ZIP"));
    EXPECT_EQ(Log(), Lines{row.line});
    EXPECT_EQ(run.state.counts.uploadChecksRefused, 2);
    EXPECT_EQ(qm::ExtrasSummary(run.state.counts),
              "; upload checks refused: 2");
  }
}

}  // namespace
