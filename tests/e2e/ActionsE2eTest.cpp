#include <cstdio>
#include <ctime>

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

}  // namespace
