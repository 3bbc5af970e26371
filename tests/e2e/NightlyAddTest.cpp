#include <chrono>
#include <fstream>

#include "platform/Contained.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/HandArchives.h"

using qmtest::ConfigEntry;
using qmtest::ProgramDirTest;

namespace {

class NightlyAdd : public ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    qmtest::MakeHost(
        home, {{1, "Uploads", "files/up"}, {3, "Utilities", "files/utils"}});
    qmtest::MakeDirs(home + "/files/up");
    qmtest::MakeDirs(home + "/files/utils");
    incoming = tmp / "incoming";
    qmtest::MakeDirs(incoming);
  }

  nlohmann::json Find(const nlohmann::json& list, const std::string& name) {
    for (const auto& rec : list)
      if (rec["name"] == name) return rec;
    return nullptr;
  }

  std::string incoming;
};

TEST_F(NightlyAdd, ScanTransfersNewUploadsWithTheirDescriptions) {
  qmtest::MakeZip(incoming + "/GAME.ZIP",
                  {{"FILE_ID.DIZ", "Star game v2\r\nfor two players\r\n"},
                   {"STAR.EXE", std::string(5000, 'x')}});
  qmtest::WriteFile(incoming + "/NOTE.TXT", "plain note");
  qmtest::WriteFile(incoming + "/.hidden", "never added");
  WriteConfig(
      bin + "/nightly.cfg",
      {ConfigEntry(1, "Add", "Scan For New", incoming + "/*.*",
                   "Extract from ZIP", "file_id.diz", home + "/files/up/"),
       ConfigEntry(1, "Delete", "Delete and Remove", bin + "/gone.qls", "NA",
                   "NA", home + "/files/up/")});

  // The test run first, as the sysop's cron job does: it prints what the
  // run would do, problems included, and changes nothing.
  auto result = Quillmar({"--test-run", "nightly.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string from = " from: " + incoming + "/\n";
  EXPECT_EQ(result.out,
            "Add to FA# 1: GAME.ZIP" + from + "Add to FA# 1: NOTE.TXT" + from +
                "ERR: File List: " + bin + "/gone.qls not found for FA# 1\n");
  EXPECT_TRUE(FileList(1).empty());
  EXPECT_TRUE(qmtest::ListDir(home + "/files/up").empty());
  EXPECT_FALSE(qmtest::Exists(bin + "/nightly.err"));
  EXPECT_TRUE(qmtest::ListDir(bin + "/Temp").empty());

  qmtest::WriteFile(incoming + "/ABCDEFGHIJK.ZIP", "too long a name");
  result = Quillmar({"nightly.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Files added: 2, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; problems logged: 2 in " +
                bin + "/nightly.err\n");
  // The extras are off: no duplicate index is made.
  EXPECT_FALSE(qmtest::Exists(bin + "/quillmar.db"));

  auto records = FileList(1);
  ASSERT_EQ(records.size(), 2u) << records.dump();
  auto game = Find(records, "GAME.ZIP");
  ASSERT_FALSE(game.is_null());
  EXPECT_EQ(game["short"], "Star game v2");
  EXPECT_EQ(game["longFlag"], 1);
  EXPECT_EQ(game["long"], nlohmann::json({"Star game v2", "for two players"}));
  EXPECT_EQ(game["size"], qmtest::ReadFile(incoming + "/GAME.ZIP").size());
  auto note = Find(records, "NOTE.TXT");
  ASSERT_FALSE(note.is_null());
  EXPECT_EQ(note["size"], 10);
  EXPECT_EQ(note["short"], "");

  EXPECT_EQ(qmtest::ReadFile(home + "/files/up/NOTE.TXT"), "plain note");
  EXPECT_EQ(qmtest::ListDir(home + "/files/up"),
            (std::vector<std::string>{"GAME.ZIP", "NOTE.TXT"}));
  std::string log = qmtest::ReadFile(bin + "/nightly.err");
  EXPECT_NE(log.find("ABCDEFGHIJK.ZIP filename too long. 14 or less chars "
                     "only.\r\n"),
            std::string::npos)
      << log;
  // Extracted descriptions are cleaned up.
  for (const auto& name : qmtest::ListDir(bin + "/Temp"))
    ADD_FAILURE() << "left in Temp: " << name;

  // A second night adds nothing twice.
  result = Quillmar({"nightly.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(FileList(1).size(), 2u);
  EXPECT_EQ(result.out.substr(0, result.out.find(';')),
            "Files added: 0, deleted: 0, moved: 0, copied: 0");
}

// Uploads as the world sends them, in one night: a solid 7z bomb and a 7z
// naming 10 million files cost seconds and tens of MiB; ZIPs padded by
// XMODEM or CP/M or with an advert after them, and an Amiga LhA whose
// member names are Latin-1, are described like any other.
TEST_F(NightlyAdd, HostileAndOldUploadsCostSecondsAndAreDescribed) {
  const std::string in = incoming + "/";
  qmtest::MakeSevenZip(in + "SOLID.7Z",
                       {{"FILE_ID.DIZ", "Ten gigabytes of nothing\r\n"},
                        {"ZEROS.BIN", "", uint64_t{10} << 30}});
  qmtest::MakeSevenZip(in + "NAMES.7Z", {}, 10'000'000);
  qmtest::MakeZip(in + "GAME.ZIP", {{"FILE_ID.DIZ", "A padded game\r\n"},
                                    {"GAME.EXE", std::string(3000, 'g')}});
  const std::string zip = qmtest::ReadFile(in + "GAME.ZIP");
  qmtest::WriteFile(in + "XMODEM.ZIP",
                    zip + std::string(128 - zip.size() % 128, '\x1A'));
  qmtest::WriteFile(in + "CPM.ZIP", zip + std::string(881, '\0'));
  qmtest::WriteFile(in + "ADVERT.ZIP",
                    zip + "\r\nDownloaded from The Night Owl BBS\r\n\x1A");
  qmtest::WriteFile(in + "AMIGA.LZH",
                    qmtest::Lzh({{"\xBB>dA_aBSOLUTE_bEST<\xAB", "best"},
                                 {"FILE_ID.DIZ", "An Amiga demo\n"}}));
  WriteConfig(
      bin + "/nightly.cfg",
      {ConfigEntry(1, "Add", "Scan For New", in + "*.*", "Extract from ZIP",
                   "file_id.diz", home + "/files/up/")});
  const auto started = std::chrono::steady_clock::now();
  auto result = Quillmar({"nightly.cfg"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_LT(seconds, 20.0);  // two of them for the program's own timers
  if (qm::kContainedMemoryLimited) {
    EXPECT_LT(result.maxResidentKiB, 256L << 10);
  }

  auto records = FileList(1);
  ASSERT_EQ(records.size(), 7u) << records.dump();
  for (const auto& [name, description] :
       std::vector<std::pair<std::string, std::string>>{
           {"SOLID.7Z", "Ten gigabytes of nothing"},
           {"NAMES.7Z", ""},
           {"XMODEM.ZIP", "A padded game"},
           {"CPM.ZIP", "A padded game"},
           {"ADVERT.ZIP", "A padded game"},
           {"AMIGA.LZH", "An Amiga demo"}})
    EXPECT_EQ(Find(records, name)["short"], description) << name;
  const std::string log = qmtest::ReadFile(bin + "/nightly.err");
  EXPECT_NE(log.find("UnZip Stopped. ZipFile: " + in + "NAMES.7Z: reading it"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Count Failed"), std::string::npos) << log;
  EXPECT_TRUE(qmtest::ListDir(bin + "/Temp").empty());
}

TEST_F(NightlyAdd, FilesBbsListingIsImportedAndTitleRenamesTheArea) {
  std::string utils = home + "/files/utils/";
  qmtest::WriteFile(utils + "PKTOOLS.ZIP", std::string(1200, 'p'));
  qmtest::WriteFile(utils + "notes.txt", "n");
  qmtest::WriteFile(utils + "ACTIONS.ASC", "a");
  qmtest::WriteFile(utils + "FILES.BBS",
                    "   Sysop Utilities\r\n"
                    "NOTES.TXT  Notes of the sysop\r\n"
                    "ACTIONS .ASC  1  A name padded to 8.3 columns\r\n"
                    "PKTOOLS.ZIP  1200  01-01-98  Archive tools\r\n"
                    "   | second line\r\n"
                    "MISSING.ZIP  Not on disk\r\n");
  WriteConfig(bin + "/bbs.cfg",
              {ConfigEntry(3, "Add", "Scan For New", "files.bbs",
                           "Extract from ZIP", "file_id.diz", utils)});

  auto result = Quillmar({"bbs.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto records = FileList(3);
  ASSERT_EQ(records.size(), 3u) << records.dump();
  EXPECT_EQ(Find(records, "ACTIONS.ASC")["short"],
            "A name padded to 8.3 columns");
  auto tools = Find(records, "PKTOOLS.ZIP");
  EXPECT_EQ(tools["short"], "Archive tools");
  EXPECT_EQ(tools["longFlag"], 1);
  EXPECT_EQ(tools["long"], nlohmann::json({"Archive tools", "second line"}));
  EXPECT_EQ(tools["size"], 1200);
  auto notes = Find(records, "NOTES.TXT");
  EXPECT_EQ(notes["short"], "Notes of the sysop");
  EXPECT_EQ(notes["longFlag"], 0);

  auto areas =
      qmtest::RunProcess({bin + "/wcserver", "area", "list", home, "--json"});
  EXPECT_NE(areas.out.find("Sysop Utilities"), std::string::npos) << areas.out;
  EXPECT_NE(qmtest::ReadFile(bin + "/bbs.err")
                .find("Could not add file: MISSING.ZIP from path: " + utils +
                      " to file area #3"),
            std::string::npos);
}

TEST_F(NightlyAdd, ListFileRunsEachConfigurationAndLogsMissingOnes) {
  qmtest::WriteFile(incoming + "/ONE.TXT", "1");
  WriteConfig(bin + "/first.cfg",
              {ConfigEntry(1, "Add", "Scan For New", incoming + "/*.TXT", "NA",
                           "NA", home + "/files/up/")});
  qmtest::WriteFile(bin + "/night.qls",
                    "missing.cfg\r\n" + bin + "/first.cfg\r\n");
  auto result = Quillmar({"night.qls"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(FileList(1).size(), 1u);
  EXPECT_EQ(result.out,
            "Files added: 1, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; problems logged: 1 in " +
                bin + "/missing.err\n");
  EXPECT_NE(qmtest::ReadFile(bin + "/missing.err")
                .find("Cfg File: " + bin + "/missing.cfg not found"),
            std::string::npos);
}

TEST_F(NightlyAdd, FileOfTheWrongKindIsLoggedAndNothingRuns) {
  qmtest::WriteFile(bin + "/notcfg.cfg", "hello\r\n");
  auto result = Quillmar({"notcfg.cfg"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(qmtest::ReadFile(bin + "/notcfg.err")
                .find("File: " + bin +
                      "/notcfg.cfg\r does not appear to be "
                      "a Quillmar Config File."),
            std::string::npos);
}

}  // namespace
