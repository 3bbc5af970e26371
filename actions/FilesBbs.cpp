#include "actions/FilesBbs.h"

#include <cstdio>
#include <cstring>

#include "actions/ExistingNames.h"
#include "actions/FilesBbsDialect.h"
#include "actions/Transfer.h"
#include "actions/UploadScreen.h"
#include "platform/FieldText.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/DescriptionExtras.h"
#include "run/RunLog.h"
#include "server/WcApi.h"

namespace qm {

namespace {

constexpr size_t kMaxLineLength = 260;
constexpr int kTitleLines = 3;
constexpr size_t kMaxColumnLength = 10;
constexpr char kEndOfList = 26;  // control-Z

// Reads FILES.BBS lines: a line ends at CR (an LF right after it is
// skipped) or at a lone LF; control-Z ends the list; characters beyond the
// line limit are skipped.
class ListReader {
 public:
  explicit ListReader(std::FILE* file) : file_(file) {}

  // False at the end of the list; failed() then tells an I/O error.
  bool Next(std::string& line) {
    line.clear();
    if (ended_) return false;
    bool any = false;
    for (;;) {
      int c = std::getc(file_);
      if (c == EOF || c == kEndOfList) {
        ended_ = true;
        failed_ = c == EOF && std::ferror(file_);
        return any && !failed_;
      }
      any = true;
      if (c == '\r') {
        int next = std::getc(file_);
        if (next != '\n' && next != EOF) std::ungetc(next, file_);
        return true;
      }
      if (c == '\n') return true;
      if (line.size() < kMaxLineLength) line += static_cast<char>(c);
    }
  }
  bool failed() const { return failed_; }

 private:
  std::FILE* file_;
  bool ended_ = false;
  bool failed_ = false;
};

// Blank lines before a list's first file lines are read ahead too, but no
// more than these.
constexpr size_t kMostSampleLines = 10000;

// The list's first lines, read ahead until they tell its layout; what they
// are read as after that is up to the caller.
ListDialect SampleDialect(ListReader& reader,
                          std::vector<std::string>& sample) {
  size_t filled = 0;
  std::string line;
  while (filled < kDialectSampleLines && sample.size() < kMostSampleLines &&
         reader.Next(line)) {
    if (!Trim(line).empty()) ++filled;
    sample.push_back(line);
  }
  // A list that cannot be read to there is read as it always was, up to
  // its error.
  return reader.failed() ? ListDialect::None : DetectDialect(sample);
}

void RenameArea(int32_t area, const std::string& title) {
  TFileArea record{};
  if (!MwGetFileAreas(area, 1, &record)) return;
  SetFieldText(record.Name, kAreaNameSize, title);
  MwUpdateFileArea(area, record);
}

}  // namespace

bool IsNameChar(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
      (c >= 'a' && c <= 'z'))
    return true;
  return c != '\0' && std::strchr("!\"#$%&+-_", c) != nullptr;
}

namespace {

// A name written in 8.3 columns, padded with spaces before the dot
// ("ACTIONS .ASC  1"): NAME.EXT and the position after it, or 0.
size_t PaddedName(const std::string& line, std::string& name) {
  constexpr size_t kDot = 8;
  if (line.size() <= kDot + 1 || line[kDot] != '.' || line[kDot - 1] != ' ')
    return 0;
  const size_t stem = line.find(' ');
  if (line.find_first_not_of(' ', stem) != kDot) return 0;
  size_t end = line.find(' ', kDot + 1);
  if (end == std::string::npos) end = line.size();
  const size_t extension = end - kDot - 1;
  if (extension < 1 || extension > 3 || line.find('.', kDot + 1) < end)
    return 0;
  if (line.find('.') < stem) return 0;
  name = line.substr(0, stem) + line.substr(kDot, end - kDot);
  return end;
}

}  // namespace

ListLine ParseListLine(const std::string& line) {
  ListLine parsed;
  const size_t length = line.size();
  size_t p = 0;
  if (length > 0 && IsNameChar(static_cast<unsigned char>(line[0]))) {
    p = PaddedName(line, parsed.fileName);
    if (p == 0) {
      p = line.find(' ');
      if (p == std::string::npos) p = length;
      parsed.fileName = line.substr(0, p);
    }
  }

  std::string gathered;
  if (parsed.fileName.find('.') != std::string::npos) {
    // Columns such as size and date stand between double spaces; a long
    // text between them is description, its double spaces made single.
    for (size_t i = p + 1; i < length; ++i) {
      if (line[i] == ' ' && i + 1 < length && line[i + 1] == ' ') {
        if (gathered.size() <= kMaxColumnLength) {
          parsed.discarded += gathered;
          gathered.clear();
        }
        continue;
      }
      gathered += line[i];
    }
  } else {
    for (size_t i = p + 1; i < length; ++i) {
      char c = line[i];
      if (c != '|' && c != '\r' && c != '\n') gathered += c;
    }
  }
  parsed.description = Trim(gathered);
  return parsed;
}

void ReadinFilesBBS(RunContext& ctx, const std::string& directory,
                    const std::string& listName, int32_t area) {
  if (!EntryHasPath(ctx, directory, area)) return;
  const std::string dir = TrailingBackslash(directory);
  const std::string areaText = std::to_string(area);
  const std::string listPath = ResolveExisting(dir + listName);
  if (listPath.empty() || !FileExists(listPath)) {
    LogRunError(ctx, "Could not Read files.BBS: " + dir + listName);
    return;
  }
  ExistingNames names;
  if (!names.Gather(ctx, area)) return;

  std::FILE* file = OpenRegularStream(listPath, OpenFlags::Read, "rb");
  if (!file) {
    ctx.view.ShowMessage("IO Error in ReadinFilesBBS");
    return;
  }
  ListReader reader(file);
  std::vector<std::string> sample;
  size_t sampled = 0;
  const ListDialect dialect =
      ctx.state.descriptionExtras.filesBbsDialects == ListDialects::Auto
          ? SampleDialect(reader, sample)
          : ListDialect::None;
  if (dialect != ListDialect::None && ctx.view.IsTestRun())
    ctx.view.AddTestRunLine("Layout of " + dir + listName + ": " +
                            DialectName(dialect));
  auto next = [&](std::string& line) {
    if (sampled == sample.size()) return reader.Next(line);
    line = std::move(sample[sampled++]);
    return true;
  };
  bool hasPending = false;
  std::string pending;
  std::vector<std::string> descriptions;
  // In a layout: the file line's text, its further lines and its date.
  std::string fileText;
  std::vector<std::string> more;
  uint64_t listedTime = 0;

  auto addPending = [&] {
    if (!hasPending) return;
    hasPending = false;
    if (dialect != ListDialect::None)
      descriptions = EntryDescription(fileText, more);
    if (!StoredNameFits(ctx, pending)) return;
    if (!ScreenUpload(ctx, pending, dir, dir + pending)) return;
    if (AddListedFile(ctx, dir, pending, descriptions, area, listedTime)) {
      names.Add(pending);
      RememberUpload(ctx, area, pending, dir + pending);
    } else {
      LogRunError(ctx, "Could not add file: " + pending + " from path: " + dir +
                           " to file area #" + areaText);
    }
  };
  auto startEntry = [&](const std::string& name) {
    addPending();
    hasPending = !names.Contains(name);
    pending = name;
    descriptions.clear();
  };
  auto title = [&](int number, const std::string& description) {
    if (number <= kTitleLines && !description.empty() &&
        IsNameChar(static_cast<unsigned char>(description[0])) &&
        !ctx.view.IsTestRun())
      RenameArea(area, description);
  };

  std::string line;
  int lineNumber = 0;
  while (next(line)) {
    // A list of 100,000 files must not freeze the window; a cancel stops
    // before the next file.
    ctx.view.ProcessEvents();
    if (ctx.state.cancelRequest) break;
    ++lineNumber;
    if (dialect != ListDialect::None) {
      const DialectLine read = ReadDialectLine(dialect, line);
      if (read.kind == DialectLineKind::File) {
        startEntry(read.fileName);
        fileText = read.text;
        more.clear();
        listedTime = DialectDateTime(read.date);
        continue;
      }
      if (read.kind == DialectLineKind::More) more.push_back(read.text);
      if (lineNumber > kTitleLines) continue;
      const ListLine parsed = ParseListLine(line);
      if (parsed.fileName.empty()) title(lineNumber, parsed.description);
      continue;
    }
    ListLine parsed = ParseListLine(line);
    if (!parsed.fileName.empty()) {
      startEntry(parsed.fileName);
      if (!parsed.description.empty())
        descriptions.push_back(parsed.description);
      continue;
    }
    if (parsed.description.empty()) continue;
    descriptions.push_back(parsed.description);
    title(lineNumber, parsed.description);
  }
  bool failed = reader.failed();
  std::fclose(file);
  if (failed) {
    ctx.view.ShowMessage("IO Error in ReadinFilesBBS");
    return;
  }
  if (!ctx.state.cancelRequest) addPending();
}

namespace {

TFullFileRecord ListedRecord(const std::string& name,
                             const std::vector<std::string>& descriptions,
                             int32_t area) {
  TFullFileRecord record{};
  record.Info.Area = area;
  SetFieldText(record.Info.Name, kFileNameSize, name);
  if (!descriptions.empty())
    SetFieldText(record.Info.Description, kShortDescSize, descriptions[0]);
  if (descriptions.size() >= 2) {
    record.Info.HasLongDescription = 1;
    for (size_t i = 0; i < descriptions.size() && i < kLongDescLines; ++i)
      SetFieldText(record.LongDescription[i], kLongDescLineSize,
                   descriptions[i]);
  }
  return record;
}

// What the record would hold, below its test-run line.
void ShowListedRecord(RunContext& ctx, const TFullFileRecord& record,
                      uint64_t listedTime) {
  if (listedTime != 0)
    ctx.view.AddTestRunLine("  Date: " +
                            FileTimeToIsoText(listedTime).substr(0, 10));
  if (!record.Info.HasLongDescription) {
    const std::string text = FieldText(record.Info.Description, kShortDescSize);
    if (!text.empty()) ctx.view.AddTestRunLine("  Description: " + text);
    return;
  }
  for (const auto& slot : record.LongDescription) {
    const std::string text = FieldText(slot, kLongDescLineSize);
    if (!text.empty()) ctx.view.AddTestRunLine("  Description: " + text);
  }
}

}  // namespace

bool AddListedFile(RunContext& ctx, const std::string& directory,
                   const std::string& name,
                   const std::vector<std::string>& descriptions, int32_t area,
                   uint64_t listedTime) {
  const std::string dir = TrailingBackslash(directory);
  // A listed name can only be a plain name inside the list's directory, of
  // a file there (a link is refused like one a scan finds).
  if (!IsPlainName(name) || !FileExists(dir + name) || LinkExists(dir + name))
    return false;
  if (!LocalFileFitsRecord(ctx, dir + name)) return false;
  TFullFileRecord record = ListedRecord(name, descriptions, area);
  if (ctx.view.IsTestRun()) {
    ctx.view.AddTestRunLine("Add to FA# " + std::to_string(area) + ": " + name +
                            " from: " + dir);
    if (ctx.state.descriptionExtras.filesBbsDialects == ListDialects::Auto)
      ShowListedRecord(ctx, record, listedTime);
    return true;
  }
  return AddAndFreshenRecord(ctx, record, listedTime);
}

}  // namespace qm
