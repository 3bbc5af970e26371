#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "actions/UploadScreen.h"
#include "platform/FaultInjection.h"
#include "run/RunCounts.h"
#include "run/UploadExtras.h"
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
                      "  *EICAR*) printf '%s: Eicar\\033 FOUND\\n' \"$1\"\n"
                      "           echo summary; exit 1 ;;\n"
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
  run.state.uploadExtras.uploadCheck = check + " %f";
  run.state.uploadExtras.uploadCheckSeconds = 1;
  qm::StartExtrasCounts(run.state);
  EXPECT_TRUE(Screen("GOOD.ZIP"));
  EXPECT_FALSE(Screen("BAD.ZIP"));
  EXPECT_FALSE(Screen("EICAR.COM"));
  EXPECT_FALSE(Screen("KILL.ZIP"));
  EXPECT_FALSE(Screen("SLOW.ZIP"));
  unsetenv("PIDS");
  const std::string up = tmp / "up/";
  EXPECT_EQ(Log(),
            (Lines{"Upload check refused: " + up + "BAD.ZIP (exit 1)",
                   "Upload check refused: " + up + "EICAR.COM (exit 1: " + up +
                       "EICAR.COM: Eicar^[ FOUND)",
                   "Upload check refused: " + up + "KILL.ZIP (signal 9)",
                   "Upload check refused: " + up +
                       "SLOW.ZIP (timed out after 1 s)"}));
  EXPECT_EQ(run.state.counts.uploadChecksRefused, 4);
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
    run.state.uploadExtras.uploadCheck = row.command;
    qm::StartExtrasCounts(run.state);
    EXPECT_FALSE(Screen("ONE.ZIP"));
    EXPECT_FALSE(Screen("TWO.ZIP"));
    EXPECT_EQ(Log(), Lines{row.line});
    EXPECT_EQ(run.state.counts.uploadChecksRefused, 2);
    EXPECT_EQ(qm::ExtrasSummary(run.state.counts),
              "; upload checks refused: 2");
  }
}

// A refused upload goes into the sysop's folder under a name not taken
// there, its content and time kept, also across file systems; a folder that
// is a link, or missing, is logged once and nothing moves; a test run only
// says where it would go.
TEST_F(UploadScreen, RefusedUploadsMoveIntoTheFolderReplacingNothing) {
  const std::string up = tmp / "up/";
  run.state.uploadExtras.uploadCheck = check + " %f";
  qm::StartExtrasCounts(run.state);
  const auto fresh = [&](const std::string& folder) {
    qm::EndUploadScreen(run.state);
    std::filesystem::remove(tmp / "run.err");
    run.state.uploadExtras.refusedFolder = folder;
  };

  qmtest::MakeDirs(tmp / "elsewhere");
  std::filesystem::create_directory_symlink(tmp / "elsewhere", tmp / "link");
  for (const std::string& folder : {tmp / "missing", tmp / "link"}) {
    fresh(folder);
    EXPECT_FALSE(Screen("BAD.ZIP"));
    EXPECT_FALSE(Screen("BAD2.ZIP"));
    const Lines log = Log();
    ASSERT_EQ(log.size(), 3u) << folder;
    EXPECT_EQ(
        log[1].rfind("Folder for refused uploads not usable: " + folder + "/ (",
                     0),
        0u)
        << log[1];
    EXPECT_TRUE(std::filesystem::exists(up + "BAD.ZIP"));
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp / "elsewhere"));

  const std::string refused = tmp / "refused/";
  qmtest::MakeDirs(refused);
  qmtest::WriteFile(refused + "BAD.ZIP", "the sysop's own");
  fresh("../refused");  // beside the state folder
  run.view.testRun = true;
  EXPECT_FALSE(Screen("BAD.ZIP"));
  EXPECT_EQ(run.view.testRunLines.back(),
            "Move refused upload to: " + tmp / "prog/../refused/BAD.ZIP.1");
  EXPECT_TRUE(std::filesystem::exists(up + "BAD.ZIP"));
  run.view.testRun = false;
  EXPECT_FALSE(Screen("BAD.ZIP"));
  EXPECT_FALSE(Screen("BAD.ZIP"));
  EXPECT_TRUE(Screen("GOOD.ZIP"));
  EXPECT_EQ(
      Log(),
      (Lines{"Upload check refused: " + up + "BAD.ZIP (exit 1)",
             "Refused upload moved to: " + tmp / "prog/../refused/BAD.ZIP.1",
             "Upload check refused: " + up + "BAD.ZIP (exit 1)",
             "Refused upload moved to: " + tmp / "prog/../refused/BAD.ZIP.2"}));
  EXPECT_EQ(qmtest::ReadFile(refused + "BAD.ZIP"), "the sysop's own");
  EXPECT_EQ(qmtest::ReadFile(refused + "BAD.ZIP.2"), "BAD.ZIP");
  EXPECT_FALSE(std::filesystem::exists(up + "BAD.ZIP"));
  EXPECT_TRUE(std::filesystem::exists(up + "GOOD.ZIP"));

  // tmpfs: another file system than the uploads'.
  qmtest::TempDir other("/dev/shm");
  fresh(other.path());
  qmtest::WriteFile(up + "BAD.ZIP", "BAD.ZIP");
  const auto time =
      std::filesystem::last_write_time(up + "BAD.ZIP") - std::chrono::hours(48);
  std::filesystem::last_write_time(up + "BAD.ZIP", time);
  EXPECT_FALSE(qm::ScreenUpload(run.ctx, "BAD.ZIP", up, up + "BAD.ZIP"));
  EXPECT_EQ(Log().back(), "Refused upload moved to: " + other / "BAD.ZIP");
  EXPECT_EQ(qmtest::ReadFile(other / "BAD.ZIP"), "BAD.ZIP");
  EXPECT_EQ(std::filesystem::last_write_time(other / "BAD.ZIP"), time);
  EXPECT_FALSE(std::filesystem::exists(up + "BAD.ZIP"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.path()),
                          std::filesystem::directory_iterator()),
            1);

  // An upload put in place of the one copied stays, and no copy of it.
  fresh(other.path());
  qmtest::WriteFile(up + "BAD3.ZIP", "BAD3.ZIP");
  qm::fault::WatchPoints([&](const char* point) {
    if (std::string(point) != "refused copy placed") return;
    std::filesystem::remove(up + "BAD3.ZIP");
    qmtest::WriteFile(up + "BAD3.ZIP", "another");
  });
  EXPECT_FALSE(qm::ScreenUpload(run.ctx, "BAD3.ZIP", up, up + "BAD3.ZIP"));
  qm::fault::WatchPoints({});
  EXPECT_EQ(Log().back(), "Refused upload not moved: " + up +
                              "BAD3.ZIP (Resource temporarily unavailable)");
  EXPECT_EQ(qmtest::ReadFile(up + "BAD3.ZIP"), "another");
  EXPECT_FALSE(std::filesystem::exists(other / "BAD3.ZIP"));
}

}  // namespace
