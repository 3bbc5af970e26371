#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "actions/ContentIndex.h"
#include "host/HostAdmin.h"
#include "tests/support/TestSupport.h"

namespace {

// A host with two areas, logged in; the index lives in the program
// directory tmp/prog, the log in tmp/run.err.
class ContentIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(tmp / "host",
                     {{1, "One", "files1"}, {2, "Two", "files2"}});
    for (int area : {1, 2}) {
      dirs[area] = qm::host::AreaDirectory(tmp / "host", area) + "/";
      qmtest::MakeDirs(dirs[area]);
    }
    qmtest::MakeDirs(tmp / "prog");
    login = std::make_unique<qmtest::HostLogin>(tmp / "host");
    ASSERT_TRUE(login->ok);
    run.state.logBaseName = tmp / "run.cfg";
  }

  void Stored(int area, const std::string& name, const std::string& bytes) {
    qmtest::WriteFile(dirs[area] + name, bytes);
    ASSERT_TRUE(qmtest::AddRecord(area, name));
  }
  qm::Digest Hash(const std::string& bytes, uint64_t& size) {
    const std::string path = tmp / "probe";
    qmtest::WriteFile(path, bytes);
    qm::Digest hash{};
    EXPECT_TRUE(qm::HashLocalFile(path, size, hash));
    return hash;
  }
  std::string Found(const std::string& bytes) {
    uint64_t size = 0;
    const qm::Digest hash = Hash(bytes, size);
    const auto same = index->FindSame(size, hash);
    return same ? std::to_string(same->area) + ":" + same->name : "";
  }
  std::vector<std::string> Groups() {
    std::vector<std::string> lines;
    for (const auto& group : index->Groups()) {
      std::string line;
      for (const auto& file : group)
        line += std::to_string(file.area) + ":" + file.name + " ";
      lines.push_back(line);
    }
    return lines;
  }
  std::vector<std::string> Log() { return qmtest::LogEntries(tmp / "run.err"); }

  qmtest::TempDir tmp;
  std::string dirs[3];
  std::unique_ptr<qmtest::HostLogin> login;
  qmtest::TestRun run{tmp / "prog"};
  std::unique_ptr<qm::ContentIndex> index;
};

using Lines = std::vector<std::string>;

// A damaged database is built again from the host and written back, so the
// next run finds the same files without saying so again.
TEST_F(ContentIndex, DamagedDatabaseIsBuiltAgainAndKept) {
  Stored(1, "GAME.ZIP", "game bytes");
  Stored(2, "COPY.ZIP", "game bytes");
  Stored(2, "EMPTY1", "");
  Stored(1, "EMPTY2", "");
  const std::string db = tmp / "prog/quillmar.db";
  qmtest::WriteFile(db, std::string(4096, '\x5A'));
  index = std::make_unique<qm::ContentIndex>(run.ctx);
  EXPECT_EQ(Log(),
            Lines{"Duplicate index was damaged and is built again: " + db});
  EXPECT_EQ(Found("game bytes"), "1:GAME.ZIP");
  EXPECT_EQ(Found(""), "");  // empty files are no copies
  EXPECT_EQ(Found("other"), "");
  EXPECT_EQ(Groups(), Lines{"1:GAME.ZIP 2:COPY.ZIP "});
  index.reset();
  EXPECT_EQ(qmtest::IndexRows(db), 4);

  index = std::make_unique<qm::ContentIndex>(run.ctx);
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_EQ(Found("game bytes"), "1:GAME.ZIP");
}

// A stored file rewritten behind the index's back, even with its size and
// time kept, is never taken for what it held; it counts as what it holds.
TEST_F(ContentIndex, StaleEntriesNeverCount) {
  Stored(1, "A.DAT", std::string(100, 'a'));
  Stored(2, "C.DAT", std::string(100, 'a'));
  Stored(2, "B.DAT", std::string(100, 'b'));
  index = std::make_unique<qm::ContentIndex>(run.ctx);
  EXPECT_EQ(Groups(), Lines{"1:A.DAT 2:C.DAT "});
  index.reset();

  const std::string rewritten = dirs[1] + "A.DAT";
  const auto time = std::filesystem::last_write_time(rewritten);
  qmtest::WriteFile(rewritten, std::string(100, 'b'));
  std::filesystem::last_write_time(rewritten, time);
  index = std::make_unique<qm::ContentIndex>(run.ctx);
  EXPECT_EQ(Groups(), Lines{"1:A.DAT 2:B.DAT "});
  EXPECT_EQ(Found(std::string(100, 'a')), "2:C.DAT");
  EXPECT_EQ(Log(), Lines{});
}

}  // namespace
