#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "actions/FilesBbsDialect.h"
#include "platform/FileTime.h"

namespace {

using qm::ListDialect;

// Heads of real lists, a few lines each, from NuSkooler/ansi-bbs,
// ancient_formats/files_bbs/ (see tests/data/README): the file name, then
// the commit.
// files_bbs-gus_archive-toastednet_org.bbs, 3d98b766ba1f
const std::vector<std::string> kGus = {
    "ZONE66G.ZIP  [00] **ZONE 66**  Add-on Gravis Ultrasound",
    "\t\t  musical sound track for Zone 66.  Requires",
    "\t\t  Zone 66.",
    " ",
    "TETROLIS.ZIP [00] ( no information available )  ",
    "XIXIT.ZIP    [00] \xB0\xB1  TERMINAL VELOCITY v1.2 from 3D Realms! "
    "\xB1\xB0",
    "\t\t  \xB0\xB1   Shareware Episode v1.1 - v1.2 Patch   \xB1\xB0",
    " ",
    "USAIL311.ZIP [00] Audio Interface Libraries 3.0 ",
    "\t\t        (AIL 3.0) V3.11",
    "\t\t  -----------------------------",
    "\t\t  These drivers will allow you ",
};
// files_bbs-night_owl_7-1992.bbs, 4c399e3efd42
const std::vector<std::string> kNightOwl = {
    "1WOLF3D.ZIP   [0]  Wolfenstein 3-D - Shareware demo version ",
    "                               | game.  Has 3-D \"fast\" game play, "
    "Soundblaster",
    "ADR11A.ZIP    [0]  Address book for Win 3.0. From WilsonWinWare.",
    "                               |             <ASP>",
    "DJLOPE.ZIP    [0]  HPLJ Envelope printing program.  <ASP>",
};
// files_bbs-expanding_your_bbs-david_wolfe-1995.bbs, 4c399e3efd42
const std::vector<std::string> kExpanding = {
    "1LINE14B.ZIP     55475  03-27-92  {THP}'s One Liners Door v1.4b "
    "(3-25-92) Door",
    "                                  designed to load in login, to let "
    "users add a",
    "4CAST104.ZIP    237011  12-05-93  No ID File Found For This Archive "
    "File.",
    "                                  Please consult the documentation of "
    "this",
    "                                  program for a complete description of",
    "                                  its purpose and use.",
    "AW63.ZIP         89174  09-15-91  Android wars online bbs game v6.3.",
};
// files_bbs-unknown1.bbs, dc72264ebdc8
const std::vector<std::string> kUnknown = {
    "Windows              Clip Art                                       "
    "Files:   70",
    "-------------------------------------------------------------------------"
    "------",
    "15_GOAT.ZIP   04/28/93 PCX Graphics of A Goat Ram",
    " PCX Graphics of A Goat Ram ",
    "1950CLIP.ZIP  03/24/92 s Clipart Images, Jukebox, Guitar Etc.",
    " 1950's Clipart Images, Jukebox, Guitar Etc.",
    "CALCRT_1.ZIP  09/06/93 Calendar Critters I v1.0; Collection of 50 "
    "original PCX im",
    " Calendar Critters I v1.0; Collection of 50",
    " original PCX images. These cute critters can",
    "SFFILES.BBS   03/11/94 03/11/94 00/00/00",
};
// files_bbs-aminet_cd_10-1996.bbs, 4c399e3efd42
const std::vector<std::string> kAminet = {
    "8n1.lha             27K Replaces serial.device.  V37.13",
    "ahp4.lha           539K Packet Radio HOST-MODE for amiga",
    "AmigaFax1_42.lha   502K Fax package. 1.42 adds Class-2.0 support",
};
// files_bbs-cpm_cdrom-walnut_creek-1994.bbs, 3ebd7eaba677
const std::vector<std::string> kCpm = {
    " CP/M CDROM, Sep. 1994.  Walnut Creek CDROM.",
    " -------------------------------------------",
    " Kaypro System Files",
    " path: \\kaypro",
    " -------------------------------------------",
    "256CRKT.UPD  Corrected 256K Kaypro RAM circuit",
    "ADVENT1.ARK  No description available",
    "AUTOBOOT.WS  ",
    "CRHRDSFT.LBR WordStar <--> ASCII text conversion",
};
// files_bbs-project_gutenberg_cdrom-walnut_creek-1994.bbs, 5d8cf8ab12f1
const std::vector<std::string> kGutenberg = {
    "",
    "",
    " Project Gutenberg CDROM, March 1994.  Walnut Creek CDROM.",
    " ---------------------------------------------------------",
    "00README.TXT Readme for Project Gutenberg ",
    "AESOP11.TXT  Aesop's Fables                                     Nov "
    "1991 ",
    "AESOP10.ZIP  (ZIPPED) Aesop's Fables ",
    "HISONG12.ZIP (ZIPPED) The Song of Hiawatha, by Henry W. L       Sep "
    "1991 ",
};

TEST(FilesBbsDialectTest, DetectsTheLayoutFromTheFirstLines) {
  std::vector<std::string> headersOnly(3, "  ==  File Area 12: Games  ==");
  headersOnly.push_back("Windows              Clip Art      Files:   70");
  headersOnly.push_back("-----------------------------");
  // Only the first 40 non-blank lines tell; blank ones do not count.
  std::vector<std::string> late(41, "Games and more games");
  late.insert(late.begin() + 5, 30, "");
  late.insert(late.end(), kGus.begin(), kGus.end());
  std::vector<std::string> early(39, "");
  early.insert(early.end(), kGus.begin(), kGus.end());
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    ListDialect dialect;
  };
  const std::vector<Case> cases = {
      {"gus", kGus, ListDialect::Counter},
      {"night owl", kNightOwl, ListDialect::Counter},
      {"expanding", kExpanding, ListDialect::SizeAndDate},
      {"unknown1", kUnknown, ListDialect::Date},
      {"aminet", kAminet, ListDialect::Size},
      {"cp/m", kCpm, ListDialect::NameColumn},
      {"gutenberg", kGutenberg, ListDialect::NameColumn},
      {"headers only", headersOnly, ListDialect::None},
      {"file lines after 40 others", late, ListDialect::None},
      {"blank lines before", early, ListDialect::Counter},
      {"empty", {}, ListDialect::None},
      // Lists as the plain reader takes them.
      {"plain",
       {"README  First line", "TWO.ZIP first line", "   | second"},
       ListDialect::None},
      {"padded names",
       {"ACTIONS .ASC  1  Action list", "GO      .EXE Runs it"},
       ListDialect::None},
      // A column on a minority of lines is no layout.
      {"minority",
       {"A.ZIP  [0]  one", "B.ZIP  two", "C.ZIP three"},
       ListDialect::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qm::DialectName(qm::DetectDialect(c.lines)),
              std::string(qm::DialectName(c.dialect)))
        << c.what;
}

struct Entry {
  Entry(std::string n, std::vector<std::string> d, std::string t = {})
      : name(std::move(n)), descriptions(std::move(d)), date(std::move(t)) {}
  std::string name;
  std::vector<std::string> descriptions;
  std::string date;
};

void ExpectEntries(const char* what, ListDialect dialect,
                   const std::vector<std::string>& lines,
                   const std::vector<Entry>& expected) {
  const std::vector<qm::DialectEntry> read =
      qm::ReadDialectList(dialect, lines);
  ASSERT_EQ(read.size(), expected.size()) << what;
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].fileName, expected[i].name) << what;
    EXPECT_EQ(read[i].descriptions, expected[i].descriptions)
        << what << ": " << expected[i].name;
    EXPECT_EQ(read[i].date, expected[i].date)
        << what << ": " << expected[i].name;
  }
}

TEST(FilesBbsDialectTest, ReadsRealLists) {
  ExpectEntries(
      "gus", ListDialect::Counter, kGus,
      {{"ZONE66G.ZIP",
        {"**ZONE 66**  Add-on Gravis Ultrasound",
         "musical sound track for Zone 66.  Requires", "Zone 66."}},
       {"TETROLIS.ZIP", {}},
       {"XIXIT.ZIP",
        {"\xB0\xB1  TERMINAL VELOCITY v1.2 from 3D Realms! \xB1\xB0",
         "\xB0\xB1   Shareware Episode v1.1 - v1.2 Patch   \xB1\xB0"}},
       // A rule indented as description stays.
       {"USAIL311.ZIP",
        {"Audio Interface Libraries 3.0", "(AIL 3.0) V3.11",
         "-----------------------------", "These drivers will allow you"}}});
  ExpectEntries("night owl", ListDialect::Counter, kNightOwl,
                {{"1WOLF3D.ZIP",
                  {"Wolfenstein 3-D - Shareware demo version",
                   "game.  Has 3-D \"fast\" game play, Soundblaster"}},
                 {"ADR11A.ZIP",
                  {"Address book for Win 3.0. From WilsonWinWare.", "<ASP>"}},
                 {"DJLOPE.ZIP", {"HPLJ Envelope printing program.  <ASP>"}}});
  ExpectEntries(
      "expanding", ListDialect::SizeAndDate, kExpanding,
      {{"1LINE14B.ZIP",
        {"{THP}'s One Liners Door v1.4b (3-25-92) Door",
         "designed to load in login, to let users add a"},
        "03-27-92"},
       {"4CAST104.ZIP", {}, "12-05-93"},
       {"AW63.ZIP", {"Android wars online bbs game v6.3."}, "09-15-91"}});
  ExpectEntries("unknown1", ListDialect::Date, kUnknown,
                {{"15_GOAT.ZIP", {"PCX Graphics of A Goat Ram"}, "04/28/93"},
                 {"1950CLIP.ZIP",
                  {"1950's Clipart Images, Jukebox, Guitar Etc."},
                  "03/24/92"},
                 {"CALCRT_1.ZIP",
                  {"Calendar Critters I v1.0; Collection of 50",
                   "original PCX images. These cute critters can"},
                  "09/06/93"},
                 {"SFFILES.BBS", {"03/11/94 00/00/00"}, "03/11/94"}});
  ExpectEntries(
      "aminet", ListDialect::Size, kAminet,
      {{"8n1.lha", {"Replaces serial.device.  V37.13"}},
       {"ahp4.lha", {"Packet Radio HOST-MODE for amiga"}},
       {"AmigaFax1_42.lha", {"Fax package. 1.42 adds Class-2.0 support"}}});
  ExpectEntries("cp/m", ListDialect::NameColumn, kCpm,
                {{"256CRKT.UPD", {"Corrected 256K Kaypro RAM circuit"}},
                 {"ADVENT1.ARK", {}},
                 {"AUTOBOOT.WS", {}},
                 {"CRHRDSFT.LBR", {"WordStar <--> ASCII text conversion"}}});
  ExpectEntries("gutenberg", ListDialect::NameColumn, kGutenberg,
                {{"00README.TXT", {"Readme for Project Gutenberg"}},
                 {"AESOP11.TXT", {"Aesop's Fables"}, "Nov 1991"},
                 {"AESOP10.ZIP", {"(ZIPPED) Aesop's Fables"}},
                 {"HISONG12.ZIP",
                  {"(ZIPPED) The Song of Hiawatha, by Henry W. L"},
                  "Sep 1991"}});
}

TEST(FilesBbsDialectTest, ReadsHostileLines) {
  ExpectEntries("marks and odd lines", ListDialect::Counter,
                {"-----", "=====", " =-=-=", "*** New Files ***",
                 "\xC4\xC4\xC4\xC4", "A.ZIP [1] one", "| bar", "+ plus", "+",
                 "|", "\t\ttab", " \xCD\xCD\xCD\xCD", "+PLUS.ZIP [2]  two",
                 "NOCOUNT.ZIP  has none", "README  no dot, no counter",
                 "C.ZIP [3]", "D.ZIP [4]\t\xE1\xFF  x", "[5] E.ZIP"},
                {{"A.ZIP", {"one", "bar", "plus", "tab"}},
                 {"+PLUS.ZIP", {"two"}},
                 {"NOCOUNT.ZIP", {"has none"}},
                 {"C.ZIP", {}},
                 {"D.ZIP", {"\xE1\xFF  x"}}});
  ExpectEntries(
      "fillers", ListDialect::Size,
      {"A.ZIP 1K No description available.", " but here is one",
       "B.ZIP 2K NO  DESCRIPTION AVAILABLE", "C.ZIP 3K No description",
       "D.ZIP 4K No ID File Found For This Archive File.", " Please consult"},
      {{"A.ZIP", {"but here is one"}},
       {"B.ZIP", {}},
       {"C.ZIP", {"No description"}},
       {"D.ZIP", {"Please consult"}}});
  ExpectEntries("copies", ListDialect::Date,
                {"A.ZIP 01/02/93 Game", " Game for two", "B.ZIP 1-2-1993 Two",
                 " One", "C.ZIP 01/02/93  Same  text", " Same text",
                 "D.ZIP 01.02.93 dots", "E.ZIP 01/02/9 short year"},
                {{"A.ZIP", {"Game for two"}, "01/02/93"},
                 {"B.ZIP", {"Two", "One"}, "1-2-1993"},
                 {"C.ZIP", {"Same text"}, "01/02/93"},
                 {"D.ZIP", {"01.02.93 dots"}},
                 {"E.ZIP", {"01/02/9 short year"}}});
  ExpectEntries("trailing dates", ListDialect::NameColumn,
                {"A.TXT        Text  Jan 1991", "B.TXT        Text Jan 1991",
                 "C.TXT        Text  Foo 1991", "D.TXT        Jan 1991",
                 "E.TXT        Text  Jan 91"},
                {{"A.TXT", {"Text"}, "Jan 1991"},
                 {"B.TXT", {"Text Jan 1991"}},
                 {"C.TXT", {"Text  Foo 1991"}},
                 {"D.TXT", {"Jan 1991"}},
                 {"E.TXT", {"Text  Jan 91"}}});
}

TEST(FilesBbsDialectTest, DatesAsDays) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"03-27-92", "1992-03-27"},
      {"04/28/93", "1993-04-28"},
      {"1-5-1994", "1994-01-05"},
      {"Nov 1991", "1991-11-01"},
      {"02-29-96", "1996-02-29"},
      {"12-31-00", "2000-12-31"},
      {"01-01-80", "1980-01-01"},
      {"02-29-93", ""},
      {"00/00/00", ""},
      {"13-01-92", ""},
      {"04-31-92", ""},
      {"1-5-1970", ""},
      {"Nov 91", ""},
      {"03-27-92x", ""},
      {"03/27-92", ""},
      {"", ""},
  };
  for (const auto& [date, day] : cases) {
    const uint64_t time = qm::DialectDateTime(date);
    EXPECT_EQ(time == 0 ? "" : qm::FileTimeToIsoText(time),
              day.empty() ? "" : day + " 00:00:00")
        << date;
  }
}

}  // namespace
