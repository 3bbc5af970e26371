// Descriptions taken from archive members through the real ZIP library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "actions/Describe.h"
#include "actions/UnzipFile.h"
#include "tests/support/TestSupport.h"

using qmtest::Exists;
using qmtest::ListDir;
using qmtest::ReadFile;
using qmtest::TempDir;
using qmtest::WriteFile;

namespace {

class Describe : public ::testing::Test {
 protected:
  void SetUp() override {
    qm::ApplyStoredUnzipSettings(unzip_);
    run_.ctx.unzip = &unzip_;
    run_.state.logBaseName = dir_ / "nightly.cfg";
    std::memset(&record_, 0, sizeof record_);
  }

  bool DescribeZip(const std::string& name, const std::string& member,
                   const std::string& content,
                   const std::string& spec = "file_id.diz") {
    std::string path = dir_ / name;
    qmtest::MakeZip(path, {{member, content}, {"GAME.EXE", "MZ"}});
    return qm::DescribeFromArchive(run_.ctx, path, spec, record_);
  }

  std::string Log() {
    std::string path = dir_ / "nightly.err";
    return Exists(path) ? ReadFile(path) : "";
  }
  bool Untouched() const {
    static const TFullFileRecord zero{};
    return std::memcmp(&record_, &zero, sizeof zero) == 0;
  }
  std::string Temp() const { return dir_ / "Temp"; }

  TempDir dir_;
  qmtest::TestRun run_{dir_.path()};
  TUnzipFile unzip_{qmtest::BinDir()};
  TFullFileRecord record_;
};

TEST_F(Describe, ThreeLinesFillShortAndLongDescription) {
  ASSERT_TRUE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ",
                          "Best game ever\r\nVersion 2\r\nFreeware\r\n"));
  EXPECT_EQ(record_.Info.HasLongDescription, 1);
  EXPECT_STREQ(record_.Info.Description, "Best game ever");
  EXPECT_STREQ(record_.LongDescription[0], "Best game ever");
  EXPECT_STREQ(record_.LongDescription[1], "Version 2");
  EXPECT_STREQ(record_.LongDescription[2], "Freeware");
  EXPECT_STREQ(record_.LongDescription[3], "");
  EXPECT_TRUE(ListDir(Temp()).empty());
  EXPECT_FALSE(run_.view.extractingVisible);
  EXPECT_EQ(run_.view.extractingShown, 1);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(qm::TempDirectory(run_.state), Temp() + "/");
}

TEST_F(Describe, SingleLineSetsTheFlagAndOneSlot) {
  ASSERT_TRUE(DescribeZip("SETUP.EXE", "docs/File_Id.Diz", "Just one line"));
  EXPECT_EQ(record_.Info.HasLongDescription, 1);
  EXPECT_STREQ(record_.Info.Description, "Just one line");
  EXPECT_STREQ(record_.LongDescription[0], "Just one line");
  EXPECT_STREQ(record_.LongDescription[1], "");
}

TEST_F(Describe, KeepsFifteenLinesAndCutsLongOnes) {
  std::string text = std::string(100, 'L') + "\n";
  for (int i = 2; i <= 20; ++i) text += "line " + std::to_string(i) + "\r";
  ASSERT_TRUE(DescribeZip("LONG.ZIP", "FILE_ID.DIZ", text));
  EXPECT_EQ(std::string(record_.Info.Description), std::string(75, 'L'));
  EXPECT_EQ(std::string(record_.LongDescription[0]), std::string(79, 'L'));
  EXPECT_STREQ(record_.LongDescription[14], "line 15");
  EXPECT_STREQ(record_.LongDescription[13], "line 14");
}

TEST_F(Describe, LineEndsAndZeroByte) {
  ASSERT_TRUE(DescribeZip("ENDS.ZIP", "FILE_ID.DIZ",
                          std::string("one\rtwo\nthree\r\nfour\0five", 24)));
  EXPECT_STREQ(record_.LongDescription[2], "three");
  EXPECT_STREQ(record_.LongDescription[3], "four");
  EXPECT_STREQ(record_.LongDescription[4], "");
}

TEST_F(Describe, EmptyMemberGivesNoDescription) {
  EXPECT_FALSE(DescribeZip("EMPTY.ZIP", "FILE_ID.DIZ", ""));
  EXPECT_TRUE(Untouched());
  EXPECT_TRUE(ListDir(Temp()).empty());
  EXPECT_EQ(Log(), "");
}

TEST_F(Describe, ArchiveNamesAndCountFailure) {
  // Not an archive by name: nothing is tried, nothing logged.
  std::string text = dir_ / "readme.txt";
  WriteFile(text, "plain text");
  EXPECT_FALSE(qm::DescribeFromArchive(run_.ctx, text, "*", record_));
  EXPECT_FALSE(Exists(Temp()));
  EXPECT_EQ(Log(), "");
  EXPECT_FALSE(run_.view.extractingVisible);

  // ".ZIP" anywhere in the name makes it an archive for the library.
  std::string fake = dir_ / "GAME.ZIP.TXT";
  WriteFile(fake, "plain text, not an archive");
  EXPECT_FALSE(qm::DescribeFromArchive(run_.ctx, fake, "file_id.diz", record_));
  EXPECT_NE(Log().find("UnZip Count Failed. ZipFile: " + fake),
            std::string::npos);
  EXPECT_TRUE(Untouched());
  EXPECT_FALSE(run_.view.extractingVisible);
}

TEST_F(Describe, NoMatchingMemberOrNaSpec) {
  EXPECT_FALSE(DescribeZip("NODIZ.ZIP", "README.TXT", "text"));
  EXPECT_FALSE(DescribeZip("NA.ZIP", "FILE_ID.DIZ", "text", "NA"));
  EXPECT_EQ(unzip_.ReturnCount(), 0);
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(Log(), "");
  EXPECT_FALSE(run_.view.extractingVisible);
  EXPECT_EQ(run_.view.extractingShown, 2);
}

TEST_F(Describe, ExtractFailureIsLoggedAndLeavesTempEmpty) {
  std::string path = dir_ / "BIG.ZIP";
  qmtest::MakeZip(path, {{"FILE_ID.DIZ", "fine"},
                         {"sub/file_id.diz", std::string(70000, 'x')}});
  std::vector<std::string> files;
  EXPECT_FALSE(
      qm::ExtractDescriptionFiles(run_.ctx, path, "file_id.diz", files));
  EXPECT_TRUE(files.empty());
  EXPECT_NE(
      Log().find("UnZip Failed. ZipFile: " + path + "  fileDesc: file_id.diz"),
      std::string::npos);
  EXPECT_TRUE(ListDir(Temp()).empty());
}

TEST_F(Describe, StaleTempFilesGoHiddenOnesStay) {
  qmtest::MakeDirs(Temp() + "/olddir");
  WriteFile(Temp() + "/AAA.TXT", "stale, would be read first");
  WriteFile(Temp() + "/.keep", "hidden");
  ASSERT_TRUE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "Fresh"));
  EXPECT_STREQ(record_.Info.Description, "Fresh");
  EXPECT_EQ(ListDir(Temp()), (std::vector<std::string>{".keep", "olddir"}));
}

TEST_F(Describe, MembersNamedWithALeadingDotAreCleanedUpToo) {
  qmtest::MakeDirs(Temp());
  WriteFile(Temp() + "/.keep", "hidden, from before");
  std::string path = dir_ / "DOTS.ZIP";
  qmtest::MakeZip(path, {{"FILE_ID.DIZ", "Dots"}, {".hidden", "member"}});
  ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "*", record_));
  EXPECT_STREQ(record_.Info.Description, "Dots");
  EXPECT_EQ(ListDir(Temp()), std::vector<std::string>{".keep"});
}

TEST_F(Describe, HostileMemberNamesStayInTemp) {
  std::string path = dir_ / "EVIL.ZIP";
  qmtest::MakeZip(path, {{"../FILE_ID.DIZ", "Escaped?"}});
  ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_));
  EXPECT_STREQ(record_.Info.Description, "Escaped?");
  EXPECT_EQ(ListDir(dir_.path()),
            (std::vector<std::string>{"EVIL.ZIP", "Temp"}));
  EXPECT_TRUE(ListDir(Temp()).empty());
}

TEST_F(Describe, UnmakeableTempEndsTheRun) {
  // Not even root makes a directory inside a plain file.
  WriteFile(dir_ / "plain", "a file where the program directory should be");
  run_.state.programDir = dir_ / "plain/";
  std::string path = dir_ / "GAME.ZIP";
  qmtest::MakeZip(path, {{"FILE_ID.DIZ", "x"}});
  EXPECT_THROW(qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_),
               std::runtime_error);
  EXPECT_FALSE(run_.view.extractingVisible);
  EXPECT_TRUE(Untouched());
}

// Temp is emptied before each extraction, so it must be the program's own
// directory: a link (to a directory, or dangling) or a file there is refused
// and nothing it points at is touched.
TEST_F(Describe, TempThatIsALinkOrAFileIsRefused) {
  qmtest::MakeDirs(dir_ / "elsewhere");
  WriteFile(dir_ / "elsewhere/precious.txt", "keep");
  const std::vector<std::function<void()>> makeTemp = {
      [&] { ASSERT_EQ(symlink("elsewhere", Temp().c_str()), 0); },
      [&] { ASSERT_EQ(symlink("nowhere", Temp().c_str()), 0); },
      [&] { WriteFile(Temp(), "a file where the directory should be"); }};
  for (const auto& make : makeTemp) {
    std::remove(Temp().c_str());
    make();
    EXPECT_FALSE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "x"));
    EXPECT_TRUE(Untouched());
    EXPECT_FALSE(run_.view.extractingVisible);
  }
  EXPECT_EQ(ListDir(dir_ / "elsewhere"),
            std::vector<std::string>{"precious.txt"});
  EXPECT_FALSE(Exists(dir_ / "nowhere"));
  const std::string refused =
      "Temp is not a directory of its own: " + Temp() + "/";
  EXPECT_EQ(qmtest::LogEntries(dir_ / "nightly.err"),
            (std::vector<std::string>{refused, refused, refused}));
}

TEST_F(Describe, WithoutUnzipComponentNoDescription) {
  run_.ctx.unzip = nullptr;
  EXPECT_FALSE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "x"));
  EXPECT_TRUE(Untouched());
  EXPECT_FALSE(run_.view.extractingVisible);
}

}  // namespace
