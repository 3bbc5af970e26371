// The program's command line: the main window, an unattended run of a file,
// an unattended test run of a file, the duplicates report, or the usage and
// version texts.
#pragma once

#include <string>
#include <vector>

namespace qm {

struct CommandLine {
  enum class Mode { Window, Run, TestRun, Duplicates, Help, Version, Refused };
  Mode mode = Mode::Window;
  std::string file;     // Run, TestRun: the file named
  std::string problem;  // Refused: one line saying why
};

// Reads the arguments after the program name. A plain first argument is a
// file to run, whatever else follows, unless an option comes after it.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();
std::string VersionText();

}  // namespace qm
