#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "actions/Transfer.h"
#include "actions/UnzipFile.h"
#include "host/HostAdmin.h"
#include "host/HostStore.h"
#include "platform/FaultInjection.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
  return bytes;
}

std::string StripSlash(std::string dir) {
  if (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

TEST(HostPathTest, Notation) {
  EXPECT_EQ(qm::HostPath(12, "GAME.ZIP"), "wc:\\file\\area(12)\\GAME.ZIP");
  EXPECT_EQ(qm::HostPath(0, "A"), "wc:\\file\\area(0)\\A");
  EXPECT_TRUE(qm::IsHostPath("wc:\\file\\area(3)\\X.ZIP"));
  EXPECT_TRUE(qm::IsHostPath("WC:\\file\\area(3)\\X.ZIP"));
  EXPECT_TRUE(qm::IsHostPath("Wc:\\"));
  EXPECT_FALSE(qm::IsHostPath("wc:/file/area(3)/X.ZIP"));
  EXPECT_FALSE(qm::IsHostPath("wc:"));
  EXPECT_FALSE(qm::IsHostPath("C:\\wc:\\X.ZIP"));
  EXPECT_FALSE(qm::IsHostPath("/tmp/wc:\\X"));
}

// A host with areas 1 and 2, logged in; the run log is tmp/run.err.
class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(tmp / "host",
                     {{1, "One", "files1"}, {2, "Two", "files2"}});
    dir1 = StripSlash(qm::host::AreaDirectory(tmp / "host", 1));
    dir2 = StripSlash(qm::host::AreaDirectory(tmp / "host", 2));
    ASSERT_FALSE(dir1.empty());
    qmtest::MakeDirs(dir1);
    qmtest::MakeDirs(dir2);
    qmtest::MakeDirs(tmp / "up");
    login = std::make_unique<qmtest::HostLogin>(tmp / "host");
    ASSERT_TRUE(login->ok);
    run.state.logBaseName = tmp / "run.cfg";
  }

  std::vector<std::string> Log() { return qmtest::LogEntries(tmp / "run.err"); }
  std::string Up(const std::string& name) const { return tmp / ("up/" + name); }
  bool Transfer(const std::string& from, const std::string& to) {
    return qm::TransferFile(run.ctx, from, to, "cap");
  }
  bool Add(const std::string& path, bool transfer) {
    return qm::AddFileToArea(run.ctx, path, 1, transfer, "file_id.diz", false);
  }
  static uint64_t LocalMTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    uint64_t local = 0;
    EXPECT_TRUE(qm::FileTimeToLocalFileTime(
        qm::UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), local));
    return local;
  }

  qmtest::TempDir tmp;
  std::string dir1, dir2;
  std::unique_ptr<qmtest::HostLogin> login;
  qmtest::TestRun run{tmp / "prog"};
};

TEST_F(TransferTest, CopiesInBlocksWithProgress) {
  for (size_t size : {0, 4096, 10000}) {
    SCOPED_TRACE(size);
    const std::string name = "F" + std::to_string(size) + ".BIN";
    qmtest::WriteFile(Up(name), Bytes(size));
    ASSERT_TRUE(Transfer(Up(name), qm::HostPath(1, name)));
    EXPECT_EQ(qmtest::ReadFile(dir1 + "/" + name), Bytes(size));
    EXPECT_EQ(run.view.progressCaptions.back(), "cap");
    EXPECT_EQ(run.view.progressMaxima.back(), static_cast<int>(size / 4096));
    EXPECT_EQ(run.view.progressLastPositions.back(),
              static_cast<int>(size / 4096));
  }
  EXPECT_EQ(run.view.progressCaptions.size(), 3u);
}

TEST_F(TransferTest, CopiesEitherWay) {
  qmtest::WriteFile(dir1 + "/STORED.BIN", Bytes(5000));
  // Host to local, replacing an existing file.
  qmtest::WriteFile(Up("out.bin"), "old");
  ASSERT_TRUE(Transfer(qm::HostPath(1, "STORED.BIN"), Up("out.bin")));
  EXPECT_EQ(qmtest::ReadFile(Up("out.bin")), Bytes(5000));
  // Host to host, the prefix in capitals.
  ASSERT_TRUE(Transfer("WC:\\file\\area(1)\\STORED.BIN",
                       "WC:\\file\\area(2)\\COPY.BIN"));
  EXPECT_EQ(qmtest::ReadFile(dir2 + "/COPY.BIN"), Bytes(5000));
  // Local to local; the source name is found without regard to case.
  ASSERT_TRUE(Transfer(Up("OUT.BIN"), Up("again.bin")));
  EXPECT_EQ(qmtest::ReadFile(Up("again.bin")), Bytes(5000));
  EXPECT_EQ(qmtest::ListDir(tmp / "up"),
            (std::vector<std::string>{"again.bin", "out.bin"}));
}

TEST_F(TransferTest, FailedCopyLeavesTargetsAlone) {
  qmtest::WriteFile(dir1 + "/KEEP.BIN", "old stored");
  qmtest::WriteFile(Up("keep.bin"), "old local");
  qmtest::WriteFile(Up("big.bin"), Bytes(10000));

  EXPECT_FALSE(Transfer(Up("none.bin"), qm::HostPath(1, "N.BIN")));
  EXPECT_FALSE(Transfer(tmp / "up", qm::HostPath(1, "N.BIN")));
  EXPECT_FALSE(Transfer(qm::HostPath(1, "NONE.BIN"), Up("n.bin")));
  EXPECT_FALSE(Transfer(Up("big.bin"), qm::HostPath(9, "N.BIN")));

  // The progress window's Cancel stops the copy after the first block.
  run.view.cancelProgress = true;
  EXPECT_FALSE(Transfer(Up("big.bin"), qm::HostPath(1, "KEEP.BIN")));
  EXPECT_FALSE(Transfer(Up("big.bin"), qm::HostPath(1, "NEW.BIN")));
  EXPECT_FALSE(Transfer(Up("big.bin"), Up("keep.bin")));
  EXPECT_FALSE(Transfer(qm::HostPath(1, "KEEP.BIN"), Up("n.bin")));
  EXPECT_EQ(run.view.progressLastPositions.back(), 0);
  EXPECT_EQ(run.view.progressLastPositions.front(), 1);

  EXPECT_EQ(qmtest::ReadFile(dir1 + "/KEEP.BIN"), "old stored");
  EXPECT_EQ(qmtest::ReadFile(Up("keep.bin")), "old local");
  EXPECT_EQ(qmtest::ListDir(dir1), std::vector<std::string>{"KEEP.BIN"});
  EXPECT_EQ(qmtest::ListDir(tmp / "up"),
            (std::vector<std::string>{"big.bin", "keep.bin"}));
  EXPECT_EQ(Log(), std::vector<std::string>{});
}

TEST_F(TransferTest, FilesOf2GiBAreRefused) {
  const std::string big = Up("HUGE.BIN");
  qmtest::WriteFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 0x80000000LL), 0);
  EXPECT_FALSE(Transfer(big, qm::HostPath(1, "HUGE.BIN")));
  EXPECT_FALSE(Add(big, true));
  EXPECT_FALSE(qmtest::Exists(dir1 + "/HUGE.BIN"));
  EXPECT_TRUE(qmtest::AreaRecords(1).empty());
  const std::string line =
      "File: " + big + " is 2 GB or larger: too large for a file area record";
  EXPECT_EQ(Log(), (std::vector<std::string>{line, line}));
}

TEST_F(TransferTest, AddFileToAreaChecksTheNameLength) {
  qmtest::WriteFile(Up("ABCDEFGHIJ.ZIP"), "fourteen");
  qmtest::WriteFile(Up("ABCDEFGHIJK.ZIP"), "fifteen");
  EXPECT_TRUE(Add(Up("ABCDEFGHIJ.ZIP"), true));
  EXPECT_FALSE(Add(Up("ABCDEFGHIJK.ZIP"), true));
  EXPECT_EQ(Log(), std::vector<std::string>{
                       "ABCDEFGHIJK.ZIP filename too long. 14 or less chars "
                       "only."});
  EXPECT_EQ(qmtest::ListDir(dir1), std::vector<std::string>{"ABCDEFGHIJ.ZIP"});
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].Info.Name, "ABCDEFGHIJ.ZIP");
  EXPECT_EQ(run.view.progressCaptions,
            std::vector<std::string>{"Copy File to FileArea #1"});
}

TEST_F(TransferTest, AddedRecordsCarrySizeAndLocalTime) {
  qmtest::WriteFile(Up("COPIED.ZIP"), Bytes(10000));
  qmtest::WriteFile(dir1 + "/INPLACE.ZIP", Bytes(123));
  qmtest::SetMTime(dir1 + "/INPLACE.ZIP", 946684800);
  ASSERT_TRUE(Add(Up("COPIED.ZIP"), true));
  ASSERT_TRUE(Add(dir1 + "/INPLACE.ZIP", false));
  EXPECT_EQ(run.view.progressCaptions.size(), 1u);  // only the copy

  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Info.Size, 10000);
  const int64_t stored = static_cast<int64_t>(LocalMTime(dir1 + "/COPIED.ZIP"));
  EXPECT_NEAR(static_cast<double>(records[0].Info.FileTime),
              static_cast<double>(stored), 2.0 * qm::kTicksPerSecond);
  EXPECT_EQ(records[1].Info.Size, 123);
  uint64_t local = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(946684800), local));
  EXPECT_EQ(uint64_t{records[1].Info.FileTime}, local);
  EXPECT_EQ(qmtest::ReadFile(dir1 + "/COPIED.ZIP"), Bytes(10000));
}

TEST_F(TransferTest, AddNeverCopiesOverARecordedFile) {
  ASSERT_TRUE(qmtest::AddRecord(1, "HAVE.ZIP", {"mine"}));
  qmtest::WriteFile(dir1 + "/HAVE.ZIP", "stored");
  qmtest::WriteFile(Up("have.zip"), "newcomer");
  EXPECT_FALSE(Add(Up("have.zip"), true));
  // A lookup that fails is no "not found" either.
  qm::fault::Arm(qm::fault::Kind::Host, 1);
  EXPECT_FALSE(Add(Up("have.zip"), true));
  qm::fault::Disarm();
  EXPECT_EQ(qmtest::ReadFile(dir1 + "/HAVE.ZIP"), "stored");
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "File: have.zip is already in file area #1: not "
                       "copied from " +
                           Up("have.zip"),
                       "File: have.zip could not be looked up in file area "
                       "#1 (WC_NO_ACTION_TAKEN): not copied from " +
                           Up("have.zip")}));
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].Info.Description, "mine");
}

TEST_F(TransferTest, FailedCopyAddsNoRecord) {
  qmtest::WriteFile(Up("X.ZIP"), "x");
  EXPECT_FALSE(
      qm::AddFileToArea(run.ctx, Up("X.ZIP"), 9, true, "file_id.diz", false));
  // Storage that is not there (a share not mounted) is not made locally.
  ASSERT_EQ(rmdir(dir2.c_str()), 0);
  EXPECT_FALSE(
      qm::AddFileToArea(run.ctx, Up("X.ZIP"), 2, true, "file_id.diz", false));
  EXPECT_FALSE(qmtest::Exists(dir2));
  run.view.cancelProgress = true;
  EXPECT_FALSE(Add(Up("X.ZIP"), true));
  EXPECT_TRUE(qmtest::AreaRecords(1).empty());
  EXPECT_TRUE(qmtest::AreaRecords(2).empty());
  EXPECT_TRUE(qmtest::ListDir(dir1).empty());
  const std::string line =
      "Error copying file: " + Up("X.ZIP") + " to filearea server path";
  EXPECT_EQ(Log(), (std::vector<std::string>{line, line, line}));
}

TEST_F(TransferTest, ACopyWhoseRecordIsRefusedIsRemoved) {
  qmtest::WriteFile(Up("NEW.ZIP"), "new upload");
  // The disk fills up: the database cannot grow past its journal's end.
  struct stat journal {};
  ASSERT_EQ(
      stat((qm::host::DatabasePath(tmp / "host") + "-wal").c_str(), &journal),
      0);
  // Full from the start, the add cannot even be noted: nothing is copied.
  {
    qmtest::FileSizeLimit full(journal.st_size + 1024);
    EXPECT_FALSE(Add(Up("NEW.ZIP"), true));
  }
  EXPECT_EQ(run.view.progressCaptions.size(), 0u);
  // Full once the copy is made: its record is refused.
  std::optional<qmtest::FileSizeLimit> full;
  qm::fault::WatchPoints([&](const char* point) {
    if (std::string(point) == "transfer commit")
      full.emplace(journal.st_size + 1024);
  });
  EXPECT_FALSE(Add(Up("NEW.ZIP"), true));
  qm::fault::WatchPoints({});
  full.reset();
  EXPECT_EQ(run.view.progressCaptions.size(), 1u);  // it was copied
  EXPECT_TRUE(qmtest::ListDir(dir1).empty());
  EXPECT_TRUE(qmtest::AreaRecords(1).empty());
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Error copying file: " + Up("NEW.ZIP") +
                           " to filearea server path",
                       "Could not add a record for file: NEW.ZIP to file "
                       "area #1 (WC_NO_ACTION_TAKEN): the copy was removed"}));
  EXPECT_EQ(qmtest::ReadFile(Up("NEW.ZIP")), "new upload");

  // Temp cannot be made after the copy: the run stops, the copy goes.
  TUnzipFile unzip(qmtest::BinDir());
  run.ctx.unzip = &unzip;
  qmtest::WriteFile(tmp / "plain", "where the program directory should be");
  run.state.programDir = tmp / "plain/";
  qmtest::MakeZip(Up("GAME.ZIP"), {{"FILE_ID.DIZ", "a game"}});
  EXPECT_THROW(
      qm::AddFileToArea(run.ctx, Up("GAME.ZIP"), 1, true, "file_id.diz"),
      std::runtime_error);
  EXPECT_EQ(run.view.progressCaptions.size(), 2u);
  EXPECT_TRUE(qmtest::ListDir(dir1).empty());
  EXPECT_TRUE(qmtest::AreaRecords(1).empty());
  EXPECT_EQ(Log().back(),
            "Could not add a record for file: GAME.ZIP to file area #1: the "
            "run stopped: the copy was removed");
}

// Another writer racing an add between its look-up and its record (the
// host program storing, or storing and recording, the same name, before the
// copy starts or while it is made), or a link put in the upload's place:
// the add stores nothing, and the other file stays as it is.
TEST_F(TransferTest, WhatComesMeanwhileIsNeverReplaced) {
  qmtest::WriteFile(tmp / "other", "the host program's file");
  qmtest::WriteFile(tmp / "secret", "a file of the sysop's own");
  const std::string took =
      " to filearea server path: file area #1 already holds a file of that "
      "name (it stays as it is)";
  struct Row {
    std::string name, point;
    std::function<void(const std::string&)> race;
    std::string line;
  };
  auto store = [&](const std::string& name) {
    std::string error;
    ASSERT_TRUE(
        qm::host::StoreFile(tmp / "host", 1, name, tmp / "other", error))
        << error;
  };
  auto storeAndRecord = [&](const std::string& name) {
    store(name);
    TFullFileRecord record{};
    record.Info.Area = 1;
    qm::SetFieldText(record.Info.Name, kFileNameSize, name);
    std::string error;
    ASSERT_TRUE(qm::host::AddFileRecord(tmp / "host", record, error)) << error;
  };
  auto link = [&](const std::string& name) {
    std::remove(Up(name).c_str());
    ASSERT_EQ(symlink((tmp / "secret").c_str(), Up(name).c_str()), 0);
  };
  const std::vector<Row> rows = {
      {"THERE.ZIP", "before transfer", store,
       "Error copying file: " + Up("THERE.ZIP") + took},
      {"STORED.ZIP", "transfer commit", store,
       "Error copying file: " + Up("STORED.ZIP") + took},
      {"RECORDED.ZIP", "transfer commit", storeAndRecord,
       "Error copying file: " + Up("RECORDED.ZIP") + took},
      {"LINKED.ZIP", "before transfer", link,
       "Error copying file: " + Up("LINKED.ZIP") + " to filearea server path"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    qmtest::WriteFile(Up(row.name), std::string(10000, 'u'));
    qm::fault::WatchPoints([&](const char* point) {
      if (row.point == point) row.race(row.name);
    });
    EXPECT_FALSE(Add(Up(row.name), true));
    qm::fault::WatchPoints({});
    EXPECT_EQ(Log().back(), row.line);
  }
  EXPECT_EQ(
      qmtest::ListDir(dir1),
      (std::vector<std::string>{"RECORDED.ZIP", "STORED.ZIP", "THERE.ZIP"}));
  for (const std::string name : {"RECORDED.ZIP", "STORED.ZIP", "THERE.ZIP"})
    EXPECT_EQ(qmtest::ReadFile(dir1 + "/" + name), "the host program's file");
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Info.Size, 23);
  EXPECT_EQ(Log().size(), 4u);
  EXPECT_EQ(run.view.progressCaptions.size(), 2u);  // copies meanwhile only
}

TEST_F(TransferTest, FreshenReadsTheStoredFile) {
  qmtest::WriteFile(dir1 + "/GROW.ZIP", "1");
  ASSERT_TRUE(qmtest::AddRecord(1, "GROW.ZIP"));
  ASSERT_TRUE(qmtest::AddRecord(1, "NOFILE.ZIP"));
  auto records = qmtest::AreaRecords(1);
  ASSERT_EQ(records.size(), 2u);

  qmtest::WriteFile(dir1 + "/GROW.ZIP", "12345");
  qmtest::SetMTime(dir1 + "/GROW.ZIP", 1234567890);
  TFullFileRecord grow = records[0];
  EXPECT_TRUE(qm::FreshenFileRecord(run.ctx, grow));
  EXPECT_EQ(grow.Info.Size, 1);  // the caller's record stays as it was
  auto after = qmtest::AreaRecords(1);
  EXPECT_EQ(after[0].Info.Size, 5);
  uint64_t local = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(1234567890), local));
  EXPECT_EQ(uint64_t{after[0].Info.FileTime}, local);

  EXPECT_FALSE(qm::FreshenFileRecord(run.ctx, records[1]));
  EXPECT_EQ(Log(), std::vector<std::string>{
                       "Could not Freshen file: NOFILE.ZIP in FA# 1"});
}

}  // namespace
