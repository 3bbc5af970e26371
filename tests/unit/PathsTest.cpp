#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

using qmtest::TempDir;

TEST(PlatformPaths, SplitsAtEverySeparator) {
  EXPECT_EQ(qm::FileNamePart("C:\\FILES\\GAME.ZIP"), "GAME.ZIP");
  EXPECT_EQ(qm::FileNamePart("/srv/files/game.zip"), "game.zip");
  EXPECT_EQ(qm::FileNamePart("C:GAME.ZIP"), "GAME.ZIP");
  EXPECT_EQ(qm::FileNamePart("GAME.ZIP"), "GAME.ZIP");
  EXPECT_EQ(qm::DirectoryPart("/srv/files/game.zip"), "/srv/files/");
  EXPECT_EQ(qm::DirectoryPart("C:\\FILES\\GAME.ZIP"), "C:\\FILES\\");
  EXPECT_EQ(qm::DirectoryPart("game.zip"), "");
  EXPECT_EQ(qm::PathWithoutExtension("/a.b/night.ly.cfg"), "night");
}

TEST(PlatformPaths, TrailingSeparatorOnlyWhenMissing) {
  EXPECT_EQ(qm::TrailingBackslash(""), "");
  EXPECT_EQ(qm::TrailingBackslash("/srv"), "/srv/");
  EXPECT_EQ(qm::TrailingBackslash("/srv/"), "/srv/");
  EXPECT_EQ(qm::TrailingBackslash("C:\\WC5\\"), "C:\\WC5\\");
}

TEST(PlatformPaths, DrivePathsAndResolution) {
  EXPECT_TRUE(qm::IsDrivePath("D:\\UPLOAD"));
  EXPECT_TRUE(qm::IsDrivePath("/upload"));
  EXPECT_FALSE(qm::IsDrivePath("upload/x"));
  EXPECT_EQ(qm::ResolveAgainst("/cfg", "lists/a.qls"), "/cfg/lists/a.qls");
  EXPECT_EQ(qm::ResolveAgainst("/cfg/", "/abs/a.qls"), "/abs/a.qls");
  EXPECT_EQ(qm::Trim("  \tname \r"), "name");
}

// The state is beside the program unless quillmar.state there names
// another folder; a pointer that anyone but root could have changed, or
// that names no folder, is refused with the reason.
TEST(PlatformPaths, StateFolderComesFromAPointerOnlyRootCouldWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "the pointer must be root's: needs root";
  TempDir dir;
  const std::string prog = dir / "prog/", state = dir / "state";
  const std::string pointer = prog + qm::kStatePointerName;
  qmtest::MakeDirs(prog);
  qmtest::MakeDirs(state);
  ASSERT_EQ(chmod(prog.c_str(), 0755), 0);
  qm::ProgramFolders folders = qm::FindProgramFolders(prog);
  EXPECT_EQ(folders.files, prog);
  EXPECT_EQ(folders.state, prog);
  EXPECT_EQ(folders.refused, "");

  struct Row {
    std::string text;
    mode_t mode;
    uid_t owner;
    mode_t folder;
    std::string refused;  // empty: the state folder is used
  };
  const std::vector<Row> rows = {
      {"# state\n\n  " + state + "  \r\n", 0644, 0, 0755, ""},
      {state + "\n", 0664, 0, 0755,
       "must be root's and writable by root alone"},
      {state + "\n", 0644, 65534, 0755, "must be root's"},
      {state + "\n", 0644, 0, 0775, "is in a folder that is not root's alone"},
      {"state\n", 0644, 0, 0755, "must name a folder by its absolute path"},
      {"# nothing\n", 0644, 0, 0755, "by its absolute path"},
      {dir / "none\n", 0644, 0, 0755, "names " + dir / "none, which is not"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    qmtest::WriteFile(pointer, row.text);
    ASSERT_EQ(chmod(pointer.c_str(), row.mode), 0);
    ASSERT_EQ(chown(pointer.c_str(), row.owner, 0), 0);
    ASSERT_EQ(chmod(prog.c_str(), row.folder), 0);
    folders = qm::FindProgramFolders(prog);
    EXPECT_EQ(folders.files, prog);
    if (row.refused.empty()) {
      EXPECT_EQ(folders.state, state + "/");
      EXPECT_EQ(folders.refused, "");
    } else {
      EXPECT_EQ(folders.state, "");
      EXPECT_EQ(folders.refused.rfind(pointer + " is not used: it ", 0), 0u)
          << folders.refused;
      EXPECT_NE(folders.refused.find(row.refused), std::string::npos)
          << folders.refused;
    }
    ASSERT_EQ(unlink(pointer.c_str()), 0);
  }
  ASSERT_EQ(chmod(prog.c_str(), 0755), 0);
  // Never through a link, never blocking on a FIFO.
  qmtest::WriteFile(dir / "elsewhere", state + "\n");
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), pointer.c_str()), 0);
  EXPECT_NE(qm::FindProgramFolders(prog).refused.find("cannot be read"),
            std::string::npos);
  ASSERT_EQ(unlink(pointer.c_str()), 0);
  qmtest::Watchdog watchdog;
  qmtest::MakeFifo(pointer);
  EXPECT_NE(qm::FindProgramFolders(prog).refused.find("not a regular file"),
            std::string::npos);
}
