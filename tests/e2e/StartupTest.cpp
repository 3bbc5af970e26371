#include <unistd.h>

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
  EXPECT_NE(qmtest::ReadFile(bin + "/Login.err")
                .find("The host database cannot be written.\r\n"),
            std::string::npos);
  EXPECT_FALSE(qmtest::Exists(bin + "/quiet.err"));
}

TEST_F(Startup, SecondFailedLoginAppendsOneLine) {
  NaConfig();
  auto first = Quillmar({"quiet.cfg"});
  EXPECT_EQ(first.exitCode, 2);
  std::string once = qmtest::ReadFile(bin + "/Login.err");
  auto second = Quillmar({"quiet.cfg"});
  EXPECT_EQ(second.exitCode, 2);
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
