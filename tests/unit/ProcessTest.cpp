#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "tests/support/TestSupport.h"

namespace {

using qmtest::TempDir;

// How a command ends, and that nothing it started outlives it: what it
// left running when it ended, or all of it when its time ran out.
TEST(Process, CommandsEndWithEverythingTheyStarted) {
  TempDir dir;
  using Kind = qm::CommandOutcome::Kind;
  auto run = [](const std::string& script, int seconds = 20) {
    return qm::RunCommand({"/bin/sh", "-c", script}, seconds);
  };
  auto outcome = run("exit 3");
  EXPECT_EQ(outcome.kind, Kind::Exited);
  EXPECT_EQ(outcome.code, 3);
  outcome = run("kill -9 $$");
  EXPECT_EQ(outcome.kind, Kind::Signalled);
  EXPECT_EQ(outcome.code, 9);
  // A bare name is looked up in PATH; the caller is called back meanwhile.
  int waits = 0;
  outcome =
      qm::RunCommand({"sh", "-c", "sleep 0.5; exit 4"}, 20, [&] { ++waits; });
  EXPECT_EQ(outcome.kind, Kind::Exited);
  EXPECT_EQ(outcome.code, 4);
  EXPECT_GE(waits, 2);
  EXPECT_EQ(qm::RunCommand({dir / "missing"}, 5).kind, Kind::NotStarted);
  EXPECT_EQ(qm::RunCommand({"no-such-program-anywhere"}, 5).kind,
            Kind::NotStarted);

  const std::string left = dir / "left", stuck = dir / "stuck";
  outcome = run("sleep 60 & echo $! > " + left + "; exit 0");
  EXPECT_EQ(outcome.kind, Kind::Exited);
  outcome = run(
      "sleep 60 & echo $! > " + stuck + "; echo $$ >> " + stuck + "; wait", 1);
  EXPECT_EQ(outcome.kind, Kind::TimedOut);
  std::vector<int> pids = qmtest::PidsIn(left);
  for (int pid : qmtest::PidsIn(stuck)) pids.push_back(pid);
  ASSERT_EQ(pids.size(), 3u);
  for (int pid : pids) EXPECT_TRUE(qmtest::ProcessEnds(pid)) << pid;
}

TEST(Process, CommandWordsSplitAtBlanksOutsideQuotes) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {"scan %f", {"scan", "%f"}},
      {"  scan\t-q   %f ", {"scan", "-q", "%f"}},
      {"\"/opt/my scan/scan\" --file=\"%f\"",
       {"/opt/my scan/scan", "--file=%f"}},
      {"scan \"\"", {"scan", ""}},
      {"   ", {}},
  };
  for (const auto& [text, words] : rows)
    EXPECT_EQ(qm::SplitCommand(text), words) << text;
}

}  // namespace
