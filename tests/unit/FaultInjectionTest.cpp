// Runs of the reference job in which one host, file or ZIP call fails: every
// run must end in order and leave the host sound. QM_FAULTS_ALL=1 fails each
// call in turn; otherwise calls are sampled evenly across the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "actions/AddNewFiles.h"
#include "actions/Transfer.h"
#include "actions/UnzipFile.h"
#include "config/ConfigFile.h"
#include "host/HostAdmin.h"
#include "host/HostStore.h"
#include "platform/FaultInjection.h"
#include "platform/FieldText.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "runner/RunDriver.h"
#include "tests/support/ReferenceJob.h"
#include "tests/support/TestSupport.h"

namespace {

using qm::fault::Kind;
using qmtest::ReadFile;

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Host:
      return "host";
    case Kind::File:
      return "file";
    case Kind::Zip:
      return "ZIP";
  }
  return "";
}

struct Outcome {
  bool escaped = false;    // an exception left the run
  bool completed = false;  // the run went through every entry
  bool fired = false;
  uint64_t calls = 0;  // of the armed kind
  std::vector<std::string> messages;
  std::vector<std::string> logLines;
  std::vector<std::string> problems;
  std::vector<std::string> tempsInSession;
  std::vector<std::string> records;  // "area:NAME"
};

// A run log's entries, with the run's directory taken out of them.
std::vector<std::string> LogEntries(const std::string& path,
                                    const std::string& dir) {
  std::vector<std::string> lines;
  if (qmtest::Exists(path)) qm::ReadTextLines(path, lines);
  lines.erase(std::remove(lines.begin(), lines.end(), ""), lines.end());
  if (lines.size() >= 2) lines.erase(lines.begin(), lines.begin() + 2);
  for (std::string& line : lines)
    for (size_t at; (at = line.find(dir)) != std::string::npos;)
      line.replace(at, dir.size(), "<dir>");
  return lines;
}

// One run of a fresh reference job with the n-th call of kind failing
// (n == 0: none fails).
Outcome RunWithFault(Kind kind, uint64_t n) {
  Outcome outcome;
  qmtest::TempDir dir;
  const std::string program = dir / "prog";
  qmtest::MakeDirs(program);
  qmtest::ReferenceJob job(dir / "host", dir.path(), program + "/job.cfg",
                           20000);
  qmtest::TestRun run(program);
  run.state.autoRun = true;
  TUnzipFile unzip(qmtest::BinDir());
  qm::ApplyStoredUnzipSettings(unzip);
  run.ctx.unzip = &unzip;
  {
    qmtest::HostLogin login(job.home());
    EXPECT_TRUE(login.ok);
    qm::RecordFile file;
    qm::fault::Arm(kind, n);
    try {
      qm::RunConfig(run.ctx, file, job.configPath());
    } catch (...) {
      outcome.escaped = true;
    }
    qm::fault::Disarm();
    // A failed write is cleaned up at once, not at the end of the session.
    outcome.tempsInSession = job.TemporaryFiles();
  }
  outcome.fired = qm::fault::Fired();
  outcome.calls = qm::fault::Calls(kind);
  outcome.completed = run.view.panelArea.empty();
  outcome.messages = run.view.messages;
  outcome.logLines = LogEntries(qm::LogFileName(job.configPath()), dir.path());
  {
    qmtest::HostLogin repair(job.home());  // what the next login mends
    EXPECT_TRUE(repair.ok);
  }
  outcome.problems = job.Problems();
  for (const std::string& line : job.Snapshot())
    if (line.rfind("record ", 0) == 0)
      outcome.records.push_back(line.substr(7, line.find(' ', 7) - 7));
  return outcome;
}

// The calls to fail: all of them, or about `budget` spread evenly.
std::vector<uint64_t> Sample(uint64_t calls, uint64_t budget) {
  const char* all = std::getenv("QM_FAULTS_ALL");
  uint64_t count =
      (all && std::string(all) == "1") ? calls : std::min(calls, budget);
  std::vector<uint64_t> picks;
  for (uint64_t i = 0; i < count; ++i) picks.push_back(1 + i * calls / count);
  return picks;
}

// expectedCalls, when not 0, is the number of calls of kind a clean run
// makes.
void FailEachSampledCall(Kind kind, uint64_t budget,
                         uint64_t expectedCalls = 0) {
  Outcome clean = RunWithFault(kind, 0);
  if (expectedCalls != 0) {
    ASSERT_EQ(clean.calls, expectedCalls);
  }
  ASSERT_FALSE(clean.escaped);
  ASSERT_TRUE(clean.completed);
  ASSERT_TRUE(clean.messages.empty());
  ASSERT_EQ(clean.problems, std::vector<std::string>{});
  ASSERT_EQ(clean.records, qmtest::ReferenceJob::ExpectedRecords());
  ASSERT_GT(clean.calls, 0u);

  std::vector<std::string> silent;
  for (uint64_t n : Sample(clean.calls, budget)) {
    SCOPED_TRACE(std::string(KindName(kind)) + " call #" + std::to_string(n) +
                 " of " + std::to_string(clean.calls) + " fails");
    Outcome faulty = RunWithFault(kind, n);
    EXPECT_TRUE(faulty.fired);
    EXPECT_FALSE(faulty.escaped);
    // A run that stopped early says why in a box.
    EXPECT_TRUE(faulty.completed || !faulty.messages.empty());
    EXPECT_EQ(faulty.problems, std::vector<std::string>{});
    EXPECT_EQ(faulty.tempsInSession, std::vector<std::string>{});
    // A record the move failed to carry stays where it was.
    for (const std::string name : {"OLDNEWS.TXT", "OLDGAME.ZIP"}) {
      auto has = [&](const std::string& label) {
        return std::count(faulty.records.begin(), faulty.records.end(), label);
      };
      EXPECT_EQ(has("1:" + name) + has("3:" + name), 1) << name;
    }
    // Without descriptions, archives are still added.
    if (kind == Kind::Zip) {
      EXPECT_EQ(faulty.records, clean.records);
    }
    bool reported =
        !faulty.messages.empty() || faulty.logLines != clean.logLines;
    if (!reported && faulty.records != clean.records)
      silent.push_back(std::to_string(n));
  }
  // Failures that are not logged by design (a refused record addition) are
  // allowed; they are listed so that new ones get noticed.
  if (!silent.empty()) {
    std::cout << "[ note ] " << KindName(kind)
              << " failures that changed the records without a log line: #";
    for (const auto& n : silent) std::cout << n << " ";
    std::cout << "\n";
  }
}

TEST(FaultInjection, CountsCallsAndFailsOnlyTheArmedOne) {
  qmtest::TempDir dir;
  std::string path = dir / "a.txt";
  qmtest::WriteFile(path, "abc");
  std::string bytes;
  qm::fault::Arm(Kind::File, 2);
  EXPECT_TRUE(qm::ReadWholeFile(path, bytes));
  EXPECT_FALSE(qm::ReadWholeFile(path, bytes));
  EXPECT_TRUE(qm::fault::Fired());
  EXPECT_TRUE(qm::ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, "abc");
  qm::fault::Disarm();
  EXPECT_EQ(qm::fault::Calls(Kind::File), 3u);
  EXPECT_EQ(qm::fault::Calls(Kind::Host), 0u);

  // Disarmed, nothing fails and nothing is counted.
  EXPECT_TRUE(qm::ReadWholeFile(path, bytes));
  EXPECT_EQ(qm::fault::Calls(Kind::File), 3u);

  // A failed commit leaves the old file whole and no temporary file.
  qm::fault::Arm(Kind::File, 3);
  qm::AtomicWriter writer;
  uint32_t done = 0;
  ASSERT_TRUE(writer.Open(path));
  ASSERT_TRUE(writer.Write("new", 3, done));
  EXPECT_FALSE(writer.Commit());
  qm::fault::Disarm();
  EXPECT_EQ(ReadFile(path), "abc");
  EXPECT_EQ(qmtest::ListDir(dir.path()), std::vector<std::string>{"a.txt"});
}

TEST(FaultInjection, FailingHostCallsLeaveTheHostSound) {
  FailEachSampledCall(Kind::Host, 16);
}

TEST(FaultInjection, FailingFileCallsLeaveTheHostSound) {
  FailEachSampledCall(Kind::File, 16);
}

// Counts and extractions of GAME.ZIP, TOOLS.ZIP and LISTED.ZIP, and the
// failing count of DEMO.EXE: only the files' own names make archives (the
// test folder's random name once made every file one).
TEST(FaultInjection, FailingZipCallsLeaveTheHostSound) {
  FailEachSampledCall(Kind::Zip, 8, 7);
}

// What a refused or interrupted change leaves for the next login.
class CrashRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(home, {{1, "Uploads", "files/up"}});
    store = qm::host::AreaDirectory(home, 1);
    qmtest::MakeDirs(store);
  }
  // Runs a statement on the host database; the first column of its last
  // row.
  std::string Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    EXPECT_EQ(sqlite3_open(qm::host::DatabasePath(home).c_str(), &db),
              SQLITE_OK);
    auto keep = [](void* out, int, char** columns, char**) {
      *static_cast<std::string*>(out) = columns[0] ? columns[0] : "";
      return 0;
    };
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), keep, &value, nullptr), SQLITE_OK)
        << sql;
    sqlite3_close(db);
    return value;
  }

  qmtest::TempDir dir;
  std::string home = dir / "host";
  std::string store;
};

TEST_F(CrashRepair, RefusedFileRemovalKeepsTheRecord) {
  qmtest::HostLogin login(home);
  ASSERT_TRUE(login.ok);
  qmtest::WriteFile(store + "/GAME.ZIP", "game");
  ASSERT_TRUE(qmtest::AddRecord(1, "GAME.ZIP", {"A game"}));
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 1u);

  qm::fault::Arm(Kind::File, 1);  // the removal of the stored file
  EXPECT_FALSE(DeleteFileRec(records[0].Info, 1));
  qm::fault::Disarm();
  EXPECT_EQ(WcGetLastError(), static_cast<uint32_t>(WC_ACCESS_DENIED));
  auto kept = qmtest::AreaRecords(1);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Info.Id, records[0].Info.Id);
  EXPECT_STREQ(kept[0].Info.Description, "A game");
  EXPECT_EQ(ReadFile(store + "/GAME.ZIP"), "game");

  EXPECT_TRUE(DeleteFileRec(kept[0].Info, 1));
  EXPECT_TRUE(qmtest::AreaRecords(1).empty());
  EXPECT_FALSE(qmtest::Exists(store + "/GAME.ZIP"));
}

TEST_F(CrashRepair, LoginFinishesRemovalsOfDeletedRecordsFiles) {
  // A crash came after a record's deletion, before its file's removal; a
  // second removal note names a file that a newer record has taken.
  qmtest::WriteFile(store + "/GAME.ZIP", "deleted record's file");
  qmtest::WriteFile(store + "/NEW.ZIP", "a newer record's file");
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(qmtest::AddRecord(1, "NEW.ZIP"));
  }
  Sql("INSERT INTO moves(source, target) VALUES('" + store +
      "/GAME.ZIP', ''), ('" + store + "/NEW.ZIP', '')");
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    EXPECT_EQ(qmtest::AreaRecords(1).size(), 1u);
  }
  EXPECT_EQ(qmtest::ListDir(store), std::vector<std::string>{"NEW.ZIP"});
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM moves"), "0");
}

TEST_F(CrashRepair, LoginRemovesOnlyTheHostsWritesNoLiveWriterHolds) {
  const std::string mark = qm::host::kWriteMark;
  qmtest::WriteFile(store + "/.GAME.ZIP" + mark + "a1B2c3", "cut short");
  qmtest::WriteFile(home + "/.wcserver" + mark + "Zz9Yy8", "cut short");
  // The sysop's files, however they are named.
  qmtest::WriteFile(store + "/.keep", "not a write");
  qmtest::WriteFile(store + "/.GAME.ZIP.tmp.a1B2c3", "hidden, not ours");
  qmtest::WriteFile(store + "/NOTE.TXT" + mark + "123456", "visible");
  qm::AtomicWriter alive(mark);
  ASSERT_TRUE(alive.Open(store + "/NEW.TXT"));
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
  }
  std::vector<std::string> kept = {".GAME.ZIP.tmp.a1B2c3", ".keep",
                                   qm::FileNamePart(alive.TempPath()),
                                   "NOTE.TXT" + mark + "123456"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(qmtest::ListDir(store), kept);
  EXPECT_FALSE(qmtest::Exists(home + "/.wcserver" + mark + "Zz9Yy8"));
  uint32_t done = 0;
  ASSERT_TRUE(alive.Write("new", 3, done));
  ASSERT_TRUE(alive.Commit());
  EXPECT_EQ(ReadFile(store + "/NEW.TXT"), "new");
}

// A run killed between an upload's copy and its record: the next login
// removes the copy where the upload is still as it was read (the next run
// adds it again) and records it where it is not; a file that is no longer
// that copy, or that has a record, is left alone. The next run says what
// was done.
TEST_F(CrashRepair, LoginUndoesOrCompletesAddsAKillCutShort) {
  const std::string incoming = dir / "incoming";
  qmtest::MakeDirs(incoming);
  // Copies as a killed add leaves them: written, noted, not recorded.
  auto copyWithoutRecord = [&](const std::string& name) {
    const std::string upload = incoming + "/" + name;
    qmtest::WriteFile(upload, "upload " + name);
    const std::string target = "wc:\\file\\area(1)\\" + name;
    const WcHandle out =
        WcCreateFile(target.c_str(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    ASSERT_GT(out, 0);
    ASSERT_TRUE(WcJournalAdd(out, upload.c_str()));
    const std::string bytes = "upload " + name;
    uint32_t done = 0;
    ASSERT_TRUE(WcWriteFile(out, bytes.data(), uint32_t(bytes.size()), done));
    ASSERT_TRUE(WcCloseHandle(out));
  };
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    for (const char* name :
         {"KEPT.ZIP", "GONE.ZIP", "CHANGED.ZIP", "OTHERS.ZIP", "RECORDED.ZIP"})
      copyWithoutRecord(name);
  }
  std::filesystem::remove(incoming + "/GONE.ZIP");
  qmtest::WriteFile(incoming + "/CHANGED.ZIP", "rewritten since");
  // Someone put another file in one copy's place (as the host program
  // stores one), and recorded another.
  qmtest::WriteFile(store + "/.other", "someone else's");
  std::filesystem::rename(store + "/.other", store + "/OTHERS.ZIP");
  std::string error;
  TFullFileRecord theirs{};
  theirs.Info.Area = 1;
  qm::SetFieldText(theirs.Info.Name, kFileNameSize, "RECORDED.ZIP");
  ASSERT_TRUE(qm::host::AddFileRecord(home, theirs, error)) << error;

  qmtest::TestRun run(dir / "prog");
  run.state.logBaseName = dir / "run.cfg";
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    std::vector<std::string> recorded;
    for (const auto& record : qmtest::AreaRecords(1))
      recorded.push_back(record.Info.Name);
    EXPECT_EQ(recorded, (std::vector<std::string>{"CHANGED.ZIP", "GONE.ZIP",
                                                  "RECORDED.ZIP"}));
    qm::ReportAddRepairs(run.ctx);
    qm::ReportAddRepairs(run.ctx);  // each is told once
  }
  EXPECT_EQ(qmtest::ListDir(store),
            (std::vector<std::string>{"CHANGED.ZIP", "GONE.ZIP", "OTHERS.ZIP",
                                      "RECORDED.ZIP"}));
  EXPECT_EQ(ReadFile(store + "/CHANGED.ZIP"), "upload CHANGED.ZIP");
  EXPECT_EQ(ReadFile(store + "/OTHERS.ZIP"), "someone else's");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM adds"), "0");
  const std::string stored = " was stored without a record; ";
  const std::string up = incoming + "/";
  EXPECT_EQ(qmtest::LogEntries(dir / "run.err"),
            (std::vector<std::string>{
                "Repaired after a stopped run: FA# 1: KEPT.ZIP" + stored +
                    "the copy was removed, its upload " + up +
                    "KEPT.ZIP is still "
                    "there",
                "Repaired after a stopped run: FA# 1: GONE.ZIP" + stored +
                    "it was recorded without a description, its upload " + up +
                    "GONE.ZIP is gone or changed",
                "Repaired after a stopped run: FA# 1: CHANGED.ZIP" + stored +
                    "it was recorded without a description, its upload " + up +
                    "CHANGED.ZIP is gone or changed"}));

  // Storage that is not there at a login (a share not mounted) keeps its
  // copy's note for a login that finds it.
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    copyWithoutRecord("AWAY.ZIP");
  }
  std::filesystem::rename(store, store + ".away");
  for (const bool mounted : {false, true}) {
    if (mounted) std::filesystem::rename(store + ".away", store);
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM adds"), mounted ? "0" : "1");
  }
  EXPECT_FALSE(qmtest::Exists(store + "/AWAY.ZIP"));
}

TEST_F(CrashRepair, DamagedDatabaseNeverReplacesRecordedFiles) {
  const std::vector<std::string> names = {"ALPHA.ZIP", "BETA.ZIP", "GAMMA.TXT"};
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    for (const std::string& name : names) {
      qmtest::WriteFile(store + "/" + name, "stored " + name);
      ASSERT_TRUE(qmtest::AddRecord(1, name));
    }
  }
  // Newer uploads of the same names, and a new one, wait elsewhere.
  const std::string incoming = dir / "incoming";
  qmtest::MakeDirs(incoming);
  for (const std::string& name : names)
    qmtest::WriteFile(incoming + "/" + name, "newer " + name);
  qmtest::WriteFile(incoming + "/FRESH.ZIP", "fresh");

  // Garbage over one page of the database: the index of the record names.
  const int page = std::stoi(
      Sql("SELECT rootpage FROM sqlite_master WHERE name = 'files_key'"));
  const int pageSize = std::stoi(Sql("PRAGMA page_size"));
  std::string garbage(pageSize, '\0');
  for (int i = 0; i < pageSize; ++i) garbage[i] = char(i * 151 + 7);
  const int fd = open(qm::host::DatabasePath(home).c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(
      pwrite(fd, garbage.data(), garbage.size(), off_t(page - 1) * pageSize),
      pageSize);
  close(fd);

  qmtest::TestRun run(dir / "prog");
  run.state.logBaseName = dir / "run.cfg";
  {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    qm::AddNewFiles(run.ctx, 1, "Scan For New", incoming + "/*.*", "NA", "NA",
                    store);
  }
  for (const std::string& name : names)
    EXPECT_EQ(ReadFile(store + "/" + name), "stored " + name);
  EXPECT_EQ(qmtest::ListDir(store), names);  // the entry ended
  EXPECT_EQ(qmtest::LogEntries(dir / "run.err"),
            std::vector<std::string>{"Could not read the file records of "
                                     "file area #1 (WC_NO_ACTION_TAKEN)"});
}

}  // namespace
