#include "runner/CommandLine.h"

namespace qm {

namespace {

// "-" alone is a name; "-h", "--help" and the like are options.
bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

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
  if (first == "--help" || first == "-h") {
    line.mode = CommandLine::Mode::Help;
  } else if (first == "--version" || first == "-V") {
    line.mode = CommandLine::Mode::Version;
  } else if (first == "--test-run") {
    if (args.size() < 2 || IsOption(args[1]))
      return Refused("--test-run needs a file name");
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
  // "quillmar nightly.cfg --test-run" must not quietly run for real, nor
  // "quillmar a.cfg b.cfg" quietly leave b.cfg out.
  for (size_t i = used; i < args.size(); ++i) {
    if (!IsOption(args[i])) {
      return Refused(line.file.empty() ? "unexpected argument " + args[i]
                                       : "one FILE only, not also " + args[i] +
                                             " (a list file runs several)");
    }
    if (args[i] == "--help" || args[i] == "--version" || args[i] == "-h" ||
        args[i] == "-V" || args[i] == "--test-run" || args[i] == "--duplicates")
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
         "       quillmar -h | --help | -V | --version\n"
         "FILE is a configuration file or a list of them (a name holding "
         "\".qls\");\n"
         "a name without a directory is looked up in the state folder: the "
         "program's\n"
         "own folder, or the one its file quillmar.state names "
         "(/var/lib/quillmar\n"
         "when installed as a package).\n"
         "Exit codes:\n"
         "  0  carried out (problems found are in the run's .err log)\n"
         "  1  the ZIP library libdunzip.so is missing\n"
         "  2  could not start: the login failed (see Login.err), FILE is "
         "missing,\n"
         "     the command line is wrong, or quillmar.state is not "
         "root's alone\n"
         "  3  a run stopped on an error\n"
         "  4  the run was cancelled from its window (the summary says "
         "where)\n";
}

std::string VersionText() { return std::string("Quillmar ") + QM_VERSION; }

}  // namespace qm
