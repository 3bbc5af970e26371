#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/AnsiText.h"

namespace {

using namespace std::string_literals;

// A SAUCE record as drawing programs append it: "SAUCE00", title, author,
// group, date, file size, data and file type, four type details, the number
// of comment lines, flags and a font name.
std::string Sauce(unsigned char commentLines) {
  std::string record(128, '\0');
  auto put = [&](size_t at, const std::string& text, size_t width) {
    record.replace(at, width,
                   (text + std::string(width, ' ')).substr(0, width));
  };
  put(0, "SAUCE00", 7);
  put(7, "Hand made", 35);
  put(42, "Sysop", 20);
  put(62, "Test Group", 20);
  put(82, "19940301", 8);
  record[94] = 1;   // character data
  record[95] = 1;   // ANSi
  record[96] = 80;  // columns
  record[98] = 25;  // lines
  record[104] = static_cast<char>(commentLines);
  put(106, "IBM VGA", 22);
  return record;
}

std::string Comments(const std::vector<std::string>& lines) {
  std::string block = "COMNT";
  for (const std::string& line : lines)
    block += (line + std::string(64, ' ')).substr(0, 64);
  return block;
}

TEST(AnsiTextTest, CleansEscapesAndTrailer) {
  struct Case {
    const char* what;
    std::string bytes, text;
  };
  const std::string body = "\x1b[0;1;33m\xDB\xDB\x1b[5C\xDC Title\x1b[0m  \r\n";
  const std::string bodyText = "\xDB\xDB     \xDC Title\r\n";
  const std::vector<Case> cases = {
      // verta1878/pcbirc FILE_ID.ANS (commit 0b453abe4e74), lines 8 and 12.
      {"colours", "\x1b[1;33m  PCBoard 15.4\x1b[0;33m Revival\n",
       "  PCBoard 15.4 Revival\n"},
      {"colours at the end",
       "\x1b[1;32m  12/12 \x1b[0;32mPhase 0 utilities linked\x1b[0m\n",
       "  12/12 Phase 0 utilities linked\n"},
      {"cursor forward", "A\x1b[5CB\x1b[CC\x1b[0CD", "A     B C D"},
      {"forward stops at the edge", std::string(78, 'x') + "\x1b[10Cy",
       std::string(78, 'x') + " y"},
      {"a huge forward", "\x1b[99999999999999999999Cz",
       std::string(79, ' ') + "z"},
      {"forward past the edge", std::string(85, 'x') + "\x1b[3Cy",
       std::string(85, 'x') + "y"},
      {"other moves",
       "\x1b[2J\x1b[1;1HTop\x1b[3A\x1b[2D\x1b[sLine\x1b[u\x1b[?7h", "TopLine"},
      {"forward with a second number", "a\x1b[3;9Cb", "a   b"},
      {"lone escapes",
       "\x1b"
       "7A\x1b"
       "8B\x1b(BC\x1b"
       "cD",
       "ABCD"},
      {"line ends and trailing blanks",
       "one  \x1b[0m \r\ntwo\t\r\n\x1b[5C\r\nthree\nfour\r  ",
       "one\r\ntwo\r\n\r\nthree\nfour\r"},
      {"TABs inside stay", "a\tb\t \r\n", "a\tb\r\n"},
      {"DOS bytes stay", "\xDB\xDC\xDF \xB0\xB1\xB2\x1b[0m\xFF\x03\x10",
       "\xDB\xDC\xDF \xB0\xB1\xB2\xFF\x03\x10"},
      {"NUL, BEL, backspace", "a\0b\a\bc"s, "a bc"},
      {"control-Z ends the text",
       "before\x1A"
       "after\r\n",
       "before"},
      {"escape cut at the end", "text\x1b", "text"},
      {"CSI cut at the end", "text\x1b[1;3", "text"},
      {"CSI cut before its final", "text\x1b[", "text"},
      {"lone escape cut", "text\x1b(", "text"},
      {"CSI broken by a line end", "\x1b[1;\r\nnext", "\r\nnext"},
      {"CSI broken by a DOS byte", "\x1b[12\xDBx", "\xDBx"},
      {"escape before a DOS byte", "\x1b\xDBx", "\xDBx"},
      {"SAUCE", body + "\x1A" + Sauce(0), bodyText},
      {"SAUCE without control-Z", body + Sauce(0), bodyText},
      {"SAUCE and comments",
       body + "\x1A" + Comments({"one", "two"}) + Sauce(2), bodyText},
      {"comments without control-Z",
       body + Comments({"seen only here"}) + Sauce(1), bodyText},
      {"comment count without a block", body + "no block" + Sauce(3),
       bodyText + "no block"},
      {"comment count past the start", "x" + Sauce(255), "x"},
      {"SAUCE00 one byte early", "SAUCE00" + std::string(122, 'a'),
       "SAUCE00" + std::string(122, 'a')},
      {"SAUCE00 in a short text", "Text SAUCE00 here", "Text SAUCE00 here"},
      {"only a SAUCE", Sauce(0), ""},
      {"empty", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qm::AnsiToText(c.bytes), c.text) << c.what;
}

TEST(AnsiTextTest, TellsAnsiFromPlainText) {
  EXPECT_FALSE(qm::CarriesAnsi("GAME v1.0\r\nA game \xDB\r\n\x1A"));
  EXPECT_TRUE(qm::CarriesAnsi("\x1b[0mGAME"));
  EXPECT_TRUE(qm::CarriesAnsi("GAME\r\n" + Sauce(0)));
  EXPECT_FALSE(qm::CarriesAnsi("SAUCE00" + std::string(122, 'a')));
}

}  // namespace
