#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/e2e/E2eSupport.h"

using qmtest::ConfigEntry;
using qmtest::ProgramDirTest;

namespace {

class Startup : public ProgramDirTest {
 protected:
  std::string NaConfig() {
    std::string cfg = bin + "/quiet.cfg";
    WriteConfig(cfg,
                {ConfigEntry(1, "NA", "NA", "NA", "NA", "NA", home + "/a/")});
    return cfg;
  }
};

TEST_F(Startup, UnattendedRunLogsInRunsAndEndsOnItsOwn) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  NaConfig();
  auto result = Quillmar({"quiet.cfg"});  // found in the program directory
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(qmtest::Exists(bin + "/Login.err"));
  EXPECT_FALSE(qmtest::Exists(bin + "/quiet.err"));
}

TEST_F(Startup, WrongPasswordWritesLoginErrAndEnds) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}}, "secret");
  NaConfig();
  auto result = Quillmar({"quiet.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 2);
  // What cron mails: one line, the reason and where it was logged.
  EXPECT_EQ(result.err, "quillmar: could not log in to the host " + home +
                            "/: it has a wcConfig password, and an unattended "
                            "start logs in without one (WC_INCORRECT_PASSWORD)"
                            "; see " +
                            bin + "/Login.err\n");
  std::string log = qmtest::ReadFile(bin + "/Login.err");
  EXPECT_EQ(log.rfind("Created on: ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\n" + std::string(79, '*') + "\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("Failed to Login to Wildcat Server!\r\n"),
            std::string::npos)
      << log;
}

TEST_F(Startup, BusyHostWritesLoginErrAndEnds) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  NaConfig();
  qmtest::BackgroundProcess holder(
      {bin + "/wcserver", "hold", home, "--seconds", "60"});
  ASSERT_TRUE(holder.WaitForOutput("holding"));
  auto result = Quillmar({"quiet.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err, "quillmar: could not log in to the host " + home +
                            "/: another program holds it as its configuration "
                            "utility (WC_ALREADY_LOGGED_IN); see " +
                            bin + "/Login.err\n");
  EXPECT_NE(qmtest::ReadFile(bin + "/Login.err")
                .find("Failed to Login to Wildcat Server!"),
            std::string::npos);
}

TEST_F(Startup, MissingHostWritesLoginErrAndEnds) {
  NaConfig();
  auto result = Quillmar({"quiet.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(
      qmtest::ReadFile(bin + "/Login.err").find("Server Context Not Created."),
      std::string::npos);
}

TEST_F(Startup, HostOnAFullDiskWritesLoginErrAndEnds) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  NaConfig();
  qmtest::ProcessResult result;
  {
    // The program inherits a disk with room for a few small files only.
    qmtest::FileSizeLimit full(8192);
    result = Quillmar({"quiet.cfg"});
  }
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_NE(result.err.find("its database cannot be written (permissions, or "
                            "a full or read-only disk) (WC_ACCESS_DENIED)"),
            std::string::npos)
      << result.err;
  EXPECT_NE(qmtest::ReadFile(bin + "/Login.err")
                .find("The host database cannot be written.\r\n"),
            std::string::npos);
  EXPECT_FALSE(qmtest::Exists(bin + "/quiet.err"));
}

// Each failed login appends its line to Login.err; a test run that cannot
// log in says so too, and names a Login.err it could not write.
TEST_F(Startup, SecondFailedLoginAppendsOneLine) {
  NaConfig();
  auto first = Quillmar({"quiet.cfg"});
  EXPECT_EQ(first.exitCode, 2);
  std::string once = qmtest::ReadFile(bin + "/Login.err");
  // A log that cannot be written is named as such.
  const std::string log = bin + "/Login.err";
  ASSERT_EQ(rename(log.c_str(), (log + ".kept").c_str()), 0);
  qmtest::MakeFifo(log);
  auto unwritten = Quillmar({"--test-run", "quiet.cfg"});
  EXPECT_EQ(unwritten.exitCode, 2);
  EXPECT_NE(
      unwritten.err.find("quillmar: could not log in to the host " + home +
                         "/: no host database is there (wcsrv.ini"
                         " names the host's home) "
                         "(WC_INVALID_CONNECTION_ID); " +
                         bin + "/Login.err could not be written\n"),
      std::string::npos)
      << unwritten.err;
  ASSERT_EQ(unlink(log.c_str()), 0);
  ASSERT_EQ(rename((log + ".kept").c_str(), log.c_str()), 0);
  auto second = Quillmar({"quiet.cfg"});
  EXPECT_EQ(second.exitCode, 2);
  EXPECT_EQ(second.err, "quillmar: could not log in to the host " + home +
                            "/: no host database is there (wcsrv.ini names "
                            "the host's home) (WC_INVALID_CONNECTION_ID); "
                            "see " +
                            bin + "/Login.err\n");
  std::string twice = qmtest::ReadFile(bin + "/Login.err");
  EXPECT_EQ(twice.substr(0, once.size()), once);
  EXPECT_EQ(twice.substr(once.size()), "Server Context Not Created.\r\n");
}

TEST_F(Startup, MissingCommandLineFileIsReportedAndEnds) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  auto result = Quillmar({"nosuch.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("File: " + bin + "/nosuch.cfg not found."),
            std::string::npos)
      << result.err;
}

TEST_F(Startup, EmptyCommandLineArgumentIsReportedAndEnds) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  auto result = Quillmar({""}, 30);
  EXPECT_FALSE(result.timedOut);  // an unattended start never just waits
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("File: " + bin + "/ not found."), std::string::npos)
      << result.err;
}

TEST_F(Startup, HostNamedInWcsrvIniIsUsed) {
  std::string elsewhere = tmp / "bbs-host";
  qmtest::MakeHost(elsewhere, {{1, "Uploads", "a"}});
  qmtest::WriteFile(bin + "/wcsrv.ini", "[Server]\r\nHome=../bbs-host\r\n");
  NaConfig();
  auto result = Quillmar({"quiet.cfg"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(qmtest::Exists(bin + "/Login.err"));
}

// Options are answered or refused before any login: with no host at all,
// nothing is logged and no lock is taken.
TEST_F(Startup, OptionsAreAnsweredOrRefusedBeforeLogin) {
  NaConfig();
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // the start of standard output
    std::string err;  // all of standard error
  };
  const std::vector<Row> rows = {
      {{"--help"}, 0, "usage: quillmar ", ""},
      {{"-V"}, 0, "Quillmar " QM_TEST_VERSION "\n", ""},
      {{"quiet.cfg", "other.cfg"},
       2,
       "",
       "quillmar: one FILE only, not also other.cfg (a list file runs "
       "several) (see quillmar --help)\n"},
      // A plain first argument never turns an option into a real run.
      {{"quiet.cfg", "--test-run"},
       2,
       "",
       "quillmar: option --test-run must come first (see quillmar --help)\n"},
  };
  for (const Row& row : rows) {
    auto result = Quillmar(row.args, 30);
    EXPECT_EQ(result.exitCode, row.exitCode) << row.args[0];
    EXPECT_EQ(result.out.substr(0, row.out.size()), row.out) << result.out;
    EXPECT_EQ(result.err, row.err);
  }
  EXPECT_FALSE(qmtest::Exists(bin + "/Login.err"));
  EXPECT_FALSE(qmtest::Exists(bin + "/quiet.err"));
}

// A test run that cannot start ends like a run that cannot, but logs
// nothing beside the file it looked for.
TEST_F(Startup, TestRunOfMissingFileEndsWithTwoAndLogsNothing) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  auto result = Quillmar({"--test-run", "nosuch.cfg"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("File: " + bin + "/nosuch.cfg not found."),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(qmtest::Exists(bin + "/nosuch.err"));
}

// A run that stops on an error is no success for the job that started it.
TEST_F(Startup, RunStoppedByAnErrorEndsWithExitCodeThree) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}, {2, "Games", "g"}});
  WriteConfig(
      bin + "/stop.cfg",
      {ConfigEntry(1, "Move", qm::JoinMoveParam("Files and Records", "x:Games"),
                   "*.*", "NA", "NA", home + "/a/")});
  auto result = Quillmar({"stop.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 3) << result.err;
  EXPECT_NE(result.err.find("'x' is not a valid integer value"),
            std::string::npos)
      << result.err;
}

// A log that is a FIFO nobody reads fails each entry at once; the entry
// goes to standard error and the run still completes.
TEST_F(Startup, LogThatIsAFifoNeverHoldsTheRun) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  WriteConfig(bin + "/piped.cfg", {ConfigEntry(1, "Add", "From File List",
                                               "none.lst", "NA", "NA", "")});
  qmtest::MakeFifo(bin + "/piped.err");
  auto result = Quillmar({"piped.cfg"}, 30);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("IO Error\nNo path set for FA# 1: entry skipped\n"),
            std::string::npos)
      << result.err;
}

// A pointer to the state folder that someone other than root could have
// written is never followed: the start ends before any login.
TEST_F(Startup, UntrustedStatePointerEndsTheStart) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  NaConfig();
  const std::string pointer = bin + "/quillmar.state";
  qmtest::WriteFile(pointer, tmp.path() + "\n");
  ASSERT_EQ(chmod(pointer.c_str(), 0666), 0);
  auto result = Quillmar({"quiet.cfg"}, 30);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err.rfind("quillmar: " + pointer + " is not used: it ", 0),
            0u)
      << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  EXPECT_FALSE(qmtest::Exists(bin + "/Login.err"));
  EXPECT_FALSE(qmtest::Exists(tmp / "quiet.err"));
}

TEST_F(Startup, MissingZipLibraryEndsWithExitCodeOne) {
  qmtest::MakeHost(home, {{1, "Uploads", "a"}});
  NaConfig();
  ASSERT_EQ(unlink((bin + "/libdunzip.so").c_str()), 0);
  auto result = Quillmar({"quiet.cfg"});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Could not load DUNZIP32.DLL!"), std::string::npos)
      << result.err;
}

}  // namespace
