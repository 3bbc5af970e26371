#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/CommandLine.h"

namespace {

using Mode = qm::CommandLine::Mode;

TEST(CommandLine, TakesOneModeAndOneFileAndRefusesTheRest) {
  struct Row {
    std::vector<std::string> args;
    Mode mode;
    std::string file;
    std::string problem;  // without the program's prefix and the hint
  };
  const std::vector<Row> rows = {
      {{}, Mode::Window, "", ""},
      {{"nightly.cfg"}, Mode::Run, "nightly.cfg", ""},
      {{"-"}, Mode::Run, "-", ""},  // "-" alone is a name
      {{"--test-run", "nightly.cfg"}, Mode::TestRun, "nightly.cfg", ""},
      {{"--duplicates"}, Mode::Duplicates, "", ""},
      {{"--help"}, Mode::Help, "", ""},
      {{"-h"}, Mode::Help, "", ""},
      {{"--version"}, Mode::Version, "", ""},
      {{"-V"}, Mode::Version, "", ""},
      {{"-x", "quiet.cfg"}, Mode::Refused, "", "unknown option -x"},
      {{"--dry-run", "quiet.cfg"},
       Mode::Refused,
       "",
       "unknown option --dry-run"},
      {{"quiet.cfg", "other.cfg"},
       Mode::Refused,
       "",
       "one FILE only, not also other.cfg (a list file runs several)"},
      {{"--test-run", "a.cfg", "b.cfg"},
       Mode::Refused,
       "",
       "one FILE only, not also b.cfg (a list file runs several)"},
      {{"--duplicates", "a.cfg"},
       Mode::Refused,
       "",
       "unexpected argument a.cfg"},
      {{"--test-run"}, Mode::Refused, "", "--test-run needs a file name"},
      {{"--test-run", "--help"},
       Mode::Refused,
       "",
       "--test-run needs a file name"},
      // A plain first argument never turns an option into a real run.
      {{"quiet.cfg", "--test-run"},
       Mode::Refused,
       "",
       "option --test-run must come first"},
      {{"quiet.cfg", "--duplicates"},
       Mode::Refused,
       "",
       "option --duplicates must come first"},
      {{"quiet.cfg", "-V"}, Mode::Refused, "", "option -V must come first"},
      {{"quiet.cfg", "--quiet"}, Mode::Refused, "", "unknown option --quiet"},
  };
  for (const Row& row : rows) {
    const std::string args = row.args.empty() ? "(none)" : row.args[0] + " ...";
    const qm::CommandLine line = qm::ParseCommandLine(row.args);
    EXPECT_EQ(line.mode, row.mode) << args;
    EXPECT_EQ(line.file, row.file) << args;
    EXPECT_EQ(line.problem, row.problem.empty() ? ""
                                                : "quillmar: " + row.problem +
                                                      " (see quillmar --help)")
        << args;
  }
}

TEST(CommandLine, UsageNamesEveryModeAndExitCode) {
  const std::string usage = qm::UsageText();
  EXPECT_EQ(usage.rfind("usage: quillmar ", 0), 0u) << usage;
  for (const char* part : {"quillmar FILE", "quillmar --test-run FILE",
                           "quillmar --duplicates", "  2  could not start",
                           "  3  a run stopped", "  4  the run was cancelled"})
    EXPECT_NE(usage.find(part), std::string::npos) << part << "\n" << usage;
}

}  // namespace
