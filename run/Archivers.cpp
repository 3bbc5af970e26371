#include "run/Archivers.h"

#include <algorithm>

#include "platform/Paths.h"
#include "platform/Process.h"

namespace qm {

namespace {

struct ShippedRow {
  const char* name;
  const char* signature;
  const char* list;
  const char* extract;
  const char* package;
};

// ARJ lists with paths ("001) DIR/NAME") and extracts flat by the full
// name; an ARC name has no path; lsar lists one name a line.
constexpr ShippedRow kShipped[] = {
    {"ARJ", "60 EA", "arj v -y %a", "arj e -p -y %a %d %m", "arj"},
    {"ARC", "1A 01, 1A 02, 1A 03, 1A 04, 1A 05, 1A 06, 1A 07, 1A 08, 1A 09",
     "nomarch -l %a", "nomarch %a %m", "nomarch"},
    {"PAK", "1A 0A, 1A 0B", "lsar %a", "unar -q -f -D -o %d %a %m", "unar"},
    {"ZOO", "DC A7 C4 FD @ 20", "lsar %a", "unar -q -f -D -o %d %a %m", "unar"},
    {"ACE", "2A 2A 41 43 45 2A 2A @ 7", "lsar %a", "unar -q -f -D -o %d %a %m",
     "unar"},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseOne(const std::string& text, Signature& signature) {
  const size_t at = text.find('@');
  std::string hex = text.substr(0, at);
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 64) return false;
  signature = {};
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    signature.bytes.push_back(static_cast<char>(high << 4 | low));
  }
  if (at == std::string::npos) return true;
  const auto offset = DecimalNumber(text.substr(at + 1), 6);
  if (!offset) return false;
  signature.offset = *offset;
  return true;
}

const ArchiverSection* SectionOf(const DescriptionExtras& extras,
                                 const std::string& name) {
  for (const ArchiverSection& section : extras.archiverSections)
    if (EqualsNoCase(section.name, name)) return &section;
  return nullptr;
}

const ShippedRow* ShippedOf(const std::string& name) {
  for (const ShippedRow& row : kShipped)
    if (EqualsNoCase(row.name, name)) return &row;
  return nullptr;
}

// The row's command, or the reason it has none.
bool CommandOf(const std::string& text, std::vector<std::string>& words,
               bool needsMember) {
  words = SplitCommand(text);
  const bool archive =
      std::find(words.begin(), words.end(), "%a") != words.end();
  const bool member =
      std::find(words.begin(), words.end(), "%m") != words.end();
  return !words.empty() && archive && (member || !needsMember);
}

}  // namespace

bool ParseSignatures(const std::string& text, std::vector<Signature>& out) {
  out.clear();
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    Signature signature;
    if (!ParseOne(Trim(text.substr(at, end - at)), signature)) return false;
    out.push_back(signature);
    at = end + 1;
  }
  return !out.empty();
}

std::vector<Archiver> ArchiversInEffect(const DescriptionExtras& extras,
                                        std::vector<std::string>* problems) {
  std::vector<Archiver> rows;
  auto problem = [&](const std::string& name, const std::string& why) {
    if (problems) problems->push_back("Archiver " + name + " not used: " + why);
  };
  for (const std::string& name : SplitCommand(extras.archivers)) {
    if (std::any_of(rows.begin(), rows.end(), [&](const Archiver& row) {
          return EqualsNoCase(row.name, name);
        }))
      continue;
    const ShippedRow* shipped = ShippedOf(name);
    const ArchiverSection* section = SectionOf(extras, name);
    if (!shipped && !section) {
      problem(name, "no such archiver and no section [Archiver " + name + "]");
      continue;
    }
    auto value = [&](const std::optional<std::string> ArchiverSection::*key,
                     const char* ShippedRow::*fallback) {
      if (section && (section->*key) && !Trim(*(section->*key)).empty())
        return *(section->*key);
      return std::string(shipped ? shipped->*fallback : "");
    };
    Archiver row;
    row.name = shipped ? shipped->name : section->name;
    row.package = shipped ? shipped->package : "";
    if (!ParseSignatures(
            value(&ArchiverSection::signature, &ShippedRow::signature),
            row.signatures)) {
      problem(name, "Signature= is not hexadecimal bytes [@ offset]");
      continue;
    }
    if (!CommandOf(value(&ArchiverSection::list, &ShippedRow::list), row.list,
                   false)) {
      problem(name, "List= needs a program and %a");
      continue;
    }
    if (!CommandOf(value(&ArchiverSection::extract, &ShippedRow::extract),
                   row.extract, true)) {
      problem(name, "Extract= needs a program, %a and %m");
      continue;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> ArchiverStatus(const DescriptionExtras& extras) {
  std::vector<std::string> lines;
  for (const Archiver& row : ArchiversInEffect(extras, &lines)) {
    std::string line = row.name + ":";
    std::vector<std::string> programs = {row.list[0]};
    if (row.extract[0] != row.list[0]) programs.push_back(row.extract[0]);
    for (const std::string& program : programs)
      line += " " + program +
              (FindProgram(program).empty() ? " (not found)" : " (found)");
    if (!row.package.empty()) line += ", Debian package " + row.package;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace qm
