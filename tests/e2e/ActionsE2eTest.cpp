#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "host/HostAdmin.h"
#include "settings/IniFile.h"
#include "tests/e2e/E2eSupport.h"

using qmtest::ConfigEntry;
using qmtest::ProgramDirTest;

namespace {

class Actions : public ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    qmtest::MakeHost(home, {{1, "Source Area", "files/one"},
                            {2, "Target Area", "files/two"}});
    one = home + "/files/one/";
    two = home + "/files/two/";
    qmtest::MakeDirs(one);
    qmtest::MakeDirs(two);
  }

  // A file in area 1's storage with a record; the host takes size and
  // time from the stored file.
  void Stored(const std::string& name, const std::string& bytes,
              const std::vector<std::string>& desc = {}) {
    qmtest::WriteFile(one + name, bytes);
    qmtest::SetMTime(one + name, 946782245);  // 2000-01-02 03:04:05 UTC
    std::vector<std::string> args{bin + "/wcserver", "file", "add",    home,
                                  "--area",          "1",    "--name", name};
    for (const auto& line : desc) {
      args.push_back("--desc");
      args.push_back(line);
    }
    auto result = qmtest::RunProcess(args, {"TZ=UTC"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }

  std::vector<std::string> Names(int area) {
    std::vector<std::string> names;
    for (const auto& rec : FileList(area)) names.push_back(rec["name"]);
    return names;
  }

  qmtest::ProcessResult Run(const std::vector<qm::AreaConfigEntry>& entries) {
    WriteConfig(bin + "/job.cfg", entries);
    auto result = RunProcess({bin + "/quillmar", "job.cfg"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result;
  }

  qmtest::ProcessResult RunProcess(const std::vector<std::string>& argv) {
    return qmtest::RunProcess(
        argv, {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C", "TZ=UTC"}, 90,
        tmp.path());
  }

  std::string one, two;
};

TEST_F(Actions, DeleteAndRemoveByWildcardTakesFilesAndRecords) {
  Stored("GAME.ZIP", "g");
  Stored("TOOL.ZIP", "t");
  Stored("README", "r");
  Run({ConfigEntry(1, "Delete", "Delete and Remove", "*.ZIP", "NA", "NA",
                   one)});
  EXPECT_EQ(Names(1), std::vector<std::string>{"README"});
  EXPECT_EQ(qmtest::ListDir(one), std::vector<std::string>{"README"});
}

TEST_F(Actions, JustRemoveRecordsKeepsFilesAndJustDeleteKeepsRecords) {
  Stored("A.TXT", "a");
  Stored("B.TXT", "b");
  Run({ConfigEntry(1, "Delete", "Just Remove Records", "A.TXT", "NA", "NA",
                   one),
       ConfigEntry(1, "Delete", "Just Delete Files", "B.TXT", "NA", "NA",
                   one)});
  EXPECT_EQ(Names(1), std::vector<std::string>{"B.TXT"});
  EXPECT_EQ(qmtest::ListDir(one), std::vector<std::string>{"A.TXT"});
}

TEST_F(Actions, DeleteByFileListSelectsExactNamesOnly) {
  Stored("FILE.ZIP", "f");
  Stored("BIGFILE.ZIP", "b");
  Stored("KEEP.ZIP", "k");
  qmtest::WriteFile(bin + "/gone.qls", "/uploads/old/BIGFILE.ZIP\r\n");
  Run({ConfigEntry(1, "Delete", "Delete and Remove", bin + "/gone.qls", "NA",
                   "NA", one)});
  EXPECT_EQ(Names(1), (std::vector<std::string>{"FILE.ZIP", "KEEP.ZIP"}));
}

TEST_F(Actions, MoveCarriesRecordsAndStoredFilesToTheTarget) {
  Stored("DEMO.ZIP", "demo bytes");
  Stored("OTHER.TXT", "o");
  Run({ConfigEntry(1, "Move", "Files and Records >to> 2:Target Area", "*.ZIP",
                   "NA", "NA", one)});
  EXPECT_EQ(Names(1), std::vector<std::string>{"OTHER.TXT"});
  EXPECT_EQ(Names(2), std::vector<std::string>{"DEMO.ZIP"});
  EXPECT_EQ(qmtest::ReadFile(two + "DEMO.ZIP"), "demo bytes");
  EXPECT_FALSE(qmtest::Exists(one + "DEMO.ZIP"));
}

TEST_F(Actions, CopyLeavesRecordsAndNeverOverwritesARecordedTarget) {
  Stored("DEMO.ZIP", "demo bytes");
  Stored("TAKEN.ZIP", "source");
  qmtest::WriteFile(tmp / "taken", "target's own");
  auto add =
      qmtest::RunProcess({bin + "/wcserver", "file", "add", home, "--area", "2",
                          "--name", "TAKEN.ZIP", "--from", tmp / "taken"});
  ASSERT_EQ(add.exitCode, 0) << add.err;
  Run({ConfigEntry(1, "Move", "Just Copy Files >to> 2:Target Area", "*.ZIP",
                   "NA", "NA", one)});
  EXPECT_EQ(Names(1), (std::vector<std::string>{"DEMO.ZIP", "TAKEN.ZIP"}));
  EXPECT_EQ(Names(2), std::vector<std::string>{"TAKEN.ZIP"});
  EXPECT_EQ(qmtest::ReadFile(two + "DEMO.ZIP"), "demo bytes");
  EXPECT_EQ(qmtest::ReadFile(two + "TAKEN.ZIP"), "target's own");
  EXPECT_NE(qmtest::ReadFile(bin + "/job.err")
                .find("Could not COPY file: TAKEN.ZIP from FA# 1 to 2"),
            std::string::npos);
}

TEST_F(Actions, FullListingIsWrittenByteForByte) {
  Stored("GAME.ZIP", std::string(1234, 'g'),
         {"A very long first line of the description that runs past 44",
          "second"});
  Stored("README", "r", {"Plain readme"});
  Run({ConfigEntry(1, "List", "Full", "*.*", "Per File Area", "Files.BBS",
                   one)});
  std::string rule = "  " + std::string(75, '=') + "\r\n";
  std::string expected =
      rule + "          Source Area\r\n" + rule +
      "GAME.ZIP       1234       01/02/00 A very long first line of the "
      "description th\r\n" +
      std::string(35, ' ') + "at runs past 44second" + std::string(23, ' ') +
      "\r\n" + "README         1          01/02/00 Plain readme" +
      std::string(32, ' ') + "\r\n";
  EXPECT_EQ(qmtest::ReadFile(one + "Files.BBS"), expected);
}

TEST_F(Actions, AllFilesListingCollectsAreasWithASeparator) {
  Stored("A.ZIP", "a", {"first"});
  Run({ConfigEntry(1, "List", "Single", "*.*", "All Files List", "all.txt",
                   one),
       ConfigEntry(2, "List", "Single", "*.*", "All Files List", "all.txt",
                   two)});
  std::string rule = "  " + std::string(75, '=') + "\r\n";
  std::string expected = rule + "          Source Area\r\n" + rule +
                         "A.ZIP          1          01/02/00 first" +
                         std::string(39, ' ') + "\r\n" + " \r\n" + rule +
                         "          Target Area\r\n" + rule;
  // A relative name lands beside the configuration file.
  EXPECT_EQ(qmtest::ReadFile(bin + "/all.txt"), expected);
}

// The extras in one run: clean-up of records whose file is gone or old, and
// the web listings drawn as DOS text.
TEST_F(Actions, CleanUpAndWebListingsInOneRun) {
  Stored("GONE.ZIP", "g");
  Stored("OLD.ZIP", "o");  // from 2000
  qmtest::WriteFile(one + "NEW.ZIP", "n");
  qmtest::SetMTime(one + "NEW.ZIP", std::time(nullptr) - 86400);
  ASSERT_EQ(RunProcess({bin + "/wcserver", "file", "add", home, "--area", "1",
                        "--name", "NEW.ZIP", "--desc", "\xC9\xCD\xBB New \xDB"})
                .exitCode,
            0);
  std::remove((one + "GONE.ZIP").c_str());
  qmtest::WriteFile(bin + "/quillmar.ini", "[Extras]\r\nCharset=CP437\r\n");
  const auto desc = [](qm::AreaConfigEntry entry, const std::string& action,
                       const std::string& spec) {
    entry.DescAction = action;
    entry.DescActionSpec = spec;
    return entry;
  };
  const auto del = [&](const std::string& mode) {
    return ConfigEntry(1, "Delete", mode, "*.*", "NA", "NA", one);
  };
  auto result = Run(
      {desc(del("Just Remove Records"), "Only Missing Files", "NA"),
       desc(del("Delete and Remove"), "Only Older Than", "many"),
       desc(del("Delete and Remove"), "Only Older Than", "365"),
       ConfigEntry(1, "List", "HTML", "*.*", "All Files List", "web.html", one),
       ConfigEntry(2, "List", "HTML", "*.*", "All Files List", "web.html", two),
       ConfigEntry(1, "List", "Single", "*.*", "Per File Area", "Files.BBS",
                   one),
       ConfigEntry(1, "List", "JSON", "*.*", "All Files List", "web.json", one),
       ConfigEntry(2, "List", "JSON", "*.*", "All Files List", "web.json",
                   two)});
  EXPECT_EQ(Names(1), std::vector<std::string>{"NEW.ZIP"});
  EXPECT_EQ(qmtest::ListDir(one),
            (std::vector<std::string>{"Files.BBS", "NEW.ZIP"}));
  // Text listings keep the stored bytes whatever the windows show.
  EXPECT_NE(qmtest::ReadFile(one + "Files.BBS").find("\xC9\xCD\xBB New \xDB"),
            std::string::npos);
  EXPECT_EQ(qmtest::LogEntries(bin + "/job.err"),
            std::vector<std::string>{"Bad number of days for FA# 1: many"});
  EXPECT_EQ(result.out,
            "Files added: 0, deleted: 2, moved: 0, copied: 0; listings "
            "written: 5; problems logged: 1 in " +
                bin + "/job.err\n");

  const auto check =
      qmtest::CheckWebListing(bin + "/web.html", bin + "/web.json");
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(check.out, "1 Source Area 1\n2 Target Area 0\n");
  EXPECT_NE(qmtest::ReadFile(bin + "/web.json")
                .find("\"\u2554\u2550\u2557 New \u2588\""),
            std::string::npos);
}

// As cron runs it: the test run's lines foresee the real run's refusals,
// the real run's summary says when its log could not be written (run as
// another user beside a directory it cannot write), no toolkit notice is
// printed, the date column stays whole in a locale whose own date does not
// fit it, the window's place is kept, and a run whose reader went away
// still finishes by its own result.
TEST_F(Actions, CronSeesWhatTheRunDoes) {
  Stored("DEMO.ZIP", "demo");
  Stored("TAKEN.ZIP", "taken");
  qmtest::WriteFile(two + "DEMO.ZIP", "an upload, not recorded yet");
  qmtest::WriteFile(tmp / "taken", "target's own");
  ASSERT_EQ(RunProcess({bin + "/wcserver", "file", "add", home, "--area", "2",
                        "--name", "TAKEN.ZIP", "--from", tmp / "taken"})
                .exitCode,
            0);
  std::string error;  // an area whose share is not mounted
  ASSERT_TRUE(qm::host::AddArea(home, 3, "Offline", "files/three", error));
  ASSERT_EQ(rmdir((home + "/files/three").c_str()), 0);
  const std::string incoming = tmp / "incoming";
  qmtest::MakeDirs(incoming);
  qmtest::WriteFile(incoming + "/NEW.TXT", "new");
  const std::string jobs = tmp / "jobs";
  qmtest::MakeDirs(jobs);
  WriteConfig(jobs + "/job.cfg",
              {ConfigEntry(1, "Move", "Files and Records >to> 2:Target Area",
                           "DEMO.ZIP", "NA", "NA", one),
               ConfigEntry(1, "Move", "Just Copy Files >to> 2:Target Area",
                           "TAKEN.ZIP", "NA", "NA", one),
               ConfigEntry(3, "Add", "Scan For New", incoming + "/*.*", "NA",
                           "NA", home + "/files/three/"),
               ConfigEntry(1, "List", "Single", "*.*", "Per File Area",
                           "FILES.LST", one)});
  qmtest::WriteFile(bin + "/quillmar.ini",
                    "[Main Window]\r\nTop=-10\r\nLeft=-4\r\n");
  const std::string locales = tmp / "locales";
  ASSERT_EQ(qmtest::BuildLocale("ja_JP.UTF-8", locales), "");
  // Another user where this one may write anywhere; the jobs' directory
  // is theirs to read only.
  std::vector<std::string> asOther;
  if (geteuid() == 0) {
    asOther = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
               "--clear-groups"};
    namespace fs = std::filesystem;
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec |
                                    fs::perms::others_read |
                                    fs::perms::others_exec);
    ASSERT_EQ(lchown(bin.c_str(), 65534, 65534), 0);
    for (const auto& entry : fs::recursive_directory_iterator(bin))
      ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(jobs.c_str(), 0555), 0);
  const std::vector<std::string> cron = {"/usr/bin/env",
                                         "-i",
                                         "PATH=/usr/bin:/bin",
                                         "LC_ALL=ja_JP.UTF-8",
                                         "LOCPATH=" + locales + "/ja_JP.UTF-8",
                                         bin + "/quillmar"};

  auto argv = asOther;
  argv.insert(argv.end(), cron.begin(), cron.end());
  argv.insert(argv.end(), {"--test-run", jobs + "/job.cfg"});
  const auto test = RunProcess(argv);
  EXPECT_EQ(test.exitCode, 0);
  EXPECT_EQ(test.err, "");
  const std::vector<std::string> refusals = {
      "Could not MOVE file: DEMO.ZIP from FA# 1 to 2",
      "Could not COPY file: TAKEN.ZIP from FA# 1 to 2",
      "Error copying file: " + incoming + "/NEW.TXT to filearea server path"};
  std::string lines;
  for (const auto& line : refusals) lines += "ERR: " + line + "\n";
  EXPECT_EQ(test.out, lines + "Single File Listing for FA# 1\n");

  argv = asOther;
  argv.insert(argv.end(), cron.begin(), cron.end());
  argv.push_back(jobs + "/job.cfg");
  const auto real = RunProcess(argv);
  EXPECT_EQ(real.exitCode, 0);
  EXPECT_EQ(real.out,
            "Files added: 0, deleted: 0, moved: 0, copied: 0; listings "
            "written: 1; problems logged: 0; problems not logged: 3, " +
                jobs +
                "/job.err could not be written (they went to "
                "standard error)\n");
  lines.clear();
  for (const auto& line : refusals) lines += "IO Error\n" + line + "\n";
  EXPECT_EQ(real.err, lines);
  EXPECT_FALSE(qmtest::Exists(jobs + "/job.err"));
  EXPECT_EQ(Names(2), std::vector<std::string>{"TAKEN.ZIP"});
  // The locale's own "00年01月02日" would not fit: its order, in digits.
  const std::string listing = qmtest::ReadFile(one + "FILES.LST");
  EXPECT_NE(listing.find("DEMO.ZIP       4          00/01/02 "),
            std::string::npos)
      << listing;
  const qm::IniFile settings(bin + "/quillmar.ini");
  EXPECT_EQ(settings.ReadInteger("Main Window", "Top", 0), -10);
  EXPECT_EQ(settings.ReadInteger("Main Window", "Left", 0), -4);

  // Its reader gone before it writes, the run still ends as it should.
  ASSERT_EQ(chmod(jobs.c_str(), 0755), 0);
  const auto closed =
      RunProcess({"/bin/bash", "-c",
                  "\"$0\" \"$1\" 2>&1 | true; echo \"${PIPESTATUS[0]}\"",
                  bin + "/quillmar", jobs + "/job.cfg"});
  EXPECT_EQ(closed.out, "0\n") << closed.err;
  EXPECT_EQ(qmtest::LogEntries(jobs + "/job.err"), refusals);
}

}  // namespace
