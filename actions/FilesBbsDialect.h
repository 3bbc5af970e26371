// The column layouts FILES.BBS lists were written in by the boards and CD
// collections that made them. A list's first lines tell its layout; each
// line is then read in it, so that columns such as download counters,
// sizes and dates stay out of the descriptions and filler texts that mean
// "no description" give none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

enum class ListDialect {
  None,         // none recognised: the list is read as a plain FILES.BBS
  Counter,      // "NAME.ZIP  [00] text": a download counter
  SizeAndDate,  // "NAME.ZIP  55475  03-27-92  text"
  Date,         // "NAME.ZIP  04/28/93 text", the full text below
  Size,         // "NAME.LHA   27K text"
  NameColumn,   // "NAME.TXT     text      Nov 1991": text from column 13
};
const char* DialectName(ListDialect dialect);

// How many non-blank lines at the start of a list its dialect is told by.
inline constexpr size_t kDialectSampleLines = 40;
// The dialect most of the file lines among the first non-blank lines are
// written in, or None.
ListDialect DetectDialect(const std::vector<std::string>& lines);

enum class DialectLineKind {
  File,  // a file's line: name, its text, maybe a date
  More,  // a further description line of the file before
  Skip,  // a header or separator: no file, no description
};
struct DialectLine {
  DialectLineKind kind = DialectLineKind::Skip;
  std::string fileName;
  std::string text;  // trimmed; columns and continuation marks removed
  std::string date;  // as written, when the line has a date column
};
// One line of a list written in the dialect (not None).
DialectLine ReadDialectLine(ListDialect dialect, const std::string& line);

// The description lines a sysop sees for one file, from its file line's
// text and the texts of its further lines: a first line that only repeats
// part of the lines below is left out, and so is a filler text.
std::vector<std::string> EntryDescription(const std::string& fileText,
                                          const std::vector<std::string>& more);

// The midnight of the day a date column names ("03-27-92", "1-5-1994",
// "Nov 1991" for its first day), as a file time taken as stored; 0 when it
// names no day. Two-digit years from 80 are 19xx, the others 20xx.
uint64_t DialectDateTime(const std::string& date);

struct DialectEntry {
  std::string fileName;
  std::vector<std::string> descriptions;
  std::string date;
};
// Every file of a list written in the dialect (not None), in list order.
std::vector<DialectEntry> ReadDialectList(
    ListDialect dialect, const std::vector<std::string>& lines);

}  // namespace qm
