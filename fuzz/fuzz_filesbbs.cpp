// The FILES.BBS reader: the line parser on every line of the input, the
// input read in every column layout of other boards' lists, then the whole
// input read as an area's FILES.BBS, adding records for real (every other
// input with the layouts on).
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "actions/FilesBbs.h"
#include "actions/FilesBbsDialect.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/DescriptionExtras.h"
#include "server/WcApi.h"

using qmfuzz::Check;

namespace {

constexpr int32_t kArea = 1;
constexpr const char* kAreaName = "Fuzzed Files";

// Files that list lines may name; one name is too long to be stored.
const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"GAME.ZIP", "PK game"},   {"README", "read me first"},
    {"FILE.TXT", "a text"},    {"ONE.ZIP", "1"},
    {"TWO.ZIP", "22"},         {"MANY.ZIP", "many many"},
    {"$DATA.TXT", "dollar"},   {"-----", "dashes"},
    {"NODOT", "no extension"}, {"VERYLONGNAME15.ZIP", "too long"},
    {"Mixed.Case", "mixed"},   {"A", ""},
};

// Lines as the list is read: CR, CR LF or a lone LF end a line, control-Z
// ends the list, and a line keeps at most 260 characters.
std::vector<std::string> ListLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool any = false;
  for (size_t i = 0; i < bytes.size() && bytes[i] != 26; ++i) {
    const char c = bytes[i];
    any = true;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      any = false;
    } else if (line.size() < 260) {
      line += c;
    }
  }
  if (any) lines.push_back(line);
  return lines;
}

bool IsSubsequence(const std::string& part, const std::string& whole) {
  size_t at = 0;
  for (const char c : whole)
    if (at < part.size() && part[at] == c) ++at;
  return at == part.size();
}

void CheckParsed(const std::string& line) {
  const qm::ListLine parsed = qm::ParseListLine(line);
  size_t p = 0;
  if (!line.empty() && qm::IsNameChar(static_cast<unsigned char>(line[0]))) {
    p = std::min(line.find(' '), line.size());
    std::string name = line.substr(0, p);
    // A name in 8.3 columns, padded before its dot ("ACTIONS .ASC"), may
    // be read whole.
    if (parsed.fileName != name && line.size() > 9 && line[7] == ' ' &&
        line[8] == '.') {
      const size_t end = std::min(line.find(' ', 9), line.size());
      name += line.substr(8, end - 8);
      p = end;
    }
    Check(parsed.fileName == name,
          "a file line's name is its text up to the first space, or a "
          "padded 8.3 name");
  } else {
    Check(parsed.fileName.empty(), "other lines have no file name");
  }
  const std::string& d = parsed.description;
  Check(d.empty() || (static_cast<unsigned char>(d.front()) > ' ' &&
                      static_cast<unsigned char>(d.back()) > ' '),
        "the description is trimmed");
  Check(IsSubsequence(d, p + 1 < line.size() ? line.substr(p + 1) : ""),
        "the description comes from the text after the name");
  if (parsed.fileName.find('.') != std::string::npos)
    Check(d.find("  ") == std::string::npos,
          "column mode leaves no double spaces");
  else
    Check(d.find('|') == std::string::npos, "plain mode drops every bar");
}

// What a layout reads comes from the input: names from the start of a line,
// texts and dates cut from lines, no blank at either end of a text.
void CheckDialects(const std::string& bytes,
                   const std::vector<std::string>& lines) {
  qm::DetectDialect(lines);
  for (const qm::ListDialect dialect :
       {qm::ListDialect::Counter, qm::ListDialect::SizeAndDate,
        qm::ListDialect::Date, qm::ListDialect::Size,
        qm::ListDialect::NameColumn}) {
    size_t files = 0;
    for (const std::string& line : lines) {
      const qm::DialectLine read = qm::ReadDialectLine(dialect, line);
      if (read.kind != qm::DialectLineKind::File) continue;
      ++files;
      Check(!read.fileName.empty() &&
                line.compare(0, read.fileName.size(), read.fileName) == 0,
            "a file line's name starts the line");
      Check(read.fileName.find_first_of(" \t") == std::string::npos,
            "a name holds no blank");
    }
    const std::vector<qm::DialectEntry> entries =
        qm::ReadDialectList(dialect, lines);
    Check(entries.size() == files, "one entry per file line");
    for (const qm::DialectEntry& entry : entries) {
      Check(entry.date.empty() || bytes.find(entry.date) != std::string::npos,
            "a date is cut from a line");
      for (const std::string& text : entry.descriptions) {
        Check(!text.empty() && static_cast<unsigned char>(text.front()) > ' ' &&
                  static_cast<unsigned char>(text.back()) > ' ',
              "a description line is trimmed and not empty");
        Check(bytes.find(text) != std::string::npos,
              "a description line is cut from a line");
      }
    }
  }
}

// The host, and the files list lines may name in the area's directory.
const std::string& Setup() {
  static const std::string home = [] {
    const std::string made = qmfuzz::FuzzHost({{kArea, kAreaName, "files1"}});
    const std::string dir = qmfuzz::AreaDir(kArea);
    for (const auto& [name, bytes] : kFiles)
      qmtest::WriteFile(dir + "/" + name, bytes);
    return made;
  }();
  return home;
}

void CheckRecords(const std::string& dir, const std::vector<std::string>& lines,
                  bool layouts) {
  std::set<std::string> listed;
  const qm::ListDialect dialect =
      layouts ? qm::DetectDialect(lines) : qm::ListDialect::None;
  for (const std::string& line : lines)
    listed.insert(
        qm::UpperCase(dialect == qm::ListDialect::None
                          ? qm::ParseListLine(line).fileName
                          : qm::ReadDialectLine(dialect, line).fileName));
  std::set<std::string> seen;
  for (const TFullFileRecord& r : qmtest::AreaRecords(kArea)) {
    const TFileRecord& info = r.Info;
    Check(qmfuzz::Terminated(info.Name) && qmfuzz::Terminated(info.Description),
          "record texts are terminated");
    const std::string name = info.Name;
    Check(seen.insert(qm::UpperCase(name)).second, "no name is added twice");
    Check(listed.count(qm::UpperCase(name)) == 1,
          "only listed files are added");
    Check(name.size() <= 14, "stored names fit 14 characters");
    const std::string file = qm::ResolveExisting(dir + "/" + name);
    struct stat st {};
    Check(!file.empty() && stat(file.c_str(), &st) == 0 &&
              st.st_size == info.Size,
          "a record has its file's size");
    Check(info.HasLongDescription == 0 || info.HasLongDescription == 1,
          "long-description flag is 0 or 1");
    for (const auto& slot : r.LongDescription) {
      Check(qmfuzz::Terminated(slot), "long lines are terminated");
      Check(info.HasLongDescription == 1 || slot[0] == 0,
            "no long lines without the flag");
    }
    if (info.HasLongDescription == 1) {
      const std::string first = r.LongDescription[0];
      Check(std::string(info.Description) == first.substr(0, 75),
            "the short description is the first line cut to 75");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::HostSession session(Setup());
  const std::string bytes = qmfuzz::Bytes(data, size);
  const std::vector<std::string> lines = ListLines(bytes);
  for (const std::string& line : lines) CheckParsed(line);
  CheckDialects(bytes, lines);

  const std::string dir = qmfuzz::AreaDir(kArea);
  qmtest::WriteFile(dir + "/FILES.BBS", bytes);
  const std::vector<std::string> before = qmfuzz::Tree(dir);
  qmtest::TestRun run(qmfuzz::Workspace() + "/prog");
  run.state.logBaseName = qmfuzz::Workspace() + "/run.cfg";
  const bool layouts = size % 2 == 1;
  if (layouts)
    run.state.descriptionExtras.filesBbsDialects = qm::ListDialects::Auto;
  qm::ReadinFilesBBS(run.ctx, dir, "files.bbs", kArea);

  Check(run.view.messages.empty(), "no box for a readable list");
  Check(qmfuzz::Tree(dir) == before, "the list's directory is left as it was");
  CheckRecords(dir, lines, layouts);
  TFileArea area{};
  Check(MwGetFileAreas(kArea, 1, &area) != 0, "the area is still there");
  Check(qmfuzz::Terminated(area.Name), "a title fits the area's name");

  // Back to an empty area with its old name, so every input adds afresh.
  qmfuzz::ClearArea(kArea);
  std::memset(area.Name, 0, sizeof area.Name);
  std::strcpy(area.Name, kAreaName);
  MwUpdateFileArea(kArea, area);
  qm::DeleteLocalFile(qmfuzz::Workspace() + "/run.err");
  return 0;
}
