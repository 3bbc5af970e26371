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

// The first line that says something is kept, bounded, standard output's
// before standard error's; a command that writes without end is not held
// up by it, and its time limit still holds.
TEST(Process, FirstLineOfOutputIsKept) {
  using Kind = qm::CommandOutcome::Kind;
  const struct {
    std::string script;
    Kind kind;
    std::string line;
  } rows[] = {
      {"exit 1", Kind::Exited, ""},
      {"echo '/x/EICAR.COM: Eicar FOUND'; echo more; exit 1", Kind::Exited,
       "/x/EICAR.COM: Eicar FOUND"},
      {"echo; printf ' \\t\\r\\n'; printf '  a\\tb \\r\\n'", Kind::Exited,
       "a\tb"},
      {"echo warned >&2; echo found", Kind::Exited, "found"},
      {"echo only >&2; exit 2", Kind::Exited, "only"},
      {"printf 'last'", Kind::Exited, "last"},
      {"head -c 300 /dev/zero | tr '\\0' x", Kind::Exited,
       std::string(200, 'x')},
      {"echo first; head -c 3000000 /dev/zero; exit 5", Kind::Exited, "first"},
      {"echo first; while :; do echo more; done", Kind::TimedOut, "first"},
      {"echo found; kill -9 $$", Kind::Signalled, "found"},
  };
  for (const auto& row : rows) {
    const auto outcome = qm::RunCommand({"/bin/sh", "-c", row.script}, 2);
    EXPECT_EQ(outcome.kind, row.kind) << row.script;
    EXPECT_EQ(outcome.firstLine, row.line) << row.script;
  }
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
