#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "actions/AddNewFiles.h"
#include "actions/UnzipFile.h"
#include "host/HostAdmin.h"
#include "platform/FaultInjection.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/UploadExtras.h"
#include "tests/support/TestSupport.h"

namespace {

// A host with area 1, logged in; uploads wait in tmp/up; the
// configuration file lives in tmp/cfg and logs to tmp/cfg/run.err.
class AddNewFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(tmp / "host", {{1, "One", "files1"}, {3, "No path", ""}});
    area = qm::host::AreaDirectory(tmp / "host", 1);
    ASSERT_FALSE(area.empty());
    if (area.back() == '/') area.pop_back();
    qmtest::MakeDirs(area);
    qmtest::MakeDirs(tmp / "up");
    qmtest::MakeDirs(tmp / "cfg");
    login = std::make_unique<qmtest::HostLogin>(tmp / "host");
    ASSERT_TRUE(login->ok);
    run.state.configDir = tmp / "cfg/";
    run.state.logBaseName = tmp / "cfg/run.cfg";
  }

  std::string Up(const std::string& name) const { return tmp / ("up/" + name); }
  void Scan(const std::string& spec, const std::string& path,
            const std::string& param = "Scan For New") {
    qm::AddNewFiles(run.ctx, 1, param, spec, "NA", "file_id.diz", path);
  }
  void FromList(const std::string& spec) { Scan(spec, area, "From File List"); }
  std::vector<std::string> Log() {
    return qmtest::LogEntries(tmp / "cfg/run.err");
  }
  std::vector<std::string> Recorded() {
    std::vector<std::string> names;
    for (const auto& r : qmtest::AreaRecords(1)) names.push_back(r.Info.Name);
    return names;
  }
  size_t Copies() const { return run.view.progressCaptions.size(); }

  qmtest::TempDir tmp;
  std::string area;
  std::unique_ptr<qmtest::HostLogin> login;
  qmtest::TestRun run{tmp / "prog"};
};

using Names = std::vector<std::string>;

TEST_F(AddNewFilesTest, ScanInPlaceAddsRecordsOnly) {
  for (const char* name : {"A.ZIP", "b.zip", "NOTE.TXT", ".HIDDEN.ZIP"})
    qmtest::WriteFile(area + "/" + name, name);
  qmtest::MakeDirs(area + "/DIR.ZIP");
  Scan("*.ZIP", area);
  EXPECT_EQ(Recorded(), (Names{"A.ZIP", "b.zip"}));
  EXPECT_EQ(Copies(), 0u);
  EXPECT_EQ(qmtest::ListDir(area),
            (Names{".HIDDEN.ZIP", "A.ZIP", "DIR.ZIP", "NOTE.TXT", "b.zip"}));

  // A pattern naming the area's own directory still scans in place.
  Scan(area + "/*.*", area);
  EXPECT_EQ(Recorded(), (Names{"A.ZIP", "b.zip", "NOTE.TXT"}));
  EXPECT_EQ(Copies(), 0u);
  EXPECT_EQ(Log(), Names{});
}

TEST_F(AddNewFilesTest, ScanElsewhereTransfers) {
  for (const char* name : {"X.ZIP", "y.txt", ".hidden"})
    qmtest::WriteFile(Up(name), name);
  Scan(tmp / "up/*.*", area);
  EXPECT_EQ(Recorded(), (Names{"X.ZIP", "y.txt"}));
  EXPECT_EQ(run.view.progressCaptions,
            (Names{"Copy File to FileArea #1", "Copy File to FileArea #1"}));
  EXPECT_EQ(qmtest::ReadFile(area + "/X.ZIP"), "X.ZIP");
  EXPECT_EQ(qmtest::ReadFile(area + "/y.txt"), "y.txt");
  EXPECT_EQ(Log(), Names{});
}

TEST_F(AddNewFilesTest, DirectoriesAreComparedWithLetterCase) {
  // Another spelling of the area's directory (through a link, as a
  // case-blind file system would allow) is not the area's directory: the
  // file is to be transferred, onto itself, and an add never replaces a
  // stored file.
  const std::string other = area.substr(0, area.rfind('/') + 1) +
                            qm::UpperCase(area.substr(area.rfind('/') + 1));
  ASSERT_NE(other, area);
  ASSERT_EQ(symlink(area.c_str(), other.c_str()), 0);
  qmtest::WriteFile(area + "/A.ZIP", "a");
  Scan(other + "/*.ZIP", area);
  EXPECT_EQ(Recorded(), Names{});
  EXPECT_EQ(Log(), Names{"Error copying file: " + other +
                         "/A.ZIP to filearea server path: file area #1 "
                         "already holds a file of that name (it stays as it "
                         "is)"});
  EXPECT_EQ(qmtest::ReadFile(area + "/A.ZIP"), "a");
}

TEST_F(AddNewFilesTest, KnownNamesAreAddedOnce) {
  ASSERT_TRUE(qmtest::AddRecord(1, "GAME.ZIP", {"old"}));
  qmtest::WriteFile(area + "/GAME.ZIP", "stored");
  qmtest::WriteFile(Up("game.zip"), "upload");
  qmtest::WriteFile(Up("NEW.ZIP"), "first");
  qmtest::WriteFile(Up("new.zip"), "second");
  Scan(tmp / "up/*.ZIP", area);
  EXPECT_EQ(Recorded(), (Names{"GAME.ZIP", "NEW.ZIP"}));
  EXPECT_EQ(Copies(), 1u);
  EXPECT_EQ(qmtest::ReadFile(area + "/GAME.ZIP"), "stored");
  EXPECT_EQ(qmtest::ReadFile(area + "/NEW.ZIP"), "first");
  EXPECT_EQ(Log(), Names{});
}

TEST_F(AddNewFilesTest, RelativeSpecBelongsToTheConfigDirectory) {
  qmtest::MakeDirs(tmp / "cfg/in");
  qmtest::WriteFile(tmp / "cfg/in/R.ZIP", "r");
  Scan("in/*.ZIP", area);
  EXPECT_EQ(Recorded(), Names{"R.ZIP"});
  EXPECT_EQ(Copies(), 1u);
}

TEST_F(AddNewFilesTest, FileListAddsListedFiles) {
  ASSERT_TRUE(qmtest::AddRecord(1, "OLD.ZIP"));
  qmtest::WriteFile(area + "/IN.ZIP", "in");
  qmtest::WriteFile(Up("OUT.ZIP"), "out");
  qmtest::WriteFile(Up("old.zip"), "old");
  qmtest::MakeDirs(tmp / "cfg/rel");
  qmtest::WriteFile(tmp / "cfg/rel/REL.ZIP", "rel");
  qmtest::MakeDirs(tmp / "cfg/lists");
  // A line naming a link is passed over like a link a scan finds.
  qmtest::MakeDirs(tmp / "private");
  qmtest::WriteFile(tmp / "private/SECRET.TXT", "secret");
  ASSERT_EQ(
      symlink((tmp / "private/SECRET.TXT").c_str(), Up("LINK.TXT").c_str()), 0);
  qmtest::WriteFile(tmp / "cfg/lists/new.lst",
                    area + "/in.zip\r\n" + Up("OUT.ZIP") + "\n\r\n" +
                        Up("MISSING.ZIP") + "\r\n" + Up("old.zip") + "\r" +
                        "rel/REL.ZIP\r\n" + Up("OUT.ZIP") + "\r\n" +
                        Up("link.txt") + "\r\n");
  FromList("lists/new.lst");
  EXPECT_EQ(Recorded(), (Names{"in.zip", "OLD.ZIP", "OUT.ZIP", "REL.ZIP"}));
  EXPECT_EQ(Copies(), 2u);  // OUT.ZIP and REL.ZIP, once each
  EXPECT_EQ(qmtest::ReadFile(area + "/OUT.ZIP"), "out");
  EXPECT_EQ(qmtest::ReadFile(area + "/REL.ZIP"), "rel");
  EXPECT_EQ(Log(), Names{});
}

TEST_F(AddNewFilesTest, FileListBesideTheArea) {
  qmtest::WriteFile(Up("ONE.ZIP"), "1");
  qmtest::WriteFile(area + "/names.lst", Up("ONE.ZIP"));
  FromList("NAMES.LST");
  EXPECT_EQ(Recorded(), Names{"ONE.ZIP"});

  FromList("none.lst");
  EXPECT_EQ(Log(), Names{"File: " + area +
                         "/none.lst not found: for file "
                         "area #1"});
}

TEST_F(AddNewFilesTest, FromFileListInOtherCaseScans) {
  qmtest::WriteFile(Up("LISTED.ZIP"), "l");
  qmtest::WriteFile(Up("files.lst"), Up("LISTED.ZIP"));
  Scan(Up("files.lst"), area, "from file list");
  EXPECT_EQ(Recorded(), Names{"files.lst"});
}

TEST_F(AddNewFilesTest, AreaProblemsAreLogged) {
  qm::AddNewFiles(run.ctx, 9, "Scan For New", "*.*", "NA", "file_id.diz", area);
  qm::AddNewFiles(run.ctx, 3, "Scan For New", "*.*", "NA", "file_id.diz", area);
  // A folder that is not there holds nothing new; one that cannot be read
  // says why.
  Scan(tmp / "missing/*.*", area);
  qmtest::WriteFile(Up("NEW.ZIP"), "new");
  qm::fault::Arm(qm::fault::Kind::File, 1);  // the folder's read
  Scan(tmp / "up/*.*", area);
  qm::fault::Disarm();
  EXPECT_EQ(Log(),
            (Names{"Could not load file area #9 info for WIN Server.",
                   "Could not load file area #3 Path info for WIN Server.",
                   "Could not read folder: " + tmp / "up/" +
                       " for file area #1 (Input/output error)"}));
  EXPECT_EQ(Recorded(), Names{});
}

// Without a Path only a spec with its own directory has anything to work
// on; the process's directory never stands in for the area's.
TEST_F(AddNewFilesTest, EmptyPathNeverMeansTheCurrentDirectory) {
  qmtest::MakeDirs(tmp / "cwd");
  qmtest::WriteFile(tmp / "cwd/HERE.ZIP", "h");
  qmtest::WriteFile(tmp / "cwd/here.lst", tmp / "cwd/HERE.ZIP");
  qmtest::WriteFile(Up("UP.ZIP"), "u");
  const std::string started = std::filesystem::current_path();
  std::filesystem::current_path(tmp / "cwd");
  Scan("*.ZIP", "");
  Scan("here.lst", "", "From File List");
  Scan(Up("*.ZIP"), "");
  std::filesystem::current_path(started);
  const std::string refused = "No path set for FA# 1: entry skipped";
  EXPECT_EQ(Log(), (Names{refused, refused}));
  EXPECT_EQ(Recorded(), Names{"UP.ZIP"});
  EXPECT_EQ(Copies(), 1u);
}

TEST_F(AddNewFilesTest, TestRunOnlyReports) {
  qmtest::WriteFile(Up("A.ZIP"), "a");
  qmtest::WriteFile(Up("a.zip"), "a again");
  qmtest::WriteFile(area + "/B.ZIP", "b");
  qmtest::WriteFile(area + "/list.txt",
                    Up("A.ZIP") + "\r\n" + area + "/B.ZIP\r\n" + Up("a.zip"));
  run.view.testRun = true;
  Scan(tmp / "up/*.ZIP", area);
  Scan("*.ZIP", area + "/");
  FromList("list.txt");
  EXPECT_EQ(run.view.testRunLines,
            (Names{"Add to FA# 1: A.ZIP from: " + tmp / "up/",
                   "Add to FA# 1: B.ZIP from: " + area + "/",
                   "Add to FA# 1: A.ZIP from: " + tmp / "up/",
                   "Add to FA# 1: B.ZIP from: " + area + "/"}));
  EXPECT_EQ(Recorded(), Names{});
  EXPECT_EQ(Copies(), 0u);
  EXPECT_EQ(qmtest::ListDir(area), (Names{"B.ZIP", "list.txt"}));
}

TEST_F(AddNewFilesTest, TestRunReportsWhatTheRunRefuses) {
  // ":" and "\\" are legal in a name here, but the host would read a path.
  qmtest::WriteFile(Up("a:b.zip"), "up");
  qmtest::WriteFile(Up("c\\d.zip"), "listed");
  qmtest::WriteFile(Up("LONGER_THAN_14.ZIP"), "long");
  const std::string big = Up("BIG.ZIP");
  qmtest::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 0x80000000LL), 0);  // sparse
  qmtest::WriteFile(area + "/x\\y.zip", "in place");
  qmtest::WriteFile(area + "/list.txt", Up("c\\d.zip") + "\r\n" + big);
  // An area whose storage is a share that is not mounted.
  std::string error;
  ASSERT_TRUE(qm::host::AddArea(tmp / "host", 2, "Two", "files2", error));
  ASSERT_EQ(rmdir(qm::host::AreaDirectory(tmp / "host", 2).c_str()), 0);
  qmtest::WriteFile(Up("NEW.TXT"), "new");
  auto scanAll = [this] {
    Scan(tmp / "up/*.ZIP", area);
    Scan("*.ZIP", area);
    FromList("list.txt");
    qm::AddNewFiles(run.ctx, 2, "Scan For New", Up("NEW.TXT"), "NA", "",
                    tmp / "files2");
  };
  run.view.testRun = true;
  scanAll();
  run.view.testRun = false;
  scanAll();

  const std::string tooLarge =
      "File: " + big + " is 2 GB or larger: too large for a file area record";
  auto notAdded = [](const std::string& name, const std::string& dir) {
    return "Could not add file: " + name + " from path: " + dir +
           "/ to file area #1";
  };
  const Names log = Log();
  EXPECT_EQ(log,
            (Names{tooLarge,
                   "LONGER_THAN_14.ZIP filename too long. 14 or less "
                   "chars only.",
                   notAdded("a:b.zip", tmp / "up"),
                   notAdded("c\\d.zip", tmp / "up"), notAdded("x\\y.zip", area),
                   notAdded("c\\d.zip", tmp / "up"), tooLarge,
                   "Error copying file: " + Up("NEW.TXT") +
                       " to filearea server path"}));
  Names predicted;
  for (const std::string& line : log) predicted.push_back("ERR: " + line);
  EXPECT_EQ(run.view.testRunLines, predicted);
  EXPECT_EQ(Recorded(), Names{});
  EXPECT_EQ(Copies(), 0u);
  EXPECT_EQ(qmtest::ListDir(area), (Names{"list.txt", "x\\y.zip"}));
}

TEST_F(AddNewFilesTest, DescriptionsComeFromArchivesUnlessNA) {
  TUnzipFile unzip{qmtest::BinDir()};
  qm::ApplyStoredUnzipSettings(unzip);
  run.ctx.unzip = &unzip;
  qmtest::MakeZip(Up("GAME.ZIP"), {{"FILE_ID.DIZ", "Great game\r\n"}});
  qmtest::MakeZip(Up("PLAIN.ZIP"), {{"FILE_ID.DIZ", "Not read\r\n"}});
  qm::AddNewFiles(run.ctx, 1, "Scan For New", Up("GAME.ZIP"),
                  "Extract from ZIP", "file_id.diz", area);
  qm::AddNewFiles(run.ctx, 1, "Scan For New", Up("PLAIN.ZIP"), "NA",
                  "file_id.diz", area);
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].Info.Description, "Great game");
  EXPECT_STREQ(records[1].Info.Description, "");
  EXPECT_EQ(Log(), Names{});
}

// An uploader rewriting the upload the moment the check has read it: a
// transfer stores the private copy that was checked; a file recorded where
// it lies is refused when it changed while it was checked.
TEST_F(AddNewFilesTest, WhatTheUploadCheckPassedIsWhatIsStored) {
  const std::string check = tmp / "check.sh";
  qmtest::WriteFile(check,
                    "#!/bin/sh\n"
                    "grep -q evil \"$1\" && exit 1\n"
                    "name=$(basename \"$1\")\n"
                    "for dir in \"$UP\" \"$AREA\"; do\n"
                    "  [ -f \"$dir/$name\" ] && printf evil > \"$dir/$name\"\n"
                    "done\n"
                    "exit 0\n");
  ASSERT_EQ(chmod(check.c_str(), 0755), 0);
  setenv("UP", (tmp / "up").c_str(), 1);
  setenv("AREA", area.c_str(), 1);
  run.state.uploadExtras.uploadCheck = check + " %f";
  run.state.uploadExtras.uploadCheckSeconds = 20;
  run.state.counts.uploadChecksRefused = 0;
  qmtest::WriteFile(Up("COPIED.ZIP"), "clean upload");
  qmtest::WriteFile(area + "/INPLACE.ZIP", "clean in place");
  Scan(tmp / "up/*.*", area);
  Scan("*.ZIP", area);
  unsetenv("UP");
  unsetenv("AREA");
  EXPECT_EQ(Recorded(), Names{"COPIED.ZIP"});
  EXPECT_EQ(qmtest::ReadFile(area + "/COPIED.ZIP"), "clean upload");
  EXPECT_EQ(qmtest::ListDir(tmp / "prog/Temp"), Names{});
  EXPECT_EQ(Log(), Names{"Upload check refused: " + area +
                         "/INPLACE.ZIP (it changed while it was checked)"});
  EXPECT_EQ(run.state.counts.uploadChecksRefused, 1);
}

TEST_F(AddNewFilesTest, CancelStopsBetweenFiles) {
  for (const char* name : {"A.ZIP", "B.ZIP", "C.ZIP"})
    qmtest::WriteFile(Up(name), name);
  run.state.cancelRequest = true;  // cleared on entry
  // One event before gathering, then one per file: stop at the second.
  run.view.cancelAfterEvents = 2;
  Scan(tmp / "up/*.ZIP", area);
  EXPECT_EQ(Recorded(), Names{"A.ZIP"});
  EXPECT_TRUE(run.state.cancelRequest);
}

}  // namespace
