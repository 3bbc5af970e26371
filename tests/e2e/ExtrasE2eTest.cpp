// The extras through the real program on a real host: duplicate uploads by
// content (the index in quillmar.db, the --duplicates report), the upload
// check, FILES.BBS lists of other boards and description members of other
// kinds, in real runs and test runs; descriptions from every format, the
// archivers' among them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>

#include "host/HostAdmin.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "settings/Extras.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/HandArchives.h"

using qmtest::ConfigEntry;
using qmtest::ProgramDirTest;

namespace {

// Refuses BAD by its name, saying so; the path must come as one argument.
constexpr char kCheckScript[] =
    "#!/bin/sh\n"
    "[ $# -eq 1 ] && [ -f \"$1\" ] || exit 7\n"
    "case \"$1\" in\n"
    "  *BAD*) echo \"${1##*/}: Test-Signature FOUND\"; exit 1 ;;\n"
    "esac\n"
    "exit 0\n";

class Extras : public ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    qmtest::MakeHost(home, {{1, "Games", "files/one"},
                            {2, "Texts", "files/two"},
                            {3, "Misc", "files/three"},
                            {4, "Listed", "files/four"}});
    for (const char* dir : {"one", "two", "three", "four"})
      qmtest::MakeDirs(home + "/files/" + dir);
    // Its stored file's name on disk is in another letter case.
    Stored(1, "GAME.ZIP", "game bytes", "game.zip");
    Stored(2, "DOCS.TXT", "docs");
    Stored(1, "HUGE.DAT", std::string(100, 'h'));
    Stored(3, "HUGE2.DAT", std::string(100, 'h'));
    check = tmp / "check.sh";
    qmtest::WriteFile(check, kCheckScript);
    chmod(check.c_str(), 0755);
  }

  void Stored(int area, const std::string& name, const std::string& bytes,
              const std::string& onDisk = "") {
    qmtest::WriteFile(AreaDir(area) + (onDisk.empty() ? name : onDisk), bytes);
    auto result = qmtest::Wcserver(
        {"file", "add", home, "--area", std::to_string(area), "--name", name});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }

  std::string AreaDir(int area) {
    static const char* kDirs[] = {"", "one", "two", "three", "four"};
    return home + "/files/" + kDirs[area] + "/";
  }

  void Settings(const std::string& extras) {
    qmtest::WriteFile(bin + "/quillmar.ini", "[Extras]\r\n" + extras);
  }

  std::vector<std::string> Names(int area) {
    std::vector<std::string> names;
    for (const auto& rec : FileList(area)) names.push_back(rec["name"]);
    return names;
  }

  std::string check;
};

TEST_F(Extras, DuplicatesAndUploadChecksAreRefusedBeforeAnythingIsCopied) {
  Settings("Duplicates=Refuse\r\nUploadCheck=" + check +
           " %f\r\nUploadCheckSeconds=1\r\nRefusedFolder=refused\r\n");
  qmtest::MakeDirs(bin + "/refused");
  qmtest::WriteFile(bin + "/refused/BAD.TXT", "last night's");
  qmtest::WriteFile(bin + "/quillmar.db", std::string(4096, '\x5A'));
  // A blank in the path: the check still gets it as one argument.
  const std::string up = tmp / "up load/";
  qmtest::MakeDirs(up);
  qmtest::WriteFile(up + "Copy.Zip", "game bytes");  // as GAME.ZIP in FA# 1
  qmtest::WriteFile(up + "NEW1.TXT", "fresh");
  qmtest::WriteFile(up + "NEW2.TXT", "fresh");  // as NEW1.TXT, this run
  qmtest::WriteFile(up + "EMPTY1", "");         // empty files are no copies
  qmtest::WriteFile(up + "EMPTY2", "");
  qmtest::WriteFile(up + "BAD.TXT", "b");
  const std::string listed = tmp / "listed/";
  qmtest::MakeDirs(listed);
  qmtest::WriteFile(listed + "DOCCOPY.TXT", "docs");
  qmtest::WriteFile(tmp / "paths.qls", listed + "DOCCOPY.TXT\r\n");
  qmtest::WriteFile(AreaDir(4) + "SAME.TXT", "fresh");
  qmtest::WriteFile(AreaDir(4) + "OTHER.TXT", "other");
  qmtest::WriteFile(AreaDir(4) + "FILES.BBS",
                    "SAME.TXT   Same as a new one\r\nOTHER.TXT  Other\r\n");
  WriteConfig(bin + "/job.cfg",
              {ConfigEntry(2, "Add", "Scan For New", up + "*.*", "NA", "NA",
                           AreaDir(2)),
               ConfigEntry(3, "Add", "From File List", tmp / "paths.qls", "NA",
                           "NA", AreaDir(3)),
               ConfigEntry(4, "Add", "Scan For New", "FILES.BBS", "NA", "NA",
                           AreaDir(4))});

  auto result = Quillmar({"job.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Files added: 4, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; duplicates refused: 4; upload checks refused: 1; "
            "problems logged: 11 in " +
                bin + "/job.err\n");
  const std::string same = " has the same content as FA# ";
  const std::string moved = "Refused upload moved to: " + bin + "/refused/";
  EXPECT_EQ(qmtest::LogEntries(bin + "/job.err"),
            (std::vector<std::string>{
                "Duplicate index was damaged and is built again: " + bin +
                    "/quillmar.db",
                "Upload check refused: " + up +
                    "BAD.TXT (exit 1: BAD.TXT: Test-Signature FOUND)",
                moved + "BAD.TXT.1",
                "Duplicate not added: Copy.Zip from path: " + up + same +
                    "1: GAME.ZIP",
                moved + "Copy.Zip",
                "Duplicate not added: NEW2.TXT from path: " + up + same +
                    "2: NEW1.TXT",
                moved + "NEW2.TXT",
                "Duplicate not added: DOCCOPY.TXT from path: " + listed + same +
                    "2: DOCS.TXT",
                moved + "DOCCOPY.TXT",
                "Duplicate not added: SAME.TXT from path: " + AreaDir(4) +
                    same + "2: NEW1.TXT",
                moved + "SAME.TXT"}));
  EXPECT_EQ(qmtest::ListDir(bin + "/refused"),
            (std::vector<std::string>{"BAD.TXT", "BAD.TXT.1", "Copy.Zip",
                                      "DOCCOPY.TXT", "NEW2.TXT", "SAME.TXT"}));
  EXPECT_EQ(qmtest::ReadFile(bin + "/refused/BAD.TXT"), "last night's");
  EXPECT_EQ(qmtest::ListDir(up),
            (std::vector<std::string>{"EMPTY1", "EMPTY2", "NEW1.TXT"}));
  EXPECT_EQ(Names(2), (std::vector<std::string>{"DOCS.TXT", "EMPTY1", "EMPTY2",
                                                "NEW1.TXT"}));
  EXPECT_EQ(
      qmtest::ListDir(AreaDir(2)),
      (std::vector<std::string>{"DOCS.TXT", "EMPTY1", "EMPTY2", "NEW1.TXT"}));
  EXPECT_TRUE(Names(3) == std::vector<std::string>{"HUGE2.DAT"});
  EXPECT_EQ(qmtest::ListDir(AreaDir(3)), std::vector<std::string>{"HUGE2.DAT"});
  EXPECT_EQ(Names(4), std::vector<std::string>{"OTHER.TXT"});
  // The index was built again: the stored files and those added.
  EXPECT_EQ(qmtest::IndexRows(bin + "/quillmar.db"), 8);

  // A stored file changed since: its old content is no longer a duplicate,
  // its new one is. Report adds both, saying so of the second.
  qmtest::WriteFile(AreaDir(1) + "game.zip", "new game bytes!");
  qmtest::SetMTime(AreaDir(1) + "game.zip", 1000000000);
  // Set in a block appended below another [Extras]; a value not understood
  // is said once in each run's log. Descriptions come from every format,
  // through the archivers too.
  Settings(
      "UploadCheckSeconds=abc\r\n[General]\r\nSysopName=Sy\r\n"
      "[Extras]\r\nDuplicates=Report\r\nArchivers=ARJ ARC ZOO\r\n");
  const std::string formats = tmp / "formats/";
  qmtest::MakeDirs(formats);
  const std::vector<std::pair<std::string, std::string>> diz = {
      {"FILE_ID.DIZ", "Every format\r\n"}};
  qmtest::MakeZip(formats + "FMT.ZIP", diz);
  qmtest::WriteFile(formats + "FMT.LZH", qmtest::Lzh(diz));
  qmtest::MakeWithArchiver(formats + "FMT.ARJ", diz);
  qmtest::MakeWithArchiver(formats + "FMT.ARC", diz);
  qmtest::WriteFile(formats + "FMT.ZOO", qmtest::Zoo(diz));
  qmtest::WriteFile(
      formats + "FMTSFX.EXE",
      "MZ" + std::string(510, '\0') + qmtest::ReadFile(formats + "FMT.ARJ"));
  const std::string rar = tmp / "rar/";
  qmtest::MakeDirs(rar);
  qmtest::WriteFile(rar + "FMT.RAR", qmtest::ReadFile(qmtest::SourceDir() +
                                                      "/tests/data/RAR5.RAR"));
  const std::string again = tmp / "again/";
  qmtest::MakeDirs(again);
  qmtest::WriteFile(again + "AGAIN.ZIP", "game bytes");
  qmtest::WriteFile(again + "W.ZIP", "new game bytes!");
  std::filesystem::remove(bin + "/job.err");
  // A listing of what came in the last two days leaves this out.
  qmtest::WriteFile(AreaDir(3) + "OLD.TXT", "old");
  qmtest::SetMTime(AreaDir(3) + "OLD.TXT", std::time(nullptr) - 3 * 86400);
  ASSERT_EQ(qmtest::Wcserver(
                {"file", "add", home, "--area", "3", "--name", "OLD.TXT"})
                .exitCode,
            0);
  auto recent = ConfigEntry(3, "List", "JSON", "*.*", "Per File Area",
                            "new.json", AreaDir(3));
  recent.AddedWithinDays = 2;
  WriteConfig(bin + "/job.cfg",
              {ConfigEntry(3, "Add", "Scan For New", again + "*.*", "NA", "NA",
                           AreaDir(3)),
               ConfigEntry(3, "Add", "Scan For New", formats + "*.*",
                           "Extract from ZIP", "file_id.diz", AreaDir(3)),
               ConfigEntry(3, "Add", "Scan For New", rar + "*.*",
                           "Extract from ZIP", "*.TXT", AreaDir(3)),
               recent});
  result = Quillmar({"job.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Files added: 9, deleted: 0, moved: 0, copied: 0; listings "
            "written: 1; duplicates reported: 1; problems logged: 2 in " +
                bin + "/job.err\n");
  const std::string recentJson = qmtest::ReadFile(AreaDir(3) + "new.json");
  for (const char* name : {"AGAIN.ZIP", "W.ZIP", "HUGE2.DAT"})
    EXPECT_NE(recentJson.find(name), std::string::npos) << name;
  EXPECT_EQ(recentJson.find("OLD.TXT"), std::string::npos);
  EXPECT_EQ(qmtest::LogEntries(bin + "/job.err"),
            (std::vector<std::string>{
                "Extras setting not understood: UploadCheckSeconds=abc (120 "
                "used)",
                "Duplicate added: W.ZIP from path: " + again + same +
                    "1: GAME.ZIP"}));
  for (const auto& rec : FileList(3)) {
    const std::string name = rec["name"];
    if (name.rfind("FMT", 0) == 0) {
      EXPECT_EQ(rec["short"], name == "FMT.RAR" ? "hello libarchive test suite!"
                                                : "Every format")
          << name;
    }
  }
  EXPECT_EQ(Names(3), (std::vector<std::string>{
                          "AGAIN.ZIP", "FMT.ARC", "FMT.ARJ", "FMT.LZH",
                          "FMT.RAR", "FMT.ZIP", "FMT.ZOO", "FMTSFX.EXE",
                          "HUGE2.DAT", "OLD.TXT", "W.ZIP"}));

  // The report: largest waste first; empty files are in no group; a file
  // rewritten with its size and time kept (as by touch -r) is printed in
  // the group of what it holds now.
  Stored(4, "HUGE3.DAT", std::string(100, 'x'));
  const std::string rewritten = AreaDir(3) + "HUGE2.DAT";
  const auto time = std::filesystem::last_write_time(rewritten);
  qmtest::WriteFile(rewritten, std::string(100, 'x'));
  std::filesystem::last_write_time(rewritten, time);
  result = Quillmar({"--duplicates"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "FA# 3: HUGE2.DAT 100\nFA# 4: HUGE3.DAT 100\n\n"
            "FA# 1: GAME.ZIP 15\nFA# 3: W.ZIP 15\n");
  EXPECT_EQ(Names(1), (std::vector<std::string>{"GAME.ZIP", "HUGE.DAT"}));
}

// The run killed while its upload check runs: the check and what it started
// die with it (none of them holds the host, so it can be logged in to at
// once), and the next run removes what the killed one left in Temp.
TEST_F(Extras, AKilledRunTakesItsUploadCheckAlong) {
  const std::string pids = tmp / "pids";
  const std::string hang = tmp / "hang.sh";
  qmtest::WriteFile(hang, "#!/bin/sh\necho $PPID >> " + pids + "\necho $$ >> " +
                              pids + "\nsleep 60 &\necho $! >> " + pids +
                              "\nwait\n");
  chmod(hang.c_str(), 0755);
  Settings("UploadCheck=" + hang + " %f\r\nUploadCheckSeconds=100\r\n");
  const std::string up = tmp / "up/";
  qmtest::MakeDirs(up);
  qmtest::WriteFile(up + "NEW.ZIP", "new upload");
  WriteConfig(bin + "/job.cfg",
              {ConfigEntry(2, "Add", "Scan For New", up + "*.*", "NA", "NA",
                           AreaDir(2))});
  {
    qmtest::BackgroundProcess killed({bin + "/quillmar", bin + "/job.cfg"});
    for (int i = 0; i < 3000 && qmtest::PidsIn(pids).size() < 3; ++i)
      usleep(10000);
    ASSERT_EQ(qmtest::PidsIn(pids).size(), 3u);
    for (int pid : qmtest::PidsIn(pids)) {
      const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
      for (const std::string& fd : qmtest::ListDir(fds)) {
        std::error_code error;
        const std::string file =
            std::filesystem::read_symlink(fds + "/" + fd, error).string();
        EXPECT_EQ(file.find(home), std::string::npos) << pid << ": " << file;
      }
    }
  }  // SIGKILL
  for (int pid : qmtest::PidsIn(pids)) EXPECT_TRUE(qmtest::ProcessEnds(pid));
  auto leftovers = [&] {
    std::vector<std::string> names = qmtest::ListDir(bin + "/Temp");
    std::erase_if(names, [](const std::string& name) {
      return name.rfind(".quillmar-", 0) != 0;
    });
    return names.size();
  };
  EXPECT_EQ(leftovers(), 1u);  // the killed run's copy of the upload

  Settings("");
  auto result = Quillmar({"job.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(leftovers(), 0u);
  EXPECT_EQ(Names(2), (std::vector<std::string>{"DOCS.TXT", "NEW.ZIP"}));
}

TEST_F(Extras, TestRunShowsRefusalsWithoutAnIndexToWrite) {
  Settings("Duplicates=Refuse\r\nUploadCheck=" + check + " %f\r\n");
  const std::string up = tmp / "up/";
  qmtest::MakeDirs(up);
  qmtest::WriteFile(up + "BAD.TXT", "b");
  qmtest::WriteFile(up + "DUP.ZIP", "game bytes");
  qmtest::WriteFile(up + "NEW.TXT", "fresh");
  qmtest::WriteFile(up + "NEW2.TXT", "fresh");
  WriteConfig(tmp / "job.cfg",
              {ConfigEntry(2, "Add", "Scan For New", up + "*.*", "NA", "NA",
                           AreaDir(2))});
  // A program directory that cannot be written holds no index: the test
  // run reads the stored files for itself.
  if (geteuid() == 0) {
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(tmp.path()))
      ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(tmp.path().c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(bin.c_str(), 0555), 0);
  // Permissions bind root only as another user (the program refuses to run
  // with two user ids).
  std::vector<std::string> argv{bin + "/quillmar", "--test-run",
                                tmp / "job.cfg"};
  if (geteuid() == 0)
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534",
                               "--regid=65534", "--clear-groups"});
  auto result = qmtest::RunProcess(
      argv, {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"}, 90, tmp.path());
  ASSERT_EQ(chmod(bin.c_str(), 0755), 0);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string same = " has the same content as FA# ";
  EXPECT_EQ(result.out,
            "ERR: Duplicate index could not be written: " + bin +
                "/quillmar.db: stored files are read for this run only\n"
                "ERR: Upload check refused: " +
                up +
                "BAD.TXT (exit 1: BAD.TXT: Test-Signature FOUND)\nERR: "
                "Duplicate not added: DUP.ZIP " +
                "from path: " + up + same +
                "1: GAME.ZIP\nAdd to FA# 2: NEW.TXT from: " + up +
                "\nERR: Duplicate not added: NEW2.TXT from path: " + up + same +
                "2: NEW.TXT\n");
  EXPECT_FALSE(qmtest::Exists(bin + "/quillmar.db"));
  EXPECT_EQ(Names(2), std::vector<std::string>{"DOCS.TXT"});
}

// What a record holds, as the host stores it.
struct Listed {
  Listed(std::string n, std::vector<std::string> d, std::string t = {})
      : name(std::move(n)), descriptions(std::move(d)), day(std::move(t)) {}
  std::string name;
  std::vector<std::string> descriptions;
  std::string day;  // the list's date; empty: the stored file's time
};

std::vector<Listed> Read(const std::string& home, int32_t area) {
  std::vector<TFullFileRecord> records;
  std::string error;
  EXPECT_TRUE(qm::host::ListFileRecords(home, area, records, error)) << error;
  std::vector<Listed> read;
  for (const TFullFileRecord& r : records) {
    Listed listed{qm::FieldText(r.Info.Name, kFileNameSize), {}, {}};
    if (r.Info.HasLongDescription) {
      for (const auto& slot : r.LongDescription)
        if (slot[0] != '\0')
          listed.descriptions.push_back(qm::FieldText(slot, kLongDescLineSize));
    } else if (r.Info.Description[0] != '\0') {
      listed.descriptions.push_back(
          qm::FieldText(r.Info.Description, kShortDescSize));
    }
    const std::string time = qm::FileTimeToIsoText(r.Info.FileTime);
    if (time.substr(10) == " 00:00:00") listed.day = time.substr(0, 10);
    read.push_back(listed);
  }
  return read;
}

// Lists of other boards and CD collections (tests/data/README), each in an
// area of its own, with every listed file there; uploads whose descriptions
// are in members other than the entry's, or in ANSI. With the extras on,
// each record holds the description without the columns; with every extra
// off, what the plain reading gives, the same as with no [Extras] at all.
TEST_F(Extras, ListsOfOtherBoardsAndOtherDescriptionMembers) {
  struct List {
    int32_t area;
    const char* file;
    std::vector<Listed> on;
    // Where every extra off reads an entry otherwise, by its place: the
    // lines that stand in place of its first description line.
    std::map<size_t, std::vector<std::string>> off;
  };
  const std::string ansiLine = "\x1b[1;33m  PCBoard 15.4\x1b[0;33m Revival";
  const std::string colourLine =
      "\x1b[1;32m  12/12 \x1b[0;32mPhase 0 utilities linked\x1b[0m";
  const std::vector<List> lists = {
      {11,
       "COUNTER.BBS",
       {{"T7G-FIX.ZIP", {"The 7th Guest"}},
        {"TETROLIS.ZIP", {}},
        {"USAIL310.ZIP", {"UltraSound AIL V3.10"}},
        {"USAIL311.ZIP",
         {"Audio Interface Libraries 3.0", "(AIL 3.0) V3.11",
          "-----------------------------", "These drivers will allow you",
          "to patch games that use the AIL", "3.0 drivers that do not ship",
          "with UltraSound drivers.",
          "-=[\xE1"
          "last\xE4"
          "rSound BBS +34-(9)-58-293583]=-"}},
        {"XCOM14.ZIP", {"UFO/XCOM: Enemy Unknown", "GUS Patch."}},
        {"XIXIT.ZIP",
         {"\xB0\xB1  TERMINAL VELOCITY v1.2 from 3D Realms! \xB1\xB0",
          "\xB0\xB1   Shareware Episode v1.1 - v1.2 Patch   \xB1\xB0",
          "This patch will update your shareware copy of",
          "Terminal Velocity v1.1 to v1.2. This patch",
          "requires that you currently have your copy of",
          "the game installed.  If you have the CD-ROM",
          "or the disk based registered version, then",
          "you need a different file.  From 3D Realms."}},
        {"XWINGUPD.ZIP", {"Xwing/Tie Fighter", "GUS Patch."}},
        {"ZONE66G.ZIP",
         {"**ZONE 66**  Add-on Gravis Ultrasound",
          "musical sound track for Zone 66.  Requires",
          "Zone 66.  [Sysops,  if you're downloading",
          "the game to post on your BBS,  please be",
          "sure to post this one too]"}}},
       {{0, {"[00] The 7th Guest"}},
        {1, {"[00] ( no information available )"}},
        {2, {"[00] UltraSound AIL V3.10"}},
        {3, {"[00] Audio Interface Libraries 3.0"}},
        {4, {"[00] UFO/XCOM: Enemy Unknown"}},
        {5, {"TERMINAL VELOCITY v1.2 from 3D Realms! \xB1\xB0"}},
        {6, {"[00] Xwing/Tie Fighter"}},
        {7, {"[00] **ZONE 66** Add-on Gravis Ultrasound"}}}},
      {12,
       "SIZEDATE.BBS",
       {{"1LINE14B.ZIP",
         {"{THP}'s One Liners Door v1.4b (3-25-92) Door",
          "designed to load in login, to let users add a",
          "line of garble, displays last few callers,",
          "and user stats screen. All options fully", "configuarble, etc..."},
         "1992-03-27"},
        {"4CAST104.ZIP", {}, "1993-12-05"},
        {"4CORNR11.ZIP",
         {"Four Corners door game for Gap: match rows or",
          "corners to gain points. Part of the TomTron",
          "collection of GAP BBS programs."},
         "1992-12-20"},
        {"5DWS16.ZIP",
         {"BBS game door - 5D word search game. Version",
          "6 compatible with most PC-Based bbs systems."},
         "1992-10-20"}},
       {{1,
         {"No ID File Found For This Archive File.",
          "Please consult the documentation of this",
          "program for a complete description of", "its purpose and use."}}}},
      {13,
       "DATE.BBS",
       {{"15_GOAT.ZIP", {"PCX Graphics of A Goat Ram"}, "1993-04-28"},
        {"1950CLIP.ZIP",
         {"1950's Clipart Images, Jukebox, Guitar Etc."},
         "1992-03-24"},
        {"3KIDS.ZIP", {"2 Images, PCX and BMP of two kids."}, "1993-03-02"},
        {"ABSURD02.ZIP", {"Absurd cartoons Volume 2."}, "1993-04-07"},
        {"ADS1.ZIP",
         {"PCX Clip Art, Good For Advertising Aids"},
         "1993-04-19"}},
       {{0,
         {"04/28/93 PCX Graphics of A Goat Ram", "PCX Graphics of A Goat Ram"}},
        {1,
         {"03/24/92 s Clipart Images, Jukebox, Guitar Etc.",
          "1950's Clipart Images, Jukebox, Guitar Etc."}},
        {2,
         {"03/02/93 Images, PCX and BMP of two kids.",
          "2 Images, PCX and BMP of two kids."}},
        {3,
         {"04/07/93 Absurd cartoons Volume 2.", "Absurd cartoons Volume 2."}},
        {4,
         {"04/19/93 PCX Clip Art, Good For Advertising Aids",
          "PCX Clip Art, Good For Advertising Aids"}}}},
      {14,
       "SIZE.BBS",
       {{"8n1.lha", {"Replaces serial.device.  V37.13"}},
        {"ahp4.lha", {"Packet Radio HOST-MODE for amiga"}},
        {"amigancp18.lha", {"Link Amiga to Psion S3/a palmtops"}},
        {"AmiNote22.lha", {"V2.2 - GUI to store your AmiNet dloads"}},
        {"AmIstec12.lha",
         {"Configuration software for Istec 1003/1008 ISDN hardwar"}},
        {"caretime.lha", {"Tell you how for how long you are connected"}}},
       {{0, {"27K Replaces serial.device. V37.13"}},
        {1, {"539K Packet Radio HOST-MODE for amiga"}},
        {2, {"131K Link Amiga to Psion S3/a palmtops"}},
        {3, {"48K V2.2 - GUI to store your AmiNet dloads"}},
        {4, {"51K Configuration software for Istec 1003/1008 ISDN hardwar"}},
        {5, {"41K Tell you how for how long you are connected"}}}},
      {15,
       "NAMECOL.BBS",
       {{"256CRKT.UPD", {"Corrected 256K Kaypro RAM circuit"}},
        {"256NEW.ANS", {"Answer to Kaypro RAM upgrade problem"}},
        {"84KP256.LBR", {"256K RAM for the KayPro '84's"}},
        {"84KP256A.ARK", {"190K RAMdisk for '84 Kaypros - $40"}},
        {"ADVENT1.ARK", {}},
        {"ADVENT2.ARK", {}},
        {"ALTDRIVE.LBR", {"Dynamic re-configuration of DSKDRV"}},
        {"ARTIE71.LBR", {"Block graphic editor for Kaypro"}},
        {"ARTIST.LBR", {"Drawing program for Kaypro in Turbo"}},
        {"AUTOBOOT.ARK", {"AUTOBOOT.WS & MicroSphere ramdisk"}},
        {"AUTOBOOT.WS", {}},
        {"AUTOBOOT.WZ", {"Tips on auto-start at Kaypro bootup"}},
        {"AUTOKEYS.LBR", {"Configure Kaypro keypad"}},
        {"BIOSMR12.LBR", {"Improved Kaypro BIOS fast/more storg"}},
        {"BRIEF-SQ.INF", {}}},
       {{4, {"No description available"}},
        {5, {"No description available"}},
        {14, {"No description available"}}}},
      {16,
       "uploads",
       {{"ANS.ZIP", {"  PCBoard 15.4 Revival"}},
        {"COLOUR.ZIP", {"  12/12 Phase 0 utilities linked"}},
        {"DIZ.ZIP", {"The entry's own member"}},
        {"SDI.ZIP", {"From DESC.SDI"}}},
       {{0, {}}, {1, {colourLine}}, {3, {}}}},
  };
  const std::string data = qmtest::SourceDir() + "/tests/data/";
  const std::string up = home + "/incoming/";
  qmtest::MakeDirs(up);
  qmtest::MakeZip(up + "ANS.ZIP", {{"FILE_ID.ANS", ansiLine + "\r\n"}});
  qmtest::MakeZip(up + "COLOUR.ZIP", {{"FILE_ID.DIZ", colourLine + "\r\n"}});
  qmtest::MakeZip(up + "DIZ.ZIP",
                  {{"DESC.SDI", "Not this one\r\n"},
                   {"FILE_ID.DIZ", "The entry's own member\r\n"}});
  qmtest::MakeZip(up + "SDI.ZIP", {{"DESC.SDI", "From DESC.SDI\r\n"}});
  std::vector<qm::AreaConfigEntry> job;
  for (const List& list : lists) {
    const std::string dir = home + "/files/" + std::to_string(list.area) + "/";
    qmtest::MakeDirs(dir);
    auto added = qmtest::Wcserver({"area", "add", home, "--number",
                                   std::to_string(list.area), "--name",
                                   list.file, "--path", dir});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    if (list.area == 16) {
      job.push_back(ConfigEntry(list.area, "Add", "Scan For New", up + "*.*",
                                "Extract from ZIP", "file_id.diz", dir));
      continue;
    }
    qmtest::WriteFile(dir + "FILES.BBS", qmtest::ReadFile(data + list.file));
    for (const Listed& file : list.on) qmtest::WriteFile(dir + file.name, "x");
    job.push_back(ConfigEntry(list.area, "Add", "Scan For New", "FILES.BBS",
                              "NA", "NA", dir));
  }
  WriteConfig(bin + "/job.cfg", job);
  // Every file with one time, so that runs from copies of this host give
  // the same records.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home))
    if (entry.is_regular_file()) qmtest::SetMTime(entry.path(), 946782245);
  const std::string pristine = tmp / "pristine";
  auto copy = [&](const std::string& from, const std::string& to) {
    auto copied = qmtest::RunProcess({"/bin/cp", "-a", from, to});
    ASSERT_EQ(copied.exitCode, 0) << copied.err;
  };
  copy(home, pristine);

  Settings(
      "FilesBbsDialects=Auto\r\nAnsiDescriptions=Text\r\n"
      "DescriptionFallback=DESC.SDI  FILE_ID.ANS\r\n");
  auto result = Quillmar({"job.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Files added: 42, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; problems logged: 2 in " +
                bin + "/job.err\n");
  // Two names of the Amiga list are longer than the host holds.
  EXPECT_EQ(qmtest::LogEntries(bin + "/job.err"),
            (std::vector<std::string>{
                "AmigaFax1_42.lha filename too long. 14 or less chars only.",
                "Base64Coders.lha filename too long. 14 or less chars only."}));
  size_t entries = 0, equal = 0;
  for (const List& list : lists) {
    const std::vector<Listed> read = Read(home, list.area);
    ASSERT_EQ(read.size(), list.on.size()) << list.file;
    for (size_t i = 0; i < read.size(); ++i) {
      ++entries;
      EXPECT_EQ(read[i].name, list.on[i].name) << list.file;
      EXPECT_EQ(read[i].descriptions, list.on[i].descriptions)
          << list.file << ": " << list.on[i].name;
      EXPECT_EQ(read[i].day, list.on[i].day)
          << list.file << ": " << list.on[i].name;
      if (read[i].descriptions == list.on[i].descriptions &&
          read[i].day == list.on[i].day)
        ++equal;
    }
  }
  std::cout << "[ records ] " << equal << " of " << entries
            << " as the lists mean them\n";

  // Every extra off, each key written at its default.
  std::string off;
  for (const qm::ExtraKey& row : qm::ExtraKeys())
    off += std::string(row.key) + "=" + qm::DefaultText(row) + "\r\n";
  int runs = 0;
  auto offRun = [&](const std::string& settings) {
    std::filesystem::rename(home, tmp / ("host" + std::to_string(++runs)));
    copy(pristine, home);
    std::filesystem::remove(bin + "/job.err");
    if (settings.empty())
      std::filesystem::remove(bin + "/quillmar.ini");
    else
      Settings(settings);
    auto run = Quillmar({"job.cfg"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> outputs{run.out};
    for (const std::string& entry : qmtest::LogEntries(bin + "/job.err"))
      outputs.push_back(entry);
    for (const List& list : lists) {
      std::vector<TFullFileRecord> stored;
      std::string error;
      EXPECT_TRUE(qm::host::ListFileRecords(home, list.area, stored, error));
      for (TFullFileRecord& record : stored) {
        // Uploads are stored with the time of their copy.
        if (list.area == 16) record.Info.FileTime = 0;
        outputs.emplace_back(reinterpret_cast<const char*>(&record),
                             sizeof record);
      }
    }
    return outputs;
  };
  const std::vector<std::string> allOff = offRun(off);
  // As the plain reading takes them: columns the double blanks do not cut
  // off stay, filler texts are descriptions, headers are files not there.
  EXPECT_EQ(allOff.front(),
            "Files added: 42, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; problems logged: 4 in " +
                bin + "/job.err\n");
  EXPECT_EQ(
      qmtest::LogEntries(bin + "/job.err"),
      (std::vector<std::string>{
          "Could not add file: Windows from path: " + home +
              "/files/13/ to file area #13",
          std::string(79, '-') + " filename too long. 14 or less chars only.",
          "AmigaFax1_42.lha filename too long. 14 or less chars only.",
          "Base64Coders.lha filename too long. 14 or less chars only."}));
  size_t offEqual = 0;
  for (const List& list : lists) {
    const std::vector<Listed> read = Read(home, list.area);
    ASSERT_EQ(read.size(), list.on.size()) << list.file;
    for (size_t i = 0; i < read.size(); ++i) {
      const auto other = list.off.find(i);
      std::vector<std::string> expected = list.on[i].descriptions;
      if (other != list.off.end()) {
        if (!expected.empty()) expected.erase(expected.begin());
        expected.insert(expected.begin(), other->second.begin(),
                        other->second.end());
      }
      EXPECT_EQ(read[i].name, list.on[i].name) << list.file;
      EXPECT_EQ(read[i].descriptions, expected)
          << list.file << " off: " << list.on[i].name;
      EXPECT_EQ(read[i].day, "") << list.file << " off: " << list.on[i].name;
      if (read[i].descriptions == expected && read[i].day.empty()) ++offEqual;
    }
  }
  std::cout << "[ records ] " << offEqual << " of " << entries
            << " as read without the extras\n";
  // Compared without printing: records are 1792 bytes each.
  EXPECT_TRUE(allOff == offRun(""));
}

}  // namespace
