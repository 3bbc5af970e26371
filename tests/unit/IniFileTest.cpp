#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run/Archivers.h"
#include "run/Extras.h"
#include "settings/Extras.h"
#include "settings/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(IniFileTest, MissingFileOrKeyGivesTheDefault) {
  qmtest::TempDir dir;
  qm::IniFile missing(dir / "none.ini");
  EXPECT_EQ(missing.ReadString("General", "SysopName", "Sysop"), "Sysop");
  EXPECT_EQ(missing.ReadInteger("Main Window", "Top", 15), 15);
  EXPECT_FALSE(qmtest::Exists(dir / "none.ini"));

  qmtest::WriteFile(dir / "a.ini", "[General]\r\nBBSName=Board\r\n");
  qm::IniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadString("General", "SysopName", "Sysop"), "Sysop");
  EXPECT_EQ(ini.ReadString("Other", "BBSName", "none"), "none");
}

TEST(IniFileTest, NamesIgnoreCaseAndBlanksAreTrimmed) {
  qmtest::TempDir dir;
  qmtest::WriteFile(dir / "a.ini",
                    "; comment=1\r\n"
                    "[A]\r\n"
                    "k=in A\r\n"
                    "  [ config window ]  \n"
                    "  Area Name  =  150  \n"
                    "Quoted=\"  spaced  \"\n"
                    "Equals=a=b\n"
                    "[b]\n"
                    "K=in B");
  qm::IniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadInteger("Config Window", "area name", 0), 150);
  EXPECT_EQ(ini.ReadString("CONFIG WINDOW", "AREA NAME", ""), "150");
  EXPECT_EQ(ini.ReadString("config window", "quoted", ""), "  spaced  ");
  EXPECT_EQ(ini.ReadString("config window", "Equals", ""), "a=b");
  EXPECT_EQ(ini.ReadString("a", "K", ""), "in A");
  EXPECT_EQ(ini.ReadString("B", "k", ""), "in B");
  EXPECT_EQ(ini.ReadString("A", "; comment", "x"), "x");
}

TEST(IniFileTest, IntegerForms) {
  qmtest::TempDir dir;
  qmtest::WriteFile(dir / "i.ini",
                    "[N]\nA=0x1F\nB=0X1f\nC=$1F\nD=1F\nE=0x\nF=-4\nG=+7\n"
                    "H=abc\nI=12abc\nJ=99999999999\nK=\nL=$FFFFFFFF\n"
                    "M=-2147483648\nN=0x-5\n");
  qm::IniFile ini(dir / "i.ini");
  const int d = 99;
  EXPECT_EQ(ini.ReadInteger("N", "A", d), 31);
  EXPECT_EQ(ini.ReadInteger("N", "B", d), 31);
  EXPECT_EQ(ini.ReadInteger("N", "C", d), 31);
  EXPECT_EQ(ini.ReadInteger("N", "D", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "E", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "F", d), -4);
  EXPECT_EQ(ini.ReadInteger("N", "G", d), 7);
  EXPECT_EQ(ini.ReadInteger("N", "H", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "I", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "J", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "K", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "L", d), -1);
  EXPECT_EQ(ini.ReadInteger("N", "M", d), -2147483647 - 1);
  EXPECT_EQ(ini.ReadInteger("N", "N", d), d);
  EXPECT_EQ(ini.ReadInteger("N", "missing", d), d);
}

TEST(IniFileTest, WritingCreatesTheFileAndRoundTrips) {
  qmtest::TempDir dir;
  const std::string path = dir / "new.ini";
  qm::IniFile ini(path);
  ini.WriteInteger("Main Window", "Top", -4);
  ini.WriteInteger("Main Window", "Left", 15);
  ini.WriteString("General", "wcHomeDir", "/srv/wc/");
  EXPECT_EQ(qmtest::ReadFile(path),
            "[Main Window]\r\nTop=-4\r\nLeft=15\r\n\r\n"
            "[General]\r\nwcHomeDir=/srv/wc/\r\n");
  EXPECT_EQ(ini.ReadInteger("Main Window", "Top", 0), -4);
  EXPECT_EQ(ini.ReadString("general", "WCHOMEDIR", ""), "/srv/wc/");
  EXPECT_EQ(qmtest::ListDir(dir.path()), std::vector<std::string>{"new.ini"});
}

TEST(IniFileTest, ValuesComeBackCutTo1023Characters) {
  qmtest::TempDir dir;
  qm::IniFile ini(dir / "long.ini");
  const std::string value = std::string(1000, 'a') + std::string(500, 'b');
  ini.WriteString("General", "SysopName", value);
  EXPECT_EQ(ini.ReadString("General", "SysopName", ""), value.substr(0, 1023));
}

TEST(IniFileTest, WritingKeepsEveryOtherLineByteForByte) {
  qmtest::TempDir dir;
  const std::string path = dir / "keep.ini";
  const std::string head =
      "; settings\r\n"
      "\r\n"
      "[Main Window]\r\n"
      "Unknown = keep me \r\n";
  const std::string tail =
      "  ; note\n"
      "Left=20\n"
      "\n"
      "[Config Window]\r\n"
      "Width=620\r\n"
      "\r\n"
      "[Other]\r\n"
      "last=1";  // no line end
  qmtest::WriteFile(path, head + "TOP = 300\r\n" + tail);
  qm::IniFile ini(path);

  ini.WriteInteger("main window", "Top", 42);  // replaced in place
  EXPECT_EQ(qmtest::ReadFile(path), head + "TOP=42\r\n" + tail);

  ini.WriteInteger("Config Window", "Height", 460);  // new key of a section
  const std::string withHeight = head + "TOP=42\r\n" +
                                 "  ; note\nLeft=20\n\n[Config Window]\r\n"
                                 "Width=620\r\nHeight=460\r\n\r\n"
                                 "[Other]\r\nlast=1";
  EXPECT_EQ(qmtest::ReadFile(path), withHeight);

  ini.WriteString("Other", "next", "2");  // after an unended last line
  EXPECT_EQ(qmtest::ReadFile(path), withHeight + "\r\nnext=2\r\n");
}

TEST(IniFileTest, ExtrasOffLeaveTheFileAndOddValuesReadAsDefaults) {
  qmtest::TempDir dir;
  const std::string path = dir / "quillmar.ini";
  const std::string before = "[General]\r\nSysopName=Ann\r\n";
  qmtest::WriteFile(path, before);
  qm::IniFile ini(path);
  qm::WriteExtras(ini, qm::ReadExtras(ini));
  EXPECT_EQ(qmtest::ReadFile(path), before);

  qmtest::WriteFile(path,
                    "[Extras]\r\nDuplicates=Maybe\r\nUploadCheck=  "
                    "\r\nUploadCheckSeconds=-5\r\nFilesBbsDialects=Yes\r\n"
                    "DescriptionFallback= \tDESC.SDI\t FILE_ID.ANS \r\n");
  const qm::ExtrasSettings odd = qm::ReadExtras(ini);
  EXPECT_EQ(odd.duplicates, qm::DuplicateMode::Off);
  EXPECT_EQ(odd.uploadCheck, "");
  EXPECT_EQ(odd.uploadCheckSeconds, 120);
  EXPECT_EQ(odd.notUnderstood,
            (std::vector<std::string>{
                "Extras setting not understood: Duplicates=Maybe (Off used)",
                "Extras setting not understood: UploadCheckSeconds=-5 (120 "
                "used)",
                "Extras setting not understood: FilesBbsDialects=Yes (Off "
                "used)"}));
  EXPECT_EQ(odd.descriptionFallback,
            (std::vector<std::string>{"DESC.SDI", "FILE_ID.ANS"}));
  EXPECT_EQ(qm::ReadExtras(qm::IniFile(dir / "none.ini")).uploadCheckSeconds,
            120);

  // A key already there is rewritten when turned back to its default.
  qmtest::WriteFile(path, "[Extras]\r\nDuplicates=refuse\r\n");
  EXPECT_EQ(qm::ReadExtras(ini).duplicates, qm::DuplicateMode::Refuse);
  qm::WriteExtras(ini, qm::ExtrasSettings{});
  EXPECT_EQ(qmtest::ReadFile(path), "[Extras]\r\nDuplicates=Off\r\n");

  // A block appended below another [Extras] counts; where a key stands
  // twice, the first one counts, which is also the one written.
  qmtest::WriteFile(path,
                    "[Extras]\r\nCharset=CP437\r\nDuplicates=Report\r\n"
                    "[General]\r\nSysopName=Ann\r\n"
                    "[Extras]\r\nDuplicates=Refuse\r\nUploadCheck=scan %f\r\n");
  qm::ExtrasSettings appended = qm::ReadExtras(ini);
  EXPECT_EQ(appended.charset, qm::Charset::Cp437);
  EXPECT_EQ(appended.duplicates, qm::DuplicateMode::Report);
  EXPECT_EQ(appended.uploadCheck, "scan %f");
  appended.uploadCheck = "scan --all %f";
  qm::WriteExtras(ini, appended);
  EXPECT_EQ(qm::ReadExtras(ini).uploadCheck, "scan --all %f");

  // Archivers: shipped rows by name, sections that add or change one; a
  // row that cannot be used is said at each run's start.
  qmtest::WriteFile(path,
                    "[Extras]\r\nArchivers=lbr ARJ BAD ARC NONE\r\n"
                    "[Archiver LBR]\r\nSignature=00 20 @ 3, FF\r\n"
                    "List=lbr l %a\r\nExtract=lbr e %a %d %m\r\n"
                    "[archiver arj]\r\nExtract=\"my arj\" x %a %m\r\n"
                    "[Archiver BAD]\r\nSignature=0G\r\nList=x %a\r\n"
                    "Extract=x %a %m\r\n"
                    "[Archiver ARC]\r\nExtract=nomarch %a\r\n");
  const qm::ExtrasSettings archivers = qm::ReadExtras(ini);
  EXPECT_EQ(archivers.notUnderstood,
            (std::vector<std::string>{
                "Archiver BAD not used: Signature= is not hexadecimal bytes "
                "[@ offset]",
                "Archiver ARC not used: Extract= needs a program, %a and %m",
                "Archiver NONE not used: no such archiver and no section "
                "[Archiver NONE]"}));
  const std::vector<qm::Archiver> rows = qm::ArchiversInEffect(archivers);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "LBR");
  ASSERT_EQ(rows[0].signatures.size(), 2u);
  EXPECT_EQ(rows[0].signatures[0].offset, 3u);
  EXPECT_EQ(rows[0].signatures[0].bytes, std::string("\0 ", 2));
  EXPECT_EQ(rows[0].signatures[1].bytes, "\xFF");
  EXPECT_EQ(rows[0].extract,
            (std::vector<std::string>{"lbr", "e", "%a", "%d", "%m"}));
  EXPECT_EQ(rows[1].name, "ARJ");
  EXPECT_EQ(rows[1].signatures[0].bytes, "\x60\xEA");
  EXPECT_EQ(rows[1].list[0], "arj");
  EXPECT_EQ(rows[1].extract,
            (std::vector<std::string>{"my arj", "x", "%a", "%m"}));
}

TEST(IniFileTest, EveryValueWrittenReadsBackAsWritten) {
  qmtest::TempDir dir;
  qm::IniFile ini(dir / "quillmar.ini");
  for (const std::string value :
       {R"("/usr/bin/scan" -d "/x/sig dir/db" "%f")", "'quoted'", "\"",
        " blank ", "plain", "", "\"\""}) {
    ini.WriteString("Extras", "UploadCheck", value);
    EXPECT_EQ(ini.ReadString("Extras", "UploadCheck", "?"), value);
  }
  // Values that read back as they are stay unquoted in the file.
  EXPECT_EQ(qmtest::ReadFile(dir / "quillmar.ini"),
            "[Extras]\r\nUploadCheck=\"\"\"\"\r\n");
  ini.WriteString("Extras", "UploadCheck", "scan %f");
  EXPECT_EQ(qmtest::ReadFile(dir / "quillmar.ini"),
            "[Extras]\r\nUploadCheck=scan %f\r\n");
}

TEST(IniFileTest, FileNameIsFoundWithoutRegardToCase) {
  qmtest::TempDir dir;
  qmtest::WriteFile(dir / "Quillmar.INI", "[Config Window]\r\nTop=30\r\n");
  qm::IniFile ini(dir / "quillmar.ini");
  EXPECT_EQ(ini.ReadInteger("Config Window", "Top", 15), 30);
  ini.WriteInteger("Config Window", "Left", 40);
  EXPECT_EQ(qmtest::ListDir(dir.path()),
            std::vector<std::string>{"Quillmar.INI"});
  EXPECT_EQ(qmtest::ReadFile(dir / "Quillmar.INI"),
            "[Config Window]\r\nTop=30\r\nLeft=40\r\n");
}

TEST(IniFileTest, LineBreakInValueCannotAddKeys) {
  qmtest::TempDir dir;
  qm::IniFile ini(dir / "v.ini");
  ini.WriteString("General", "BBSName", "Board\r\nSysopName=Mallory");
  EXPECT_EQ(ini.ReadString("General", "BBSName", ""), "Board");
  EXPECT_EQ(ini.ReadString("General", "SysopName", "none"), "none");
}

TEST(IniFileTest, UnwritableFileRaisesTheWriteError) {
  qmtest::TempDir dir;
  for (const std::string& path :
       {dir / "no/such/dir.ini", std::string("/proc/quillmar-test.ini")}) {
    qm::IniFile ini(path);
    try {
      ini.WriteInteger("Main Window", "Top", 1);
      ADD_FAILURE() << "no error for " << path;
    } catch (const qm::SettingsWriteError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_FALSE(qmtest::Exists(path));
  }
}

// The sysop's arrangement stays: a link keeps pointing at the file it names
// (relative or dangling alike), whose mode is kept; a FIFO is never opened
// for good.
TEST(IniFileTest, WritingKeepsLinksAndPermissions) {
  qmtest::Watchdog watchdog;
  qmtest::TempDir dir;
  qmtest::MakeDirs(dir / "real");
  qmtest::WriteFile(dir / "real/shared.ini", "[General]\r\nBBSName=B\r\n");
  ASSERT_EQ(chmod((dir / "real/shared.ini").c_str(), 0600), 0);
  ASSERT_EQ(symlink("real/shared.ini", (dir / "quillmar.ini").c_str()), 0);
  ASSERT_EQ(symlink("real/later.ini", (dir / "dangling.ini").c_str()), 0);
  for (const char* name : {"quillmar.ini", "dangling.ini"}) {
    qm::IniFile ini(dir / name);
    ini.WriteInteger("Main Window", "Top", 7);
    EXPECT_EQ(ini.ReadInteger("Main Window", "Top", 0), 7);
    struct stat st {};
    ASSERT_EQ(lstat((dir / name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
  }
  EXPECT_EQ(qmtest::ReadFile(dir / "real/shared.ini"),
            "[General]\r\nBBSName=B\r\n\r\n[Main Window]\r\nTop=7\r\n");
  struct stat st {};
  ASSERT_EQ(stat((dir / "real/shared.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(qmtest::ListDir(dir / "real"),
            (std::vector<std::string>{"later.ini", "shared.ini"}));

  qmtest::MakeFifo(dir / "fifo.ini");
  qm::IniFile fifo(dir / "fifo.ini");
  EXPECT_EQ(fifo.ReadInteger("Main Window", "Top", 15), 15);
  EXPECT_THROW(fifo.WriteInteger("Main Window", "Top", 1),
               qm::SettingsWriteError);
  ASSERT_EQ(lstat((dir / "fifo.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(IniFileTest, SettingsFileNames) {
  EXPECT_EQ(qm::MainSettingsPath("/opt/q/", "tool.second.exe"),
            "/opt/q/tool.ini");
  EXPECT_EQ(qm::MainSettingsPath("/opt/q", "quillmar"), "/opt/q/quillmar.ini");
  EXPECT_EQ(qm::ConfigToolSettingsPath("/opt/q/"), "/opt/q/quillmar.ini");
}

}  // namespace
