#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

using qmtest::TempDir;

TEST(PlatformWildcards, MatchLikeTheDirectorySearch) {
  EXPECT_TRUE(qm::WildcardMatch("*.*", "README"));
  EXPECT_TRUE(qm::WildcardMatch("*.ZIP", "game.zip"));
  EXPECT_FALSE(qm::WildcardMatch("*.ZIP", "game.zip.txt"));
  EXPECT_TRUE(qm::WildcardMatch("G?ME.*", "game.arj"));
  EXPECT_FALSE(qm::WildcardMatch("G?ME.*", "gme.arj"));
  EXPECT_TRUE(qm::WildcardMatch("*a*b*c", "xxaxxbxxc"));
  EXPECT_FALSE(qm::WildcardMatch("*a*b*c", "xxaxxcxxb"));
}

TEST(PlatformFiles, FindsNamesWithoutRegardToCaseExactFirst) {
  TempDir dir;
  qmtest::WriteFile(dir / "Game.Zip", "1");
  EXPECT_EQ(qm::ResolveExisting(dir / "GAME.ZIP"), dir / "Game.Zip");
  EXPECT_TRUE(qm::FileExists(dir / "game.zip"));
  EXPECT_FALSE(qm::FileExists(dir / "other.zip"));
  qmtest::WriteFile(dir / "GAME.ZIP", "2");
  EXPECT_EQ(qm::ResolveExisting(dir / "GAME.ZIP"), dir / "GAME.ZIP");
  // A file added later is seen although the directory was indexed before.
  qmtest::WriteFile(dir / "Later.txt", "3");
  EXPECT_EQ(qm::ResolveExisting(dir / "LATER.TXT"), dir / "Later.txt");
  EXPECT_TRUE(qm::DeleteLocalFile(dir / "LATER.TXT"));
  EXPECT_FALSE(qmtest::Exists(dir / "Later.txt"));
}

TEST(PlatformFiles, NamesCreatedRightAfterALookupAreFound) {
  TempDir dir;
  qmtest::WriteFile(dir / "first.txt", "1");
  // Index the directory, then add files within the same clock tick.
  EXPECT_EQ(qm::ResolveExisting(dir / "FIRST.TXT"), dir / "first.txt");
  for (int i = 0; i < 20; ++i) {
    std::string name = "new" + std::to_string(i) + ".txt";
    qmtest::WriteFile(dir / name, "x");
    EXPECT_EQ(qm::ResolveExisting(dir / qm::UpperCase(name)), dir / name);
  }
  // Our own writes and moves keep the lookup in step.
  uint32_t done = 0;
  qm::AtomicWriter writer;
  ASSERT_TRUE(writer.Open(dir / "Own.txt"));
  ASSERT_TRUE(writer.Write("o", 1, done));
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(qm::ResolveExisting(dir / "OWN.TXT"), dir / "Own.txt");
  ASSERT_TRUE(qm::MoveLocalFile(dir / "Own.txt", dir / "Moved.txt"));
  EXPECT_EQ(qm::ResolveExisting(dir / "OWN.TXT"), "");
  EXPECT_EQ(qm::ResolveExisting(dir / "MOVED.TXT"), dir / "Moved.txt");
}

TEST(PlatformFiles, SearchSkipsHiddenDirectoriesAndLinks) {
  TempDir dir;
  qmtest::WriteFile(dir / "a.zip", "1");
  qmtest::WriteFile(dir / "B.ZIP", "22");
  qmtest::WriteFile(dir / ".hidden.zip", "3");
  qmtest::MakeDirs(dir / "sub.zip");
  ASSERT_EQ(symlink((dir / "a.zip").c_str(), (dir / "link.zip").c_str()), 0);
  auto found = qm::FindFiles(dir / "*.zip");
  EXPECT_EQ(found.error, 0);
  ASSERT_EQ(found.files.size(), 2u);
  EXPECT_EQ(found.files[0].name, "B.ZIP");
  EXPECT_EQ(found.files[0].size, 2u);
  EXPECT_EQ(found.files[1].name, "a.zip");
}

// A folder that cannot be read is never taken for an empty one.
TEST(PlatformFiles, SearchSaysWhyAFolderCannotBeRead) {
  TempDir dir;
  qmtest::WriteFile(dir / "a.zip", "1");
  auto missing = qm::FindFiles(dir / "missing/*.*");
  EXPECT_TRUE(missing.files.empty());
  EXPECT_EQ(missing.error, ENOENT);

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  rlimit none = saved;
  none.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  auto starved = qm::FindFiles(dir / "*");
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(starved.error, EMFILE);

  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
  qmtest::AsUnprivileged nobody;
  EXPECT_EQ(qm::FindFiles(dir / "*").error, EACCES);
}

// A folder made in a group's shared folder is the group's to use too,
// whatever the umask; elsewhere the umask rules.
TEST(PlatformFiles, FolderInASharedFolderIsShared) {
  TempDir dir;
  qmtest::MakeDirs(dir / "shared");
  qmtest::MakeDirs(dir / "own");
  ASSERT_EQ(chmod((dir / "shared").c_str(), 02775), 0);
  ASSERT_EQ(chmod((dir / "own").c_str(), 0755), 0);
  const mode_t saved = umask(077);
  for (const std::string parent : {"shared", "own"}) {
    const int fd = open((dir / parent).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(qm::MakeDirectoryLikeParent(fd, "Temp"));
    EXPECT_FALSE(qm::MakeDirectoryLikeParent(fd, "Temp"));
    EXPECT_EQ(errno, EEXIST);
    close(fd);
  }
  umask(saved);
  struct stat shared {
  }, own{};
  ASSERT_EQ(stat((dir / "shared/Temp").c_str(), &shared), 0);
  ASSERT_EQ(stat((dir / "own/Temp").c_str(), &own), 0);
  EXPECT_EQ(shared.st_mode & 07777, 02770u);
  EXPECT_EQ(own.st_mode & 07777, 0700u);
}

// A window waits for the whole read of a large directory otherwise.
TEST(PlatformFiles, LongSearchHandsBackControlAndStopsWhenTold) {
  TempDir dir;
  for (int i = 0; i < 1000; ++i)
    qmtest::WriteFile(dir / ("f" + std::to_string(i)), "");
  int calls = 0;
  auto all = qm::FindFiles(dir / "*", false, [&] { return ++calls > 0; });
  EXPECT_EQ(all.files.size(), 1000u);
  EXPECT_GE(calls, 3);
  auto stopped = qm::FindFiles(dir / "*", false, [] { return false; });
  EXPECT_LT(stopped.files.size(), 1000u);
  EXPECT_EQ(stopped.error, 0);

  // The name index read by a case-blind lookup breaks too, while the
  // lookup that wanted it waits; a lookup made during a break gets through.
  int breaks = 0;
  std::string inBreak;
  {
    const qm::LongReadBreaks answer([&] {
      if (++breaks == 1) inBreak = qm::ResolveExisting(dir / "F999");
    });
    EXPECT_EQ(qm::ResolveExisting(dir / "F7"), dir / "f7");
  }
  EXPECT_GE(breaks, 3);
  EXPECT_EQ(inBreak, dir / "f999");
  const int before = breaks;  // none once their owner is gone
  qmtest::WriteFile(dir / "g", "");
  EXPECT_EQ(qm::ResolveExisting(dir / "G"), dir / "g");
  EXPECT_EQ(breaks, before);
}

TEST(PlatformFiles, TextLinesEndAtCrLfOrPairAndNulEndsText) {
  TempDir dir;
  qmtest::WriteFile(dir / "t.txt",
                    std::string("one\r\ntwo\rthree\nfour\0five", 24));
  std::vector<std::string> lines;
  ASSERT_TRUE(qm::ReadTextLines(dir / "t.txt", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}));
  qmtest::WriteFile(dir / "b.txt", "\r\n\r\nx\r\n");
  ASSERT_TRUE(qm::ReadTextLines(dir / "b.txt", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"", "", "x"}));
  EXPECT_FALSE(qm::ReadTextLines(dir / "none.txt", lines));
}

TEST(PlatformFiles, AtomicWriterReplacesOnlyWhenCommitted) {
  TempDir dir;
  qmtest::WriteFile(dir / "target.txt", "old");
  uint32_t done = 0;
  {
    qm::AtomicWriter writer;
    ASSERT_TRUE(writer.Open(dir / "target.txt"));
    ASSERT_TRUE(writer.Write("new bytes", 9, done));
  }  // abandoned
  EXPECT_EQ(qmtest::ReadFile(dir / "target.txt"), "old");
  EXPECT_EQ(qmtest::ListDir(dir.path()).size(), 1u);
  // A killed writer's file goes with the next write to its target; a
  // sysop's look-alike for another name stays.
  qmtest::WriteFile(dir / ".target.txt.tmp.AbCdEf", "killed");
  qmtest::WriteFile(dir / ".other.txt.tmp.AbCdEf", "sysop's");
  qm::AtomicWriter writer;
  ASSERT_TRUE(writer.Open(dir / "TARGET.TXT"));  // keeps the on-disk name
  ASSERT_TRUE(writer.Write("new bytes", 9, done));
  EXPECT_EQ(done, 9u);
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(qmtest::ReadFile(dir / "target.txt"), "new bytes");
  EXPECT_EQ(qmtest::ListDir(dir.path()),
            (std::vector<std::string>{".other.txt.tmp.AbCdEf", "target.txt"}));
  qm::AtomicWriter blocked;
  EXPECT_FALSE(blocked.Open(dir / "missing-dir/x.txt"));
}

// Reads and writes are buffered: blocks of every size, across the buffers'
// edges, still give the bytes whole and in order.
TEST(PlatformFiles, BlocksOfAnySizeCopyWhole) {
  TempDir dir;
  std::string bytes(700 * 1024 + 13, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7 + i / 4099);
  qmtest::WriteFile(dir / "source.bin", bytes);
  for (uint32_t block : {1u, 4096u, 65537u, 1u << 20}) {
    SCOPED_TRACE(block);
    qm::LocalReader reader;
    qm::AtomicWriter writer(qm::kDefaultWriteMark, true);
    ASSERT_TRUE(reader.Open(dir / "source.bin"));
    ASSERT_TRUE(writer.Open(dir / "copy.bin"));
    std::string buffer(block, '\0');
    uint32_t got = 0, put = 0;
    do {
      ASSERT_TRUE(reader.Read(buffer.data(), block, got));
      ASSERT_TRUE(writer.Write(buffer.data(), got, put));
      ASSERT_EQ(put, got);
    } while (got > 0);
    ASSERT_TRUE(writer.Commit());
    EXPECT_TRUE(qmtest::ReadFile(dir / "copy.bin") == bytes);
  }
}

// Every opener goes through OpenRegularFile: a FIFO (with or without a
// process at its other end) or a directory fails at once.
TEST(PlatformFiles, SpecialFilesFailWithoutBlocking) {
  qmtest::Watchdog watchdog;
  TempDir dir;
  const std::string fifo = dir / "pipe.txt";
  qmtest::MakeFifo(fifo);
  qmtest::MakeDirs(dir / "folder.txt");
  std::string bytes;
  std::vector<std::string> lines;
  for (int reader : {-1, open(fifo.c_str(), O_RDONLY | O_NONBLOCK)}) {
    for (const std::string& path : {fifo, dir / "folder.txt"}) {
      SCOPED_TRACE(path + (reader >= 0 ? " with a reader" : ""));
      EXPECT_LT(qm::OpenRegularFile(path, O_RDONLY), 0);
      EXPECT_LT(qm::OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND), 0);
      EXPECT_FALSE(qm::ReadWholeFile(path, bytes));
      EXPECT_FALSE(qm::ReadTextLines(path, lines));
      qm::LocalReader localReader;
      EXPECT_FALSE(localReader.Open(path));
      qm::AtomicWriter writer;
      EXPECT_FALSE(writer.Open(path));
    }
    if (reader >= 0) close(reader);
  }
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(qmtest::ListDir(dir.path()),
            (std::vector<std::string>{"folder.txt", "pipe.txt"}));

  const int fd = qm::OpenRegularFile(dir / "new.txt", O_WRONLY | O_CREAT);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  close(fd);
}

TEST(PlatformFiles, RealDirectoryIsNeitherALinkNorAFile) {
  TempDir dir;
  qmtest::MakeDirs(dir / "real");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "none").c_str(), (dir / "dangling").c_str()), 0);
  qmtest::WriteFile(dir / "file", "x");
  EXPECT_TRUE(qm::RealDirectoryExists(dir / "real/"));
  EXPECT_FALSE(qm::RealDirectoryExists(dir / "link/"));
  EXPECT_TRUE(qm::DirectoryExists(dir / "link/"));
  EXPECT_FALSE(qm::RealDirectoryExists(dir / "file"));
  EXPECT_TRUE(qm::PathExists(dir / "dangling/"));
  EXPECT_FALSE(qm::PathExists(dir / "none"));
}

TEST(PlatformFiles, ForceDirectoriesMakesEveryLevel) {
  TempDir dir;
  EXPECT_TRUE(qm::ForceDirectories(dir / "a/b/c/"));
  EXPECT_TRUE(qm::DirectoryExists(dir / "a/b/c"));
  qmtest::WriteFile(dir / "file", "x");
  EXPECT_FALSE(qm::ForceDirectories(dir / "file/sub/"));
}

// What a run makes in a folder its group may write (a log, the settings, a
// listing, Temp/) is the group's to use whatever the creator's umask, so the
// next run of another member can; elsewhere the umask decides, and what
// exists keeps its modes.
TEST(PlatformFiles, NewFilesInAGroupFolderAreTheGroupsWhateverTheUmask) {
  TempDir dir;
  struct Row {
    mode_t folder, umask, file, subfolder;
  };
  const Row rows[] = {
      {0755, 022, 0644, 0755},   {0755, 002, 0664, 0775},
      {0775, 022, 0664, 0775},   {0775, 077, 0660, 0770},
      {02770, 022, 0664, 02775}, {02770, 077, 0660, 02770},
  };
  const auto modeOf = [](const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string folder = dir / std::to_string(n++);
    SCOPED_TRACE(folder);
    qmtest::MakeDirs(folder);
    ASSERT_EQ(chmod(folder.c_str(), row.folder), 0);
    qmtest::WriteFile(folder + "/kept.err", "x");
    ASSERT_EQ(chmod((folder + "/kept.err").c_str(), 0600), 0);
    const mode_t before = umask(row.umask);
    for (const char* name : {"/new.err", "/kept.err"}) {
      const int fd =
          qm::OpenRegularFile(folder + name, O_WRONLY | O_APPEND | O_CREAT);
      EXPECT_GE(fd, 0);
      if (fd >= 0) close(fd);
    }
    uint32_t done = 0;
    for (const char* name : {"/quillmar.ini", "/kept.err"}) {
      qm::AtomicWriter writer;
      EXPECT_TRUE(writer.Open(folder + name) && writer.Write("y", 1, done) &&
                  writer.Commit());
    }
    EXPECT_TRUE(qm::ForceDirectories(folder + "/Temp/deep/"));
    umask(before);
    EXPECT_EQ(modeOf(folder + "/new.err"), row.file);
    EXPECT_EQ(modeOf(folder + "/quillmar.ini"), row.file);
    EXPECT_EQ(modeOf(folder + "/Temp"), row.subfolder);
    EXPECT_EQ(modeOf(folder + "/Temp/deep"), row.subfolder);
    EXPECT_EQ(modeOf(folder + "/kept.err"), 0600u);
  }
}
