#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "actions/FileActions.h"
#include "host/HostAdmin.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "runner/RunDriver.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;
using qm::AreaConfigEntry;
using qmtest::ConfigEntry;
using qmtest::Exists;
using qmtest::LogEntries;
using qmtest::ReadFile;

class RunDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "host";
    qmtest::MakeHost(home, {{1, "Games", "games"}, {12, "Twelve", "twelve"}});
    login = std::make_unique<qmtest::HostLogin>(home);
    ASSERT_TRUE(login->ok);
    qmtest::MakeDirs(programDir);
    qmtest::MakeDirs(out);
  }

  std::string WriteConfig(const std::string& path,
                          const std::vector<AreaConfigEntry>& entries) {
    std::string message;
    EXPECT_TRUE(qm::WriteConfigFile(path, entries, message)) << message;
    return path;
  }
  Names Records(int32_t area) {
    Names names;
    for (const auto& full : qmtest::AreaRecords(area))
      names.push_back(full.Info.Name);
    return names;
  }
  AreaConfigEntry Listing(int32_t area, const std::string& name) {
    return ConfigEntry(area, "List", "Single", "*.*", "Per File Area", name,
                       out);
  }

  qmtest::TempDir dir;
  std::string home;
  std::string programDir = dir / "prog/";
  std::string out = dir / "out/";
  qmtest::TestRun run{programDir};
  qm::RecordFile file;
  std::unique_ptr<qmtest::HostLogin> login;
};

TEST_F(RunDriverTest, MarkerFailureWarnsOrLogs) {
  const std::string path = dir / "plain.cfg";
  qmtest::WriteFile(path, std::string("[FileCHK]\0\r", 11));
  const std::string message =
      "File: " + path + "\r does not appear to be a Quillmar Config File.";

  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(run.view.messages, Names{message});
  EXPECT_FALSE(Exists(dir / "plain.err"));

  // The log keeps the message's own carriage return; a control character
  // in the name is data and is escaped.
  run.view.messages.clear();
  run.state.autoRun = true;
  qm::RunConfig(run.ctx, file, path);
  EXPECT_TRUE(run.view.messages.empty());
  EXPECT_EQ(LogEntries(dir / "plain.err"),
            Names{"File: " + path +
                  "\r does not appear to be a Quillmar Config File."});
  const std::string named = dir / "od\rd.cfg";
  qmtest::WriteFile(named, "plain text");
  qm::RunConfig(run.ctx, file, named);
  EXPECT_EQ(LogEntries(dir / "od\rd.err"),
            Names{"File: " + dir / "od^Md.cfg" +
                  "\r does not appear to be a Quillmar Config File."});

  // A file that cannot be read (or is a FIFO) is reported as such first.
  qmtest::Watchdog watchdog;
  qmtest::MakeFifo(dir / "piped.cfg");
  for (const std::string& unreadable :
       {dir / "missing.v2.cfg", dir / "piped.cfg"}) {
    qm::RunConfig(run.ctx, file, unreadable);
    EXPECT_EQ(LogEntries(qm::LogFileName(unreadable)),
              (Names{"IO Error during Config File Test.",
                     "File: " + unreadable +
                         "\r does not appear to be a Quillmar Config File."}));
  }
}

TEST_F(RunDriverTest, RunDispatchesEachEntryAndTidiesUp) {
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  const std::string path = WriteConfig(
      dir / "night.cfg",
      {Listing(1, "one.txt"),
       ConfigEntry(5, "List", "Single", "*.*", "Per File Area", "five.txt",
                   out),
       ConfigEntry(12, "NA", "NA", "NA"), Listing(12, "twelve.txt")});
  qm::AllFilesListed(run.state).insert(dir / "all.txt");
  qm::RunConfig(run.ctx, file, path);

  // Area 5 is unknown to the host: its entry is skipped.
  EXPECT_EQ(qmtest::ListDir(out), (Names{"one.txt", "twelve.txt"}));
  EXPECT_NE(ReadFile(out + "one.txt").find("DEMO.ZIP"), std::string::npos);
  EXPECT_TRUE(qm::AllFilesListed(run.state).empty());
  EXPECT_EQ(run.state.configDir, dir.path() + "/");
  EXPECT_EQ(run.state.logBaseName, path);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(run.view.gaugeMax, 4);
  EXPECT_EQ(run.view.gaugePos, 0);
  EXPECT_EQ(run.view.panelArea, "");
  EXPECT_EQ(run.view.panelAction, "");
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::None);
  EXPECT_TRUE(run.view.messages.empty());
  EXPECT_FALSE(Exists(dir / "night.err"));
}

// A "Scan For New" of a folder that the same configuration's List entries
// write into never records those listings as uploads, whichever entry
// comes first and however the listing's name is spelt.
TEST_F(RunDriverTest, ScanForNewLeavesTheConfigurationsOwnListings) {
  const std::string games = home + "/games/";
  qmtest::MakeDirs(games);
  qmtest::WriteFile(games + "GAME.ZIP", "upload");
  qmtest::WriteFile(games + "all.txt", "an old listing, in other letters");
  const std::string path = WriteConfig(
      dir / "night.cfg",
      {ConfigEntry(1, "Add", "Scan For New", "*.*", "NA", "NA", games),
       ConfigEntry(1, "List", "Single", "*.*", "Per File Area", "Files.BBS",
                   games),
       ConfigEntry(1, "List", "Single", "*.*", "All Files List",
                   "host/games/ALL.TXT", "")});
  for (int night = 0; night < 2; ++night) qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(Records(1), Names{"GAME.ZIP"});
  EXPECT_NE(ReadFile(games + "Files.BBS").find("GAME.ZIP"), std::string::npos);
  EXPECT_NE(ReadFile(games + "all.txt").find("GAME.ZIP"), std::string::npos);
}

TEST_F(RunDriverTest, TestRunChangesNothing) {
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP", {"Demo"}));
  ASSERT_TRUE(qmtest::AddRecord(1, "OLD.TXT", {"Old"}));
  const std::string path = WriteConfig(
      dir / "night.cfg",
      {ConfigEntry(1, "Delete", "Delete and Remove", "*.TXT", "NA", "NA", out),
       ConfigEntry(1, "Move", "Files and Records >to> 12:Twelve", "*.ZIP", "NA",
                   "NA", out),
       Listing(12, "twelve.txt")});
  run.view.testRun = true;
  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(run.view.testRunLines,
            (Names{"Delete and Remove From FA# 1: OLD.TXT",
                   "Move Files and Records From FA# 1 to 12: DEMO.ZIP",
                   "Single File Listing for FA# 12"}));
  EXPECT_EQ(Records(1), (Names{"DEMO.ZIP", "OLD.TXT"}));
  EXPECT_TRUE(Records(12).empty());
  EXPECT_TRUE(qmtest::ListDir(out).empty());
}

TEST_F(RunDriverTest, NaEntryShowsPanelsAndLightsNothing) {
  run.view.testRun = true;
  qm::DispatchEntry(run.ctx,
                    qm::EntryKeyLines(ConfigEntry(1, "NA", "NA", "*.*")));
  EXPECT_EQ(run.view.panelArea, "Area 1");
  EXPECT_EQ(run.view.panelAction, "NA");
  EXPECT_EQ(run.view.panelSpec, "*.*");
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::None);
  EXPECT_TRUE(run.view.testRunLines.empty());

  // Actions are compared exactly: "delete" does nothing either.
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP"));
  qm::DispatchEntry(run.ctx, qm::EntryKeyLines(ConfigEntry(
                                 1, "delete", "Delete and Remove", "*.*")));
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::None);
  EXPECT_TRUE(run.view.testRunLines.empty());

  qm::DispatchEntry(run.ctx, qm::EntryKeyLines(ConfigEntry(
                                 1, "Delete", "Delete and Remove", "*.*")));
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::Delete);
  EXPECT_EQ(run.view.testRunLines,
            Names{"Delete and Remove From FA# 1: DEMO.ZIP"});

  qm::DispatchEntry(run.ctx, qm::EntryKeyLines(Listing(1, "x.txt")));
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::None);
}

TEST_F(RunDriverTest, FilesBbsSpecReadsTheListInThePath) {
  run.view.testRun = true;
  const std::string path = dir / "incoming/";
  qm::DispatchEntry(run.ctx, qm::EntryKeyLines(ConfigEntry(
                                 1, "Add", "Scan For New", "C:\\bbs\\files.bbs",
                                 "NA", "NA", path)));
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::Add);
  EXPECT_EQ(run.view.panelSpec, path + "files.bbs");
  // The list is looked for in the entry's Path under the name as written.
  EXPECT_EQ(run.view.testRunLines,
            Names{"ERR: Could not Read files.BBS: " + path + "files.bbs"});

  // A Path without a trailing separator still finds the list.
  run.view.testRunLines.clear();
  const std::string bare = dir / "incoming";
  qm::DispatchEntry(
      run.ctx, qm::EntryKeyLines(ConfigEntry(1, "Add", "Scan For New",
                                             "FILES.BBS", "NA", "NA", bare)));
  EXPECT_EQ(run.view.panelSpec, bare + "FILES.BBS");
  EXPECT_EQ(run.view.testRunLines,
            Names{"ERR: Could not Read files.BBS: " + bare + "/FILES.BBS"});
}

TEST_F(RunDriverTest, MoveParameterNamesTheTarget) {
  ASSERT_TRUE(qmtest::AddRecord(1, "DEMO.ZIP"));
  auto move = [&](const std::string& param) {
    qm::DispatchEntry(run.ctx,
                      qm::EntryKeyLines(ConfigEntry(1, "Move", param, "*.*")));
  };
  move("Files and Records");
  move("Files and Records >to> 12");
  move("Files and Records>to>12:Twelve");
  EXPECT_EQ(run.view.litLabel, qm::ActionLabel::Move);
  EXPECT_EQ(Records(1), Names{"DEMO.ZIP"});

  move("Files and Records >to> 12:Twelve: the big one");
  EXPECT_TRUE(Records(1).empty());
  EXPECT_EQ(Records(12), Names{"DEMO.ZIP"});
}

TEST_F(RunDriverTest, NonIntegerValuesEndTheRun) {
  auto keys = qm::EntryKeyLines(ConfigEntry(1, "NA", "NA", "NA"));
  keys[0] = "AreaNum=abc";
  try {
    qm::DispatchEntry(run.ctx, keys);
    FAIL() << "no error";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
  }

  const std::string path = WriteConfig(
      dir / "bad.cfg",
      {ConfigEntry(1, "Move", "Files and Records >to> 1x:Twelve", "*.*"),
       Listing(12, "never.txt")});
  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(run.view.messages, Names{"'1x' is not a valid integer value"});
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(run.view.gaugePos, 0);
  EXPECT_EQ(run.view.panelAction, "Move");  // the failed entry stays shown
  EXPECT_TRUE(qmtest::ListDir(out).empty());

  // The file can be run again: nothing was left open.
  run.view.messages.clear();
  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(run.view.messages.size(), 1u);
}

TEST_F(RunDriverTest, CancelStopsBeforeTheNextEntry) {
  const std::string path = WriteConfig(
      dir / "night.cfg",
      {Listing(1, "a.txt"), Listing(12, "b.txt"), Listing(1, "c.txt")});
  run.state.autoRun = true;
  run.view.cancelAfterEvents = 1;  // once the first entry has begun
  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(qmtest::ListDir(out), Names{"a.txt"});
  EXPECT_TRUE(run.state.cancelRequest);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(run.view.gaugePos, 0);
  EXPECT_EQ(run.view.panelArea, "Area 1");
  EXPECT_EQ(run.view.panelAction, "List");
  // The summary says where the run stopped; the first stop is the one told.
  const std::string told = "; cancelled in entry 1 of 3 of " + path;

  // A set request stops every later run before its first entry.
  run.view.cancelAfterEvents = -1;
  qm::RunConfig(run.ctx, file, path);
  EXPECT_EQ(qmtest::ListDir(out), Names{"a.txt"});
  EXPECT_TRUE(qm::RunSummary(run.state.counts).ends_with(told))
      << qm::RunSummary(run.state.counts);

  // A cancel seen only inside the last entry still counts, as does one
  // before the first.
  for (const int events : {2, 0}) {
    run.state = {};
    run.state.autoRun = true;
    run.view.cancelAfterEvents = events;
    run.view.eventsProcessed = 0;
    const std::string cfg = WriteConfig(
        dir / "late.cfg",
        {ConfigEntry(1, "NA", "NA", "NA"),
         ConfigEntry(1, "Add", "Scan For New", "*.*", "NA", "NA", out)});
    qm::RunConfig(run.ctx, file, cfg);
    ASSERT_TRUE(run.state.counts.cancelled) << events;
    EXPECT_EQ(qm::CancelledText(*run.state.counts.cancelled),
              (events ? "cancelled in entry 2" : "cancelled before entry 1") +
                  std::string(" of 2 of ") + cfg);
  }
}

TEST_F(RunDriverTest, ListFileRunsEachConfiguration) {
  WriteConfig(programDir + "first.cfg", {Listing(1, "first.txt")});
  qmtest::MakeDirs(dir / "elsewhere");
  const std::string second =
      WriteConfig(dir / "elsewhere/second.cfg", {Listing(12, "second.txt")});
  const std::string list = dir / "jobs.QLS.txt";
  qmtest::WriteFile(list,
                    "first.cfg\r\nmissing.v1.cfg\r\n\r\n" + second + "\r\n");
  run.state.commandLineFile = list;

  Names shown;
  qm::AutoRunConfigs(run.ctx, file,
                     [&](const std::string& name) { shown.push_back(name); });

  EXPECT_TRUE(run.state.autoRun);
  EXPECT_EQ(shown, (Names{"first.cfg", "second.cfg"}));
  EXPECT_EQ(qmtest::ListDir(out), (Names{"first.txt", "second.txt"}));
  EXPECT_EQ(LogEntries(programDir + "missing.err"),
            Names{"Cfg File: " + programDir + "missing.v1.cfg not found"});
  // An empty line names the program's directory, which is no file.
  EXPECT_EQ(LogEntries(programDir + ".err"),
            Names{"Cfg File: " + programDir + " not found"});
  EXPECT_TRUE(run.view.messages.empty());
}

TEST_F(RunDriverTest, CommandLineConfigurationRunsUnattended) {
  const std::string path = dir / "plain.cfg";
  qmtest::WriteFile(path, "not a configuration");
  run.state.commandLineFile = path;
  Names shown;
  qm::AutoRunConfigs(run.ctx, file,
                     [&](const std::string& name) { shown.push_back(name); });
  EXPECT_EQ(shown, Names{"plain.cfg"});
  EXPECT_TRUE(run.view.messages.empty());
  EXPECT_EQ(LogEntries(dir / "plain.err"),
            Names{"File: " + path +
                  "\r does not appear to be a Quillmar Config File."});

  EXPECT_FALSE(run.state.stoppedOnError);  // carried out, problem logged

  // An unreadable list file (a FIFO among them) stops the run, and the
  // call still returns.
  qmtest::Watchdog watchdog;
  qmtest::MakeFifo(dir / "piped.qls");
  for (const std::string list : {"absent", "piped"}) {
    run.view.messages.clear();
    run.state.commandLineFile = dir / (list + ".qls");
    qm::AutoRunConfigs(run.ctx, file, [](const std::string&) {});
    EXPECT_EQ(run.view.messages,
              Names{"Cannot open file \"" + dir / (list + ".qls") + "\""});
    EXPECT_TRUE(run.state.stoppedOnError);
    // Its report belongs to the list's own log, not to the last run's.
    EXPECT_EQ(qm::LogFileName(run.state.logBaseName), dir / (list + ".err"));
  }
}

// The summary an unattended run prints counts what was done, not what was
// tried, and names every log a problem went to.
TEST_F(RunDriverTest, UnattendedRunCountsWhatItChanged) {
  const std::string games = home + "/games/";
  qmtest::MakeDirs(games);
  qmtest::MakeDirs(home + "/twelve");
  for (const char* name : {"A.ZIP", "B.ZIP", "C.TXT", "D.TXT"})
    ASSERT_TRUE(qmtest::AddRecord(1, name));
  for (const char* name : {"A.ZIP", "B.ZIP", "C.TXT", "NEW.TXT"})
    qmtest::WriteFile(games + name, name);
  const std::string cfg = WriteConfig(
      dir / "night.cfg",
      {ConfigEntry(1, "Add", "Scan For New", "*.TXT", "NA", "NA", games),
       ConfigEntry(1, "Delete", "Just Remove Records", "C.TXT", "NA", "NA",
                   games),
       // Its file is missing: a problem, not a deletion.
       ConfigEntry(1, "Delete", "Just Delete Files", "D.TXT", "NA", "NA",
                   games),
       ConfigEntry(1, "Move", "Just Copy Files >to> 12:Twelve", "A.ZIP", "NA",
                   "NA", games),
       ConfigEntry(1, "Move", "Files and Records >to> 12:Twelve", "B.ZIP", "NA",
                   "NA", games),
       Listing(12, "twelve.txt")});
  // A log no one can create: its problem is counted as not logged.
  qmtest::WriteFile(dir / "jobs.qls",
                    cfg + "\nmissing.cfg\n/proc/gone.cfg\n/proc/gone.cfg\n");
  run.state.commandLineFile = dir / "jobs.qls";
  run.state.counts.added = 5;  // an earlier run's

  testing::internal::CaptureStderr();
  qm::AutoRunConfigs(run.ctx, file, [](const std::string&) {});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cfg File: /proc/gone.cfg not found\n"
            "Cfg File: /proc/gone.cfg not found\n");
  EXPECT_EQ(Records(12), (Names{"B.ZIP"}));
  EXPECT_EQ(qm::RunSummary(run.state.counts),
            "Files added: 1, deleted: 1, moved: 1, copied: 1; listings "
            "written: 1; problems logged: 2 in " +
                dir / "night.err, " + programDir +
                "missing.err; problems not logged: 2, /proc/gone.err could "
                "not be written (they went to standard error)");
}

TEST_F(RunDriverTest, MarkedFileWithoutWholeRecordRunsNothing) {
  const std::string path = dir / "short.cfg";
  qmtest::WriteFile(path, "[FileCHK]\r" + std::string(100, '\0'));
  qm::RunConfig(run.ctx, file, path);
  EXPECT_TRUE(run.view.messages.empty());
  EXPECT_EQ(run.view.gaugeMax, 0);  // no records to go through
  EXPECT_EQ(run.view.gaugePos, 0);
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
