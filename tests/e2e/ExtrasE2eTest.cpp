// The extras through the real program on a real host: duplicate uploads by
// content (the index in quillmar.db, the --duplicates report) and the
// upload check, in real runs and test runs; descriptions from every format,
// the archivers' among them.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/E2eSupport.h"
#include "tests/support/HandArchives.h"

using qmtest::ConfigEntry;
using qmtest::ProgramDirTest;

namespace {

// Refuses BAD by its name; the path must come as one argument.
constexpr char kCheckScript[] =
    "#!/bin/sh\n"
    "[ $# -eq 1 ] && [ -f \"$1\" ] || exit 7\n"
    "case \"$1\" in\n"
    "  *BAD*) exit 1 ;;\n"
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
           " %f\r\nUploadCheckSeconds=1\r\n");
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
            "problems logged: 6 in " +
                bin + "/job.err\n");
  const std::string same = " has the same content as FA# ";
  EXPECT_EQ(qmtest::LogEntries(bin + "/job.err"),
            (std::vector<std::string>{
                "Duplicate index was damaged and is built again: " + bin +
                    "/quillmar.db",
                "Upload check refused: " + up + "BAD.TXT (exit 1)",
                "Duplicate not added: Copy.Zip from path: " + up + same +
                    "1: GAME.ZIP",
                "Duplicate not added: NEW2.TXT from path: " + up + same +
                    "2: NEW1.TXT",
                "Duplicate not added: DOCCOPY.TXT from path: " + listed + same +
                    "2: DOCS.TXT",
                "Duplicate not added: SAME.TXT from path: " + AreaDir(4) +
                    same + "2: NEW1.TXT"}));
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
  WriteConfig(bin + "/job.cfg",
              {ConfigEntry(3, "Add", "Scan For New", again + "*.*", "NA", "NA",
                           AreaDir(3)),
               ConfigEntry(3, "Add", "Scan For New", formats + "*.*",
                           "Extract from ZIP", "file_id.diz", AreaDir(3)),
               ConfigEntry(3, "Add", "Scan For New", rar + "*.*",
                           "Extract from ZIP", "*.TXT", AreaDir(3))});
  result = Quillmar({"job.cfg"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Files added: 9, deleted: 0, moved: 0, copied: 0; listings "
            "written: 0; duplicates reported: 1; problems logged: 2 in " +
                bin + "/job.err\n");
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
  EXPECT_EQ(Names(3),
            (std::vector<std::string>{
                "AGAIN.ZIP", "FMT.ARC", "FMT.ARJ", "FMT.LZH", "FMT.RAR",
                "FMT.ZIP", "FMT.ZOO", "FMTSFX.EXE", "HUGE2.DAT", "W.ZIP"}));

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
                up + "BAD.TXT (exit 1)\nERR: Duplicate not added: DUP.ZIP " +
                "from path: " + up + same +
                "1: GAME.ZIP\nAdd to FA# 2: NEW.TXT from: " + up +
                "\nERR: Duplicate not added: NEW2.TXT from path: " + up + same +
                "2: NEW.TXT\n");
  EXPECT_FALSE(qmtest::Exists(bin + "/quillmar.db"));
  EXPECT_EQ(Names(2), std::vector<std::string>{"DOCS.TXT"});
}

}  // namespace
