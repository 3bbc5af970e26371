#include "runner/CommandLine.h"

namespace qm {

namespace {

bool IsOption(const std::string& arg) { return arg.rfind("--", 0) == 0; }

CommandLine Refused(const std::string& problem) {
  CommandLine refused;
  refused.mode = CommandLine::Mode::Refused;
  refused.problem = "quillmar: " + problem + " (see quillmar --help)";
  return refused;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (args.empty()) return line;
  size_t used = 1;
  const std::string& first = args[0];
  if (first == "--help") {
    line.mode = CommandLine::Mode::Help;
  } else if (first == "--version") {
    line.mode = CommandLine::Mode::Version;
  } else if (first == "--test-run") {
    if (args.size() < 2) return Refused("--test-run needs a file name");
    line.mode = CommandLine::Mode::TestRun;
    line.file = args[1];
    used = 2;
  } else if (first == "--duplicates") {
    line.mode = CommandLine::Mode::Duplicates;
  } else if (IsOption(first)) {
    return Refused("unknown option " + first);
  } else {
    line.mode = CommandLine::Mode::Run;
    line.file = first;
  }
  // "quillmar nightly.cfg --test-run" must not quietly run for real.
  for (size_t i = used; i < args.size(); ++i) {
    if (!IsOption(args[i])) continue;
    if (args[i] == "--help" || args[i] == "--version" ||
        args[i] == "--test-run" || args[i] == "--duplicates")
      return Refused("option " + args[i] + " must come first");
    return Refused("unknown option " + args[i]);
  }
  return line;
}

std::string UsageText() {
  return "usage: quillmar                  open the main window\n"
         "       quillmar FILE             run FILE unattended, then end\n"
         "       quillmar --test-run FILE  print what running FILE would do; "
         "change nothing\n"
         "       quillmar --duplicates     print the groups of stored files "
         "with the same\n"
         "                                 content\n"
         "       quillmar --help | --version\n"
         "FILE is a configuration file or a list of them (a name holding "
         "\".qls\");\n"
         "a name without a directory is looked up in the program directory.\n"
         "Exit codes:\n"
         "  0  carried out (problems found are in the run's .err log)\n"
         "  1  the ZIP library libdunzip.so is missing\n"
         "  2  could not start: the login failed (see Login.err), FILE is "
         "missing,\n"
         "     or the command line is wrong\n"
         "  3  a run stopped on an error\n"
         "  4  the run was cancelled from its window (the summary says "
         "where)\n";
}

std::string VersionText() { return std::string("Quillmar ") + QM_VERSION; }

}  // namespace qm
