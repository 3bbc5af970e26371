// Descriptions taken from archive members through the real ZIP library and
// libarchive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>

#include "actions/Describe.h"
#include "actions/ExternalArchive.h"
#include "actions/UnzipFile.h"
#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/TempFolder.h"
#include "run/DescriptionExtras.h"
#include "tests/support/HandArchives.h"
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

  // Describes the file afresh from file_id.diz (written first when bytes
  // are given): whether it was described and what that logged. Temp is
  // left empty either way.
  std::pair<bool, std::string> DescribeFile(const std::string& path,
                                            const std::string& bytes) {
    if (!bytes.empty()) WriteFile(path, bytes);
    std::memset(&record_, 0, sizeof record_);
    const std::string logBefore = Log();
    const bool described =
        qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_);
    EXPECT_TRUE(ListDir(Temp()).empty());
    return {described, Log().substr(logBefore.size())};
  }

  struct Row {
    const char* name;
    std::string bytes;      // empty: already there
    const char* described;  // null: refused with the log line
    // Null or empty: nothing logged; one ending in ": " names the file.
    const char* log;
  };
  // Each row described from its file as it says, or refused; then also
  // checks what a described row holds besides its first line.
  void ExpectRows(const std::vector<Row>& rows,
                  const std::function<void(const Row&)>& also = {}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      const std::string path = dir_ / row.name;
      const auto [described, logged] = DescribeFile(path, row.bytes);
      if (row.described == nullptr) {
        EXPECT_FALSE(described);
        EXPECT_TRUE(Untouched());
        const std::string log = row.log ? row.log : "";
        if (log.empty())
          EXPECT_EQ(logged, "");
        else
          EXPECT_NE(logged.find(log.ends_with(": ") ? log + path : log),
                    std::string::npos)
              << logged;
        continue;
      }
      ASSERT_TRUE(described) << logged;
      EXPECT_STREQ(record_.Info.Description, row.described);
      if (also) also(row);
      EXPECT_EQ(logged, "");
    }
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
  // Not an archive by its own name (a folder's name does not count):
  // nothing is tried, nothing logged.
  qmtest::MakeDirs(dir_ / "uploads.zip.d");
  for (const std::string name : {"readme.txt", "uploads.zip.d/readme.txt"}) {
    std::string text = dir_ / name;
    WriteFile(text, "plain text");
    EXPECT_FALSE(qm::DescribeFromArchive(run_.ctx, text, "*", record_));
  }
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

  // The other formats by their ending, which wins over ".ZIP" inside.
  std::string tar = dir_ / "GAME.ZIP.TAR";
  qmtest::MakeBsdtar(tar, {{"FILE_ID.DIZ", "A tar after all"}});
  EXPECT_TRUE(qm::DescribeFromArchive(run_.ctx, tar, "file_id.diz", record_));
  EXPECT_STREQ(record_.Info.Description, "A tar after all");
  for (const char* name :
       {"BAD.7Z", "BAD.RAR", "BAD.LZH", "BAD.LHA", "BAD.TGZ", "BAD.TAR.GZ"}) {
    std::string bad = dir_ / name;
    WriteFile(bad, "plain text, not an archive");
    std::memset(&record_, 0, sizeof record_);
    EXPECT_FALSE(
        qm::DescribeFromArchive(run_.ctx, bad, "file_id.diz", record_));
    EXPECT_NE(Log().find("UnZip Count Failed. ZipFile: " + bad),
              std::string::npos)
        << name;
    EXPECT_TRUE(Untouched());
  }
  // A name that is none of the formats is not opened, whatever it holds.
  std::string arj = dir_ / "GAME.ARJ";
  qmtest::MakeBsdtar(arj, {{"FILE_ID.DIZ", "tar bytes"}});
  const std::string logBefore = Log();
  EXPECT_FALSE(qm::DescribeFromArchive(run_.ctx, arj, "file_id.diz", record_));
  EXPECT_EQ(Log(), logBefore);
}

TEST_F(Describe, RootMemberWinsThenTheArchivesOrderInEveryFormat) {
  const std::vector<std::pair<std::string, std::string>> members = {
      {"SUBDIR/FILE_ID.DIZ", "Some other program\r\n"},
      {"File_id.diz", "This upload\r\nline two\r\n"},
      {"FILE_ID.DIZ", "A later root member\r\n"},
      {"ZZZ/file_id.diz", "Yet another\r\n"}};
  for (const std::string name : {"ROOT.ZIP", "ROOT.TAR", "ROOT.TGZ",
                                 "ROOT.TAR.GZ", "ROOT.7Z", "ROOT.LZH"}) {
    SCOPED_TRACE(name);
    std::string path = dir_ / name;
    if (name == "ROOT.ZIP")
      qmtest::MakeZip(path, members);
    else if (name == "ROOT.LZH")
      WriteFile(path, qmtest::Lzh(members));
    else
      qmtest::MakeBsdtar(path, members);
    std::memset(&record_, 0, sizeof record_);
    ASSERT_TRUE(
        qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_));
    EXPECT_STREQ(record_.Info.Description, "This upload");
    EXPECT_STREQ(record_.LongDescription[1], "line two");
    EXPECT_TRUE(ListDir(Temp()).empty());
    EXPECT_FALSE(run_.view.extractingVisible);
  }
  // Without a root member the first in the archive's order wins.
  std::string path = dir_ / "SUBS.TAR";
  qmtest::MakeBsdtar(
      path, {{"A/FILE_ID.DIZ", "from A"}, {"B/File_Id.Diz", "from B"}});
  ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_));
  EXPECT_STREQ(record_.Info.Description, "from A");
  EXPECT_EQ(Log(), "");
}

// Amiga uploads name members in Latin-1: such a name before FILE_ID.DIZ
// stops no reader, and a spec matches a name by its bytes.
TEST_F(Describe, EightBitMemberNamesAreReadAndMatchByTheirBytes) {
  const std::string best = "\xBB>dA_aBSOLUTE_bEST<\xAB";
  const std::vector<std::pair<std::string, std::string>> members = {
      {"Can\xB7we\xB7help\xB7you", "a picture"},
      {best, "The best of the best\r\n"},
      {"FILE_ID.DIZ", "An Amiga upload\r\n"}};
  for (const std::string name : {"AMIGA.LZH", "AMIGA.TAR", "AMIGA.7Z"}) {
    SCOPED_TRACE(name);
    std::string path = dir_ / name;
    if (name == "AMIGA.LZH") {
      WriteFile(path, qmtest::Lzh(members));
    } else if (name == "AMIGA.TAR") {
      qmtest::MakeBsdtar(path, members);
    } else {
      std::vector<qmtest::SevenZipMember> seven;
      for (const auto& [member, data] : members)
        seven.push_back({member, data});
      qmtest::MakeSevenZip(path, seven);
    }
    std::memset(&record_, 0, sizeof record_);
    ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_))
        << Log();
    EXPECT_STREQ(record_.Info.Description, "An Amiga upload");
    if (name == "AMIGA.7Z") continue;  // names in UTF-16: no bytes of their own
    std::memset(&record_, 0, sizeof record_);
    ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "\xBB>DA_*", record_))
        << Log();
    EXPECT_STREQ(record_.Info.Description, "The best of the best");
    EXPECT_TRUE(ListDir(Temp()).empty());
  }
  EXPECT_EQ(Log(), "");
}

// What BBS uploads hold besides plain archives: LHA kept on CP/M (Ctrl-Z
// up to a 128-byte record where the end byte would be) and archives after
// a program stub, found by their bytes whatever the name says.
TEST_F(Describe, PaddedLhaAndSelfExtractingArchives) {
  // No root member: the reading goes to the archive's end.
  const std::vector<std::pair<std::string, std::string>> members = {
      {"README.TXT", "Read me\r\n"},
      {"SUB/FILE_ID.DIZ", "Padded upload\r\nends in ^Z\x1A\x1A"}};
  std::string lzh = qmtest::Lzh(members);
  lzh.pop_back();  // the end byte
  auto padded = [](std::string bytes) {
    do bytes += '\x1A';
    while (bytes.size() % 128 != 0);
    return bytes;
  };
  std::string stub = "MZ" + std::string(510, '\0');
  stub.replace(0x40, 20, "This program cannot");
  std::string damaged = padded(lzh);
  damaged[damaged.find("Padded")] = 'p';  // the member's check fails
  std::string junk = padded(lzh);
  junk[junk.size() - 1] = 'x';
  const std::vector<Row> rows = {
      {"PADDED.LZH", padded(lzh), "Padded upload", nullptr},
      {"WHOLE.LZH", padded(lzh + '\0'), "Padded upload", nullptr},
      {"DAMAGED.LZH", damaged, nullptr, "UnZip Failed. ZipFile: "},
      {"JUNK.LZH", junk, nullptr, "UnZip Count Failed. ZipFile: "},
      {"PADONLY.LZH", std::string(128, '\x1A'), nullptr,
       "UnZip Count Failed. ZipFile: "},
      {"LHASFX.EXE", stub + lzh + '\0', "Padded upload", nullptr},
      {"PADSFX.EXE", padded(stub + lzh), "Padded upload", nullptr},
      {"NAMEDZIP.ZIP", stub + lzh + '\0', "Padded upload", nullptr},
      {"PROGRAM.EXE", stub + std::string(4000, 'c'), nullptr,
       "UnZip Count Failed. ZipFile: "},
      {"NOSTUB.EXE", "ZM" + stub.substr(2) + lzh + '\0', nullptr,
       "UnZip Count Failed. ZipFile: "},
      {"FAR.EXE", stub + std::string(1 << 20, '\0') + lzh + '\0', nullptr,
       "UnZip Count Failed. ZipFile: "}};
  ExpectRows(rows, [&](const Row& row) {
    if (std::string(row.described) == "Padded upload") {
      EXPECT_STREQ(record_.LongDescription[1], "ends in ^Z\x1A\x1A");
    }
  });
  // Every member comes out with its own bytes, Ctrl-Z and all.
  std::vector<qm::ExtractedMember> files;
  ASSERT_TRUE(
      qm::ExtractDescriptionFiles(run_.ctx, dir_ / "PADSFX.EXE", "*", files));
  ASSERT_EQ(files.size(), 2u);
  for (const qm::ExtractedMember& file : files)
    EXPECT_EQ(file.bytes, file.name == "README.TXT" ? members[0].second
                                                    : members[1].second);
}

// Formats read through the sysop's archive programs, named in [Extras]
// Archivers or a section of their own: each by its bytes, whatever its
// name, with the other readers' winner and log lines.
TEST_F(Describe, ArchiversReadArjArcAndSelfExtractingArj) {
  qmtest::MakeWithArchiver(dir_ / "ROOT.ARJ",
                           {{"SUBDIR/FILE_ID.DIZ", "Some other program\r\n"},
                            {"File_id.diz", "This upload\r\nline two\r\n"},
                            {"FILE_ID.DIZ", "A later root member\r\n"},
                            {"ZZZ/file_id.diz", "Yet another\r\n"}});
  qmtest::MakeWithArchiver(
      dir_ / "SUBS.ARJ", {{"A/FILE_ID.DIZ", "from A"}, {"B/File_Id.Diz", "B"}});
  qmtest::MakeWithArchiver(dir_ / "GAME.ARC",
                           {{"README.TXT", "Read me"},
                            {"FILE_ID.DIZ", "An ARC upload\r\nof old\r\n"}});
  qmtest::MakeBsdtar(dir_ / "TAR.ARJ", {{"FILE_ID.DIZ", "tar bytes"}});
  const std::string arj = ReadFile(dir_ / "ROOT.ARJ");
  const std::string arc = ReadFile(dir_ / "GAME.ARC");
  std::string stub = "MZ" + std::string(510, '\0');
  stub.replace(0x40, 20, "This program cannot");
  WriteFile(dir_ / "ARJSFX.EXE", stub + arj);
  // Off: as without archivers, an ARJ name is no archive, an .EXE a ZIP.
  EXPECT_FALSE(
      qm::DescribeFromArchive(run_.ctx, dir_ / "ROOT.ARJ", "*", record_));
  EXPECT_EQ(Log(), "");
  EXPECT_FALSE(
      qm::DescribeFromArchive(run_.ctx, dir_ / "ARJSFX.EXE", "*", record_));
  EXPECT_NE(Log().find("UnZip Count Failed. ZipFile: " + dir_ / "ARJSFX.EXE"),
            std::string::npos);
  EXPECT_TRUE(Untouched());
  run_.state.descriptionExtras.archivers = "ARJ ARC GONE ZOO";
  run_.state.descriptionExtras.archiverSections = {
      {"GONE", "47 4F 4E 45", "no-such-archiver l %a",
       "no-such-archiver e %a %m"}};
  const std::vector<Row> rows = {
      {"ROOT.ARJ", "", "This upload", ""},
      {"SUBS.ARJ", "", "from A", ""},
      {"GAME.ARC", "", "An ARC upload", ""},
      {"ARJSFX.EXE", "", "This upload", ""},
      {"ARJ.ZIP", arj, "This upload", ""},
      {"NONAME", arc, "An ARC upload", ""},
      {"GAME.ZOO",
       qmtest::Zoo({{"README.TXT", "Read me"}, {"FILE_ID.DIZ", "A ZOO one"}}),
       "A ZOO one", ""},
      {"CUT.ARJ", arj.substr(0, arj.size() - 60), nullptr,
       "UnZip Failed. ZipFile: "},
      {"TAR.ARJ", "", nullptr, ""},
      {"STUBONLY.EXE", stub + std::string(3000, '\x60'), nullptr,
       "UnZip Count Failed. ZipFile: "},
      {"GONE1.DAT", "GONE away", nullptr,
       "Archiver GONE: no-such-archiver not found; its archives are added "
       "without a description"},
      {"GONE2.DAT", "GONE again", nullptr, ""}};
  ExpectRows(rows);
  // A section changes a shipped row; the next run sees it.
  run_.state.descriptionExtras.archiverSections = {
      {"ARC", std::nullopt, std::nullopt, "false %a %m"}};
  qm::EndArchivers(run_.state);
  EXPECT_FALSE(
      qm::DescribeFromArchive(run_.ctx, dir_ / "GAME.ARC", "*.diz", record_));
  EXPECT_NE(Log().find("UnZip Failed. ZipFile: " + dir_ / "GAME.ARC" +
                       "  fileDesc: *.diz"),
            std::string::npos);
  EXPECT_TRUE(ListDir(Temp()).empty());
}

// Real RAR 4 and RAR 5 files; one cut short in a header is refused.
TEST_F(Describe, RarFourAndFive) {
  const std::string data = std::string(QM_SOURCE_DIR) + "/tests/data/";
  const struct {
    const char* name;
    const char* spec;
    const char* description;  // null: refused
  } rows[] = {{"RAR4.RAR", "test.txt", "test text document"},
              {"RAR5.RAR", "*.TXT", "hello libarchive test suite!"},
              {"RARCUT.RAR", "*", nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir_ / row.name;
    WriteFile(path, ReadFile(data + row.name));
    std::memset(&record_, 0, sizeof record_);
    const bool described =
        qm::DescribeFromArchive(run_.ctx, path, row.spec, record_);
    EXPECT_TRUE(ListDir(Temp()).empty());
    if (row.description == nullptr) {
      EXPECT_FALSE(described);
      EXPECT_TRUE(Untouched());
      EXPECT_NE(Log().find("UnZip Count Failed. ZipFile: " + path),
                std::string::npos);
      continue;
    }
    ASSERT_TRUE(described) << Log();
    EXPECT_STREQ(record_.Info.Description, row.description);
    EXPECT_EQ(Log(), "");
  }
}

TEST_F(Describe, PkzipOneMethodsComeOutAsUnzipGivesThem) {
  // A real upload: FILE_ID.DIZ shrunk, TNPORT.TXT imploded. The expected
  // bytes are what Info-ZIP unzip -p gives.
  const std::string data = std::string(QM_SOURCE_DIR) + "/tests/data/";
  std::string path = dir_ / "LEGACY.ZIP";
  WriteFile(path, ReadFile(data + "LEGACY.ZIP"));
  ASSERT_TRUE(qm::DescribeFromArchive(run_.ctx, path, "file_id.diz", record_));
  std::vector<std::string> lines;
  ASSERT_TRUE(qm::ReadTextLines(data + "LEGACY.DIZ", lines));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::string(record_.Info.Description), lines[0].substr(0, 75));
  for (size_t i = 0; i < static_cast<size_t>(kLongDescLines); ++i)
    EXPECT_EQ(std::string(record_.LongDescription[i]),
              i < lines.size() ? lines[i].substr(0, 79) : "");
  EXPECT_EQ(Log(), "");

  std::vector<qm::ExtractedMember> files;
  ASSERT_TRUE(qm::ExtractDescriptionFiles(run_.ctx, path, "*.TXT", files));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].bytes, ReadFile(data + "LEGACY.TXT"));
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

// The entry's member first, then each fallback, until one gives lines; an
// entry that wants none ("NA") gets none.
TEST_F(Describe, FallbackMembersInOrder) {
  run_.state.descriptionExtras.descriptionFallback = {"FILE_ID.ANS",
                                                      "desc.sdi"};
  run_.state.descriptionExtras.ansiDescriptions = qm::AnsiMode::Text;
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> members;
    std::string spec, description;
  };
  const std::vector<Case> cases = {
      {"empty member",
       {{"FILE_ID.DIZ", ""}, {"DESC.SDI", "From DESC.SDI"}},
       "file_id.diz",
       "From DESC.SDI"},
      {"ANSI of nothing but escapes",
       {{"FILE_ID.ANS", "\x1b[0m\x1b[2J"},
        {"sub/DESC.SDI", "deeper"},
        {"Desc.Sdi", "at the root"}},
       "file_id.diz",
       "at the root"},
      {"first fallback wins",
       {{"DESC.SDI", "sdi"}, {"FILE_ID.ANS", "ans"}},
       "file_id.diz",
       "ans"},
      {"none wanted", {{"DESC.SDI", "sdi"}}, "NA", ""},
  };
  for (const Case& c : cases) {
    std::memset(&record_, 0, sizeof record_);
    const std::string path = dir_ / "FALLBACK.ZIP";
    std::remove(path.c_str());
    qmtest::MakeZip(path, c.members);
    EXPECT_EQ(qm::DescribeFromArchive(run_.ctx, path, c.spec, record_),
              !c.description.empty())
        << c.what;
    EXPECT_EQ(std::string(record_.Info.Description), c.description) << c.what;
  }
  EXPECT_TRUE(ListDir(Temp()).empty());
  EXPECT_EQ(Log(), "");
}

TEST_F(Describe, ExtractFailureIsLoggedAndLeavesTempEmpty) {
  std::string path = dir_ / "BIG.ZIP";
  // The root member is refused: the sub-folder's one does not stand in.
  qmtest::MakeZip(path, {{"sub/FILE_ID.DIZ", "fine"},
                         {"file_id.diz", std::string(70000, 'x')}});
  std::vector<qm::ExtractedMember> files;
  EXPECT_FALSE(
      qm::ExtractDescriptionFiles(run_.ctx, path, "file_id.diz", files));
  EXPECT_TRUE(files.empty());
  EXPECT_NE(
      Log().find("UnZip Failed. ZipFile: " + path + "  fileDesc: file_id.diz"),
      std::string::npos);
  EXPECT_TRUE(ListDir(Temp()).empty());
}

// What killed runs left goes (a folder no live run holds, the ZIP library's
// files of a process that is gone), and plain files; the rest stays.
TEST_F(Describe, StaleTempFilesGoHiddenOnesStay) {
  qmtest::MakeDirs(Temp() + "/olddir");
  WriteFile(Temp() + "/AAA.TXT", "stale, would be read first");
  WriteFile(Temp() + "/.keep", "hidden");
  qmtest::MakeDirs(Temp() + "/.quillmar-KilledRun123");
  WriteFile(Temp() + "/.quillmar-KilledRun123/FILE_ID.DIZ", "killed run's");
  WriteFile(Temp() + "/.quillmar-KilledRun123/.dunzip-1-1.tmp", "cut short");
  const std::string gone = ".dunzip-999999999-1.tmp";  // no such process
  const std::string alive = ".dunzip-" + std::to_string(getpid()) + "-7.tmp";
  WriteFile(Temp() + "/" + gone, "cut short");
  WriteFile(Temp() + "/" + alive, "being written");
  qm::PrivateFolder live;  // another run's, at work
  std::string reason;
  ASSERT_EQ(live.Make(Temp(), reason), qm::PrivateFolder::Outcome::Made);
  const std::vector<std::string> others = ListDir(Temp());
  ASSERT_TRUE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "Fresh"));
  EXPECT_STREQ(record_.Info.Description, "Fresh");
  std::vector<std::string> kept = {".keep", "olddir", alive};
  for (const std::string& name : others)
    if (name.rfind(".quillmar-", 0) == 0 && name != ".quillmar-KilledRun123")
      kept.push_back(name);
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(ListDir(Temp()), kept);
  EXPECT_EQ(kept.size(), 4u);
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
  // Nor is one that someone else owns.
  std::remove(Temp().c_str());
  qmtest::MakeDirs(Temp());
  ASSERT_EQ(chown(Temp().c_str(), 65534, 65534), 0);
  EXPECT_FALSE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "x"));
  EXPECT_EQ(ListDir(dir_ / "elsewhere"),
            std::vector<std::string>{"precious.txt"});
  EXPECT_FALSE(Exists(dir_ / "nowhere"));
  const std::string refused =
      "Temp is not a directory of its own: " + Temp() + "/";
  EXPECT_EQ(qmtest::LogEntries(dir_ / "nightly.err"),
            (std::vector<std::string>{refused, refused, refused, refused}));
}

// Temp swapped for a link once the run has opened it: the run works on in
// the folder it opened, and nothing the link points at is read, written or
// deleted.
TEST_F(Describe, TempSwappedForALinkMeanwhileChangesNothingElsewhere) {
  qmtest::MakeDirs(dir_ / "elsewhere");
  WriteFile(dir_ / "elsewhere/precious.txt", "keep");
  WriteFile(dir_ / "elsewhere/FILE_ID.DIZ", "planted");
  qm::fault::WatchPoints([&](const char* point) {
    if (std::string(point) != "temp opened") return;
    ASSERT_EQ(rename(Temp().c_str(), (dir_ / "Temp.moved").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere", Temp().c_str()), 0);
  });
  const bool described = DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "The real one");
  qm::fault::WatchPoints({});
  EXPECT_TRUE(described);
  EXPECT_STREQ(record_.Info.Description, "The real one");
  EXPECT_EQ(ListDir(dir_ / "elsewhere"),
            (std::vector<std::string>{"FILE_ID.DIZ", "precious.txt"}));
  EXPECT_EQ(ReadFile(dir_ / "elsewhere/FILE_ID.DIZ"), "planted");
  EXPECT_TRUE(ListDir(dir_ / "Temp.moved").empty());
  EXPECT_EQ(Log(), "");
}

// A full Temp is Temp's problem, not the archive's: the log says so, in
// each format.
TEST_F(Describe, FullTempIsLoggedAsTemp) {
  const std::string diz(20000, 'd');
  std::string zip = dir_ / "GAME.ZIP", tar = dir_ / "GAME.TAR";
  qmtest::MakeZip(zip, {{"FILE_ID.DIZ", diz}});
  qmtest::MakeBsdtar(tar, {{"FILE_ID.DIZ", diz}});
  qmtest::MakeDirs(Temp());
  const bool mounted = qmtest::MountSmallTmpfs(Temp(), 64 * 1024);
  std::optional<qmtest::FileSizeLimit> limit;
  if (mounted)  // hidden, so Temp's clean-up leaves it
    WriteFile(Temp() + "/.filler", std::string(64 * 1024, 'f'));
  else
    limit.emplace(1000);  // not allowed to mount: files cannot grow instead
  const bool fromZip = qm::DescribeFromArchive(run_.ctx, zip, "*.DIZ", record_);
  const bool fromTar = qm::DescribeFromArchive(run_.ctx, tar, "*.DIZ", record_);
  limit.reset();
  if (mounted) qmtest::Unmount(Temp());
  EXPECT_FALSE(fromZip);
  EXPECT_FALSE(fromTar);
  EXPECT_TRUE(Untouched());
  const std::vector<std::string> log = qmtest::LogEntries(dir_ / "nightly.err");
  ASSERT_EQ(log.size(), 2u);
  const std::string prefix = "Temp cannot be used: " + Temp() + "/ (";
  EXPECT_EQ(log[0].rfind(prefix, 0), 0u) << log[0];
  EXPECT_EQ(log[1], prefix + "a member could not be written)");
}

TEST_F(Describe, WithoutUnzipComponentNoDescription) {
  run_.ctx.unzip = nullptr;
  EXPECT_FALSE(DescribeZip("GAME.ZIP", "FILE_ID.DIZ", "x"));
  EXPECT_TRUE(Untouched());
  EXPECT_FALSE(run_.view.extractingVisible);
}

}  // namespace
