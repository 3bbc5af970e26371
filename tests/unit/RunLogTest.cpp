#include <gtest/gtest.h>

#include <regex>

#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(RunLogTest, LogFileNames) {
  EXPECT_EQ(qm::LogFileName("/srv/cfg/nightly.cfg"), "/srv/cfg/nightly.err");
  EXPECT_EQ(qm::LogFileName("/srv/cfg/a.b.cfg"), "/srv/cfg/a.err");
  EXPECT_EQ(qm::LogFileName("/srv/cfg/plain"), "/srv/cfg/plain.err");
  EXPECT_EQ(qm::LogFileName("/srv/q/Login.err"), "/srv/q/Login.err");
  EXPECT_EQ(qm::LogFileName("/srv/q/"), "/srv/q/.err");
  EXPECT_EQ(qm::LogFileName("C:\\cfg\\x.y.cfg"), "C:\\cfg\\x.err");
}

TEST(RunLogTest, FirstEntryStartsTheFileWithItsHeader) {
  qmtest::TempDir dir;
  qmtest::TestRun run(dir.path() + "/");
  run.state.logBaseName = dir / "nightly.x.cfg";
  const std::string log = dir / "nightly.err";

  qm::LogRunError(run.ctx, "first problem");
  const std::string once = qmtest::ReadFile(log);
  // The C locale's short date and long time.
  const std::regex pattern(
      "Created on: \\d\\d/\\d\\d/\\d\\d at \\d\\d:\\d\\d:\\d\\d\r\n"
      "\\*{79}\r\n"
      "first problem\r\n");
  EXPECT_TRUE(std::regex_match(once, pattern)) << once;

  qm::LogRunError(run.ctx, "second problem");
  EXPECT_EQ(qmtest::ReadFile(log), once + "second problem\r\n");
  EXPECT_TRUE(run.view.messages.empty());
  EXPECT_TRUE(run.view.testRunLines.empty());
}

// A full disk keeps no stump: the first entry kept comes with the header.
TEST(RunLogTest, LogOnAFullDiskGetsItsHeaderWithTheFirstEntryKept) {
  qmtest::TempDir dir;
  qmtest::TestRun run(dir.path() + "/");
  run.state.logBaseName = dir / "nightly.cfg";
  const std::string log = dir / "nightly.err";
  testing::internal::CaptureStderr();
  for (const uint64_t room : {uint64_t{0}, uint64_t{50}}) {
    qmtest::FileSizeLimit full(room);
    qm::LogRunError(run.ctx, "lost " + std::to_string(room));
  }
  EXPECT_EQ(qmtest::ReadFile(log), "");
  qm::LogRunError(run.ctx, "kept");
  const std::string kept = qmtest::ReadFile(log);
  EXPECT_EQ(kept.rfind("Created on: ", 0), 0u) << kept;
  EXPECT_EQ(qmtest::LogEntries(log), std::vector<std::string>{"kept"});
  {
    qmtest::FileSizeLimit full(kept.size() + 3);
    qm::LogRunError(run.ctx, "cut short");
  }
  qm::LogRunError(run.ctx, "next");
  EXPECT_EQ(qmtest::ReadFile(log), kept + "next\r\n");
  testing::internal::GetCapturedStderr();  // itself a file the limit cuts
  EXPECT_EQ(run.state.counts.unlogged, 3);
  EXPECT_EQ(run.state.counts.problems, 2);
}

TEST(RunLogTest, ExistingLogIsExtendedWithoutSecondHeader) {
  qmtest::TempDir dir;
  qmtest::TestRun run(dir.path() + "/");
  qmtest::WriteFile(dir / "plain.err", "earlier run\r\n");
  run.state.logBaseName = dir / "plain";
  qm::LogRunError(run.ctx, "today");
  EXPECT_EQ(qmtest::ReadFile(dir / "plain.err"), "earlier run\r\ntoday\r\n");
  // A log whose name differs only in letter case is the same log.
  qmtest::WriteFile(dir / "NIGHTLY.ERR", "old\r\n");
  run.state.logBaseName = dir / "nightly.cfg";
  qm::LogRunError(run.ctx, "new");
  EXPECT_EQ(qmtest::ReadFile(dir / "NIGHTLY.ERR"), "old\r\nnew\r\n");
  EXPECT_FALSE(qmtest::Exists(dir / "nightly.err"));
}

TEST(RunLogTest, TestRunWritesIntoTheOutputOnly) {
  qmtest::TempDir dir;
  qmtest::TestRun run(dir.path() + "/");
  run.view.testRun = true;
  run.state.logBaseName = dir / "nightly.cfg";
  qm::LogRunError(run.ctx, "would fail");
  EXPECT_EQ(run.view.testRunLines, std::vector<std::string>{"ERR: would fail"});
  EXPECT_FALSE(qmtest::Exists(dir / "nightly.err"));
}

// A name may hold any byte but must not break the log into lines.
TEST(RunLogTest, ControlCharactersAreWrittenEscaped) {
  qmtest::TempDir dir;
  qmtest::TestRun run(dir.path() + "/");
  run.state.logBaseName = dir / "nightly.cfg";
  const std::string name("a\nb\rc\x1b[2Jd\0e\x7f\x01\x1f\x80\xff^", 18);
  qm::LogRunError(run.ctx, "Could not add file: " + name);
  EXPECT_EQ(qmtest::LogEntries(dir / "nightly.err"),
            std::vector<std::string>{
                "Could not add file: a^Jb^Mc^[[2Jd^@e^?^A^_\x80\xff^"});
  run.view.testRun = true;
  qm::LogRunError(run.ctx, "x\r\ny");
  // A message of the program's own keeps its bytes in the log only: a line
  // of the test-run output stays one line.
  qm::LogRunMessage(run.ctx, "own\rtext");
  EXPECT_EQ(run.view.testRunLines,
            (std::vector<std::string>{"ERR: x^M^Jy", "ERR: own^Mtext"}));
}

// No one may create files in /proc: every entry fails on its own, the entry
// itself reaches standard error, and the caller goes on. A log that is a
// FIFO fails the same way instead of waiting for a reader.
TEST(RunLogTest, UnwritableLogGivesOneMessagePerEntry) {
  qmtest::Watchdog watchdog;
  qmtest::TempDir dir;
  qmtest::MakeFifo(dir / "piped.err");
  qmtest::TestRun run(dir.path() + "/");
  for (const std::string& base :
       {std::string("/proc/nightly.cfg"), dir / "piped.cfg"}) {
    SCOPED_TRACE(base);
    run.view.messages.clear();
    run.state.logBaseName = base;
    testing::internal::CaptureStderr();
    qm::LogRunError(run.ctx, "one");
    qm::LogRunError(run.ctx, "two\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "one\ntwo^J\n");
    EXPECT_EQ(run.view.messages,
              (std::vector<std::string>{"IO Error", "IO Error"}));
  }
  EXPECT_FALSE(qmtest::Exists("/proc/nightly.err"));
  // Counted as lost, not as logged, and each log once.
  EXPECT_EQ(run.state.counts.problems, 0);
  EXPECT_TRUE(run.state.counts.logs.empty());
  EXPECT_EQ(run.state.counts.unlogged, 4);
  EXPECT_EQ(run.state.counts.unwritableLogs,
            (std::vector<std::string>{"/proc/nightly.err", dir / "piped.err"}));
}

}  // namespace
