#include "settings/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/File.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace qm {

namespace {

constexpr size_t kMaxValueLength = 1023;  // the 1024-character read buffer

// One line of the file as stored: its text and its own line end.
struct Line {
  std::string text;
  std::string end;  // "\r\n", "\n", "\r" or "" for a last unended line
};

std::vector<Line> SplitLines(const std::string& bytes) {
  std::vector<Line> lines;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t stop = bytes.find_first_of("\r\n", at);
    if (stop == std::string::npos) {
      lines.push_back({bytes.substr(at), ""});
      break;
    }
    size_t next = stop + 1;
    if (bytes[stop] == '\r' && next < bytes.size() && bytes[next] == '\n') {
      ++next;
    }
    lines.push_back(
        {bytes.substr(at, stop - at), bytes.substr(stop, next - stop)});
    at = next;
  }
  return lines;
}

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// "[Name]" gives Name (trimmed); anything else gives nothing.
std::optional<std::string> SectionName(const std::string& text) {
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty() || trimmed[0] != '[') return std::nullopt;
  const size_t close = trimmed.find(']');
  const size_t stop = close == std::string::npos ? trimmed.size() : close;
  return TrimBlanks(trimmed.substr(1, stop - 1));
}

// "key = value" gives the trimmed key; comment lines and lines without "="
// give nothing.
std::optional<std::string> KeyName(const std::string& text) {
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty() || trimmed[0] == ';') return std::nullopt;
  const size_t eq = trimmed.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return TrimBlanks(trimmed.substr(0, eq));
}

std::string ValueOf(const std::string& text) {
  std::string value = TrimBlanks(text.substr(text.find('=') + 1));
  // A value in matching quotes comes back without them.
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Where a key lies: the section's header line, the key's line, and the line
// after which a new key of the section goes.
struct Place {
  std::optional<size_t> section;
  std::optional<size_t> key;
  size_t insertAfter = 0;
};

// Only the first section of that name counts, unless every section does.
Place Find(const std::vector<Line>& lines, const std::string& section,
           const std::string& key, bool everySection = false) {
  Place place;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i].text)) {
      if (inSection && !everySection) break;
      inSection = EqualsNoCase(*name, section);
      if (inSection && !place.section) {
        place.section = i;
        place.insertAfter = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!TrimBlanks(lines[i].text).empty()) place.insertAfter = i;
    const auto name = KeyName(lines[i].text);
    if (name && !place.key && EqualsNoCase(*name, key)) place.key = i;
  }
  return place;
}

// The settings file as it lies on disk: names are found without regard to
// case, so "quillmar.ini" and "Quillmar.ini" are one file.
std::string OnDisk(const std::string& path) {
  const std::string existing = ResolveExisting(path);
  return existing.empty() ? path : existing;
}

bool ReadSettingsFile(const std::string& path, std::string& bytes,
                      bool& exists) {
  exists = PathFacts(path).ok();
  bytes.clear();
  return !exists || ReadWholeFile(path, bytes);
}

// The line end most of the file uses; new files get CR LF.
std::string LineEndOf(const std::vector<Line>& lines) {
  size_t crlf = 0, lf = 0, cr = 0;
  for (const Line& line : lines) {
    if (line.end == "\r\n") ++crlf;
    if (line.end == "\n") ++lf;
    if (line.end == "\r") ++cr;
  }
  if (lf > crlf && lf >= cr) return "\n";
  if (cr > crlf && cr > lf) return "\r";
  return "\r\n";
}

std::optional<int64_t> ParseDigits(const std::string& digits, int base) {
  if (digits.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFll) return std::nullopt;
  }
  return value;
}

// Decimal with an optional sign, or hexadecimal after "$"; hexadecimal
// takes all 32 bits, so $FFFFFFFF is -1.
std::optional<int> ParseInteger(const std::string& text) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const bool hex = at < text.size() && text[at] == '$';
  if (hex) ++at;
  const auto magnitude = ParseDigits(text.substr(at), hex ? 16 : 10);
  if (!magnitude) return std::nullopt;
  int64_t value;
  if (hex) {
    value = static_cast<int32_t>(static_cast<uint32_t>(*magnitude));
  } else {
    value = *magnitude;
    if (value > int64_t{INT_MAX} + (negative ? 1 : 0)) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

std::optional<std::string> IniFile::Read(const std::string& section,
                                         const std::string& key,
                                         bool everySection) const {
  std::string bytes;
  bool exists = false;
  if (!ReadSettingsFile(OnDisk(path_), bytes, exists) || !exists) return {};
  const std::vector<Line> lines = SplitLines(bytes);
  const Place place = Find(lines, section, key, everySection);
  if (!place.key) return {};
  std::string value = ValueOf(lines[*place.key].text);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

std::vector<std::string> IniFile::SectionNames() const {
  std::string bytes;
  bool exists = false;
  std::vector<std::string> names;
  if (!ReadSettingsFile(OnDisk(path_), bytes, exists) || !exists) return names;
  for (const Line& line : SplitLines(bytes)) {
    const auto name = SectionName(line.text);
    if (name &&
        std::none_of(names.begin(), names.end(), [&](const std::string& known) {
          return EqualsNoCase(known, *name);
        }))
      names.push_back(*name);
  }
  return names;
}

std::string IniFile::ReadString(const std::string& section,
                                const std::string& key,
                                const std::string& defaultValue) const {
  std::string value = Read(section, key, false).value_or(defaultValue);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

std::optional<std::string> IniFile::ReadFromAnySection(
    const std::string& section, const std::string& key) const {
  return Read(section, key, true);
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  const SettingsWriteError failed("Unable to write to " + path_);
  const std::string path = OnDisk(path_);
  std::string bytes;
  bool exists = false;
  if (!ReadSettingsFile(path, bytes, exists)) throw failed;
  if (exists) {
    // A write-protected settings file stays as it is.
    if (!File::Open(path, OpenFlags::Write)) throw failed;
  }

  // A line break inside the value would break the file apart.
  std::string text = value.substr(0, value.find_first_of("\r\n"));
  // What reading takes off (blanks at either end, a pair of quotes around
  // it) is kept inside quotes of its own, so the value reads back as it is.
  if (ValueOf("=" + text) != text) text = '"' + text + '"';
  std::vector<Line> lines = SplitLines(bytes);
  const std::string eol = LineEndOf(lines);
  const Place place = Find(lines, section, key);
  if (place.key) {
    Line& line = lines[*place.key];
    line.text = *KeyName(line.text) + "=" + text;
  } else if (place.section) {
    Line& before = lines[place.insertAfter];
    if (before.end.empty()) before.end = eol;
    lines.insert(lines.begin() + place.insertAfter + 1,
                 {key + "=" + text, eol});
  } else {
    if (!lines.empty()) {
      if (lines.back().end.empty()) lines.back().end = eol;
      if (!TrimBlanks(lines.back().text).empty()) lines.push_back({"", eol});
    }
    lines.push_back({"[" + section + "]", eol});
    lines.push_back({key + "=" + text, eol});
  }

  std::string out;
  for (const Line& line : lines) out += line.text + line.end;
  AtomicWriter writer;
  uint32_t done = 0;
  if (!writer.Open(path, true) ||
      !writer.Write(out.data(), static_cast<uint32_t>(out.size()), done) ||
      done != out.size() || !writer.Commit()) {
    throw failed;
  }
}

int IniFile::ReadInteger(const std::string& section, const std::string& key,
                         int defaultValue) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = "$" + text.substr(2);
  }
  return ParseInteger(text).value_or(defaultValue);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key,
                           int value) {
  WriteString(section, key, std::to_string(value));
}

std::string MainSettingsPath(const std::string& programDir,
                             const std::string& exeName) {
  return TrailingBackslash(programDir) + PathWithoutExtension(exeName) + ".ini";
}

std::string ConfigToolSettingsPath(const std::string& programDir) {
  return TrailingBackslash(programDir) + "quillmar.ini";
}

}  // namespace qm
