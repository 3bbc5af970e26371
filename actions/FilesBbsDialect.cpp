#include "actions/FilesBbsDialect.h"

#include <cstring>

#include "actions/FilesBbs.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"

namespace qm {

namespace {

// Lists in the name-column layout pad every name to 12 characters and a
// blank.
constexpr size_t kTextColumn = 13;
constexpr size_t kMaxSizeDigits = 10;
constexpr size_t kMaxCounterDigits = 5;
constexpr size_t kMinSeparator = 3;
constexpr size_t kMaxSeparatorIndent = 1;

// Descriptions that say there is none, as Comparable() gives them, in any
// letter case.
const char* const kFillers[] = {
    "no description available",
    "( no information available )",
    "(no information available)",
    "no id file found for this archive file",
    "no id file found for this archive file. please consult the "
    "documentation of this program for a complete description of its "
    "purpose and use",
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipBlanks(const std::string& s, size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}
// A column ends at a blank or at the end of the line.
bool EndsColumn(const std::string& s, size_t i) {
  return i >= s.size() || IsBlank(s[i]);
}
size_t SkipDigits(const std::string& s, size_t i, size_t most) {
  const size_t start = i;
  while (i < s.size() && i - start < most && IsDigit(s[i])) ++i;
  return i;
}

// "[0]", "[00]": the position after it, or npos.
size_t CounterAt(const std::string& s, size_t i) {
  if (i >= s.size() || s[i] != '[') return std::string::npos;
  const size_t end = SkipDigits(s, i + 1, kMaxCounterDigits);
  if (end == i + 1 || end >= s.size() || s[end] != ']')
    return std::string::npos;
  return EndsColumn(s, end + 1) ? end + 1 : std::string::npos;
}

// "55475", "27K", "2M".
size_t SizeAt(const std::string& s, size_t i) {
  size_t end = SkipDigits(s, i, kMaxSizeDigits);
  if (end == i) return std::string::npos;
  if (end < s.size() && (s[end] == 'K' || s[end] == 'k' || s[end] == 'M'))
    ++end;
  return EndsColumn(s, end) ? end : std::string::npos;
}

// "04/28/93", "03-27-92", "1-5-1994".
size_t DateAt(const std::string& s, size_t i) {
  size_t end = SkipDigits(s, i, 2);
  if (end == i || end >= s.size() || (s[end] != '/' && s[end] != '-'))
    return std::string::npos;
  const char separator = s[end];
  const size_t day = end + 1;
  end = SkipDigits(s, day, 2);
  if (end == day || end >= s.size() || s[end] != separator)
    return std::string::npos;
  const size_t year = end + 1;
  end = SkipDigits(s, year, 4);
  if (end - year != 2 && end - year != 4) return std::string::npos;
  return EndsColumn(s, end) ? end : std::string::npos;
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kMonthCount = 12;

// 1 to 12 for the month name at i, else 0.
int MonthAt(const std::string& s, size_t i) {
  for (int month = 0; month < kMonthCount; ++month)
    if (s.compare(i, 3, kMonths[month]) == 0) return month + 1;
  return 0;
}

// "Aesop's Fables      Nov 1991": a month and year behind two blanks at
// the end of a text moves from the text to date.
void TakeTrailingDate(std::string& text, std::string& date) {
  constexpr size_t kLength = 8;  // "Nov 1991"
  if (text.size() < kLength + 2) return;
  const size_t at = text.size() - kLength;
  if (MonthAt(text, at) == 0 || text[at + 3] != ' ' ||
      SkipDigits(text, at + 4, 4) != at + 8)
    return;
  if (!IsBlank(text[at - 1]) || !IsBlank(text[at - 2])) return;
  date = text.substr(at);
  text = Trim(text.substr(0, at));
}

// A line of dashes or double lines near the left edge.
bool IsSeparator(const std::string& line) {
  const size_t first = SkipBlanks(line, 0);
  if (first > kMaxSeparatorIndent) return false;
  size_t marks = 0;
  for (size_t i = first; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '-' || c == '=' || c == 0xC4 || c == 0xCD)
      ++marks;
    else if (!IsBlank(line[i]))
      return false;
  }
  return marks >= kMinSeparator;
}

// Moves i past a column that ends at end (npos: the column is not there),
// keeping its text when asked to.
bool TakeColumn(const std::string& s, size_t& i, size_t end,
                std::string* text = nullptr) {
  if (end == std::string::npos) return false;
  if (text) *text = s.substr(i, end - i);
  i = end;
  return true;
}

struct FileColumns {
  bool matched = false;  // every column of the dialect is there
  DialectLine line;
};

// A line that starts with a name, read in the dialect.
FileColumns ReadFileLine(ListDialect dialect, const std::string& s) {
  FileColumns out;
  DialectLine& line = out.line;
  line.kind = DialectLineKind::File;
  size_t i = 0;
  while (i < s.size() && !IsBlank(s[i])) ++i;
  line.fileName = s.substr(0, i);
  const size_t afterName = i;
  i = SkipBlanks(s, i);
  switch (dialect) {
    case ListDialect::Counter:
      if (TakeColumn(s, i, CounterAt(s, i))) {
        const size_t text = SkipBlanks(s, i);
        // One or two blanks, then the text (or nothing).
        out.matched = text >= s.size() || (text > i && text - i <= 2);
        i = text;
      }
      break;
    case ListDialect::SizeAndDate:
      if (TakeColumn(s, i, SizeAt(s, i))) {
        i = SkipBlanks(s, i);
        out.matched = TakeColumn(s, i, DateAt(s, i), &line.date);
      }
      break;
    case ListDialect::Date:
      out.matched = TakeColumn(s, i, DateAt(s, i), &line.date);
      break;
    case ListDialect::Size:
      out.matched = TakeColumn(s, i, SizeAt(s, i));
      break;
    case ListDialect::NameColumn:
      out.matched = line.fileName.find('.') != std::string::npos &&
                    afterName < kTextColumn &&
                    (i == kTextColumn || i >= s.size());
      break;
    case ListDialect::None:
      break;
  }
  line.text = Trim(s.substr(std::min(i, s.size())));
  if (dialect == ListDialect::NameColumn)
    TakeTrailingDate(line.text, line.date);
  return out;
}

bool StartsWithName(const std::string& line) {
  return !line.empty() && IsNameChar(static_cast<unsigned char>(line[0])) &&
         !IsSeparator(line) &&
         !(line[0] == '+' && EndsColumn(line, 1));  // a "+" mark
}

// Blank runs made single and ASCII letters capital, without the final dot.
std::string Comparable(const std::string& text) {
  std::string out;
  for (const char c : Trim(text)) {
    if (IsBlank(c) && !out.empty() && out.back() == ' ') continue;
    out += IsBlank(c) ? ' ' : c;
  }
  while (!out.empty() && (out.back() == '.' || out.back() == ' '))
    out.pop_back();
  return UpperCase(out);
}

bool IsFiller(const std::string& text) {
  const std::string comparable = Comparable(text);
  for (const char* filler : kFillers)
    if (EqualsNoCase(comparable, filler)) return true;
  return false;
}

constexpr ListDialect kDialects[] = {
    ListDialect::Counter, ListDialect::SizeAndDate, ListDialect::Date,
    ListDialect::Size,    ListDialect::NameColumn,
};

}  // namespace

const char* DialectName(ListDialect dialect) {
  switch (dialect) {
    case ListDialect::Counter:
      return "counter";
    case ListDialect::SizeAndDate:
      return "size and date";
    case ListDialect::Date:
      return "date";
    case ListDialect::Size:
      return "size";
    case ListDialect::NameColumn:
      return "name column";
    case ListDialect::None:
      break;
  }
  return "none";
}

ListDialect DetectDialect(const std::vector<std::string>& lines) {
  std::vector<const std::string*> fileLines;
  size_t sampled = 0;
  for (const std::string& line : lines) {
    if (sampled == kDialectSampleLines) break;
    if (Trim(line).empty()) continue;
    ++sampled;
    if (StartsWithName(line)) fileLines.push_back(&line);
  }
  for (const ListDialect dialect : kDialects) {
    size_t matched = 0;
    for (const std::string* line : fileLines)
      if (ReadFileLine(dialect, *line).matched) ++matched;
    if (matched > 0 && matched * 2 > fileLines.size()) return dialect;
  }
  return ListDialect::None;
}

DialectLine ReadDialectLine(ListDialect dialect, const std::string& line) {
  if (StartsWithName(line)) {
    FileColumns read = ReadFileLine(dialect, line);
    // A title ("Windows    Clip Art") is no file; a name with a dot is
    // one even where a column is missing.
    if (read.matched || read.line.fileName.find('.') != std::string::npos)
      return read.line;
    return {};
  }
  if (line.empty()) return {DialectLineKind::More, {}, {}, {}};
  const bool mark = line[0] == '|' || line[0] == '+';
  if ((!IsBlank(line[0]) && !mark) || IsSeparator(line)) return {};
  size_t i = SkipBlanks(line, 0);
  if (i < line.size() && (line[i] == '|' || line[i] == '+') &&
      EndsColumn(line, i + 1))
    ++i;
  else if (i < line.size() && line[i] == '|')
    ++i;
  return {DialectLineKind::More, {}, Trim(line.substr(i)), {}};
}

std::vector<std::string> EntryDescription(
    const std::string& fileText, const std::vector<std::string>& more) {
  std::vector<std::string> lines;
  std::string below;
  for (const std::string& text : more) {
    if (text.empty()) continue;
    lines.push_back(text);
    below += (below.empty() ? "" : " ") + text;
  }
  // A first line cut from the full text below it adds nothing.
  if (!fileText.empty() &&
      (below.empty() ||
       Comparable(below).find(Comparable(fileText)) == std::string::npos))
    lines.insert(lines.begin(), fileText);
  std::string all;
  for (const std::string& text : lines) all += (all.empty() ? "" : " ") + text;
  if (IsFiller(all)) return {};
  if (!lines.empty() && IsFiller(lines.front())) lines.erase(lines.begin());
  return lines;
}

namespace {

int Number(const std::string& s, size_t from, size_t to) {
  int value = 0;
  for (size_t i = from; i < to; ++i) value = value * 10 + (s[i] - '0');
  return value;
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear =
      (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra =
      yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return int64_t{era} * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

uint64_t DialectDateTime(const std::string& date) {
  constexpr int kCenturyTurn = 80;
  constexpr int64_t kSecondsPerDay = 86400;
  int year = 0, month = 0, day = 1;
  size_t end = 0;
  if ((month = MonthAt(date, 0)) != 0) {
    end = SkipDigits(date, 4, 4);
    if (date.size() != 8 || date[3] != ' ' || end != 8) return 0;
    year = Number(date, 4, 8);
  } else {
    end = DateAt(date, 0);
    if (end != date.size()) return 0;
    const size_t first = date.find_first_of("-/");
    const size_t second = date.find(date[first], first + 1);
    month = Number(date, 0, first);
    day = Number(date, first + 1, second);
    year = Number(date, second + 1, end);
    if (end - second - 1 == 2) year += year >= kCenturyTurn ? 1900 : 2000;
  }
  if (month < 1 || month > kMonthCount || day < 1 ||
      day > DaysInMonth(year, month) || year < 1980)
    return 0;
  return UnixToFileTime(DaysFromCivil(year, month, day) * kSecondsPerDay);
}

std::vector<DialectEntry> ReadDialectList(
    ListDialect dialect, const std::vector<std::string>& lines) {
  std::vector<DialectEntry> entries;
  std::string fileText;
  std::vector<std::string> more;
  auto finish = [&] {
    if (entries.empty()) return;
    entries.back().descriptions = EntryDescription(fileText, more);
  };
  for (const std::string& text : lines) {
    DialectLine line = ReadDialectLine(dialect, text);
    if (line.kind == DialectLineKind::File) {
      finish();
      entries.push_back({line.fileName, {}, line.date});
      fileText = line.text;
      more.clear();
    } else if (line.kind == DialectLineKind::More && !entries.empty()) {
      more.push_back(line.text);
    }
  }
  finish();
  return entries;
}

}  // namespace qm
