#include "actions/Describe.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include "actions/ArchiveReader.h"
#include "actions/UnzipFile.h"
#include "platform/FieldText.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"

namespace qm {

namespace {

std::vector<std::string> PlainFiles(const std::string& directory) {
  std::vector<std::string> paths;
  for (const FoundFile& file : FindFiles(directory + "*.*").files)
    paths.push_back(directory + file.name);
  return paths;
}

// Hidden files of the directory; a member whose name starts with a dot comes
// out hidden here although it is an ordinary file in the archive.
std::set<std::string> HiddenFiles(const std::string& directory) {
  std::set<std::string> names;
  for (const FoundFile& file : FindFiles(directory + "*", true).files)
    if (file.name[0] == '.') names.insert(file.name);
  return names;
}

// Plain files plus hidden ones that were not there before.
std::vector<std::string> ExtractedFiles(const std::string& directory,
                                        const std::set<std::string>& before) {
  std::vector<std::string> paths = PlainFiles(directory);
  for (const std::string& name : HiddenFiles(directory))
    if (!before.count(name)) paths.push_back(directory + name);
  return paths;
}

void DeleteFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) DeleteLocalFile(path);
}

// Shows the extracting label for as long as it lives.
class ExtractingLabel {
 public:
  explicit ExtractingLabel(RunView& view) : view_(view) {
    view_.SetExtractingVisible(true);
  }
  ~ExtractingLabel() { view_.SetExtractingVisible(false); }
  ExtractingLabel(const ExtractingLabel&) = delete;
  ExtractingLabel& operator=(const ExtractingLabel&) = delete;

 private:
  RunView& view_;
};

}  // namespace

std::string TempDirectory(const RunState& state) {
  return TrailingBackslash(state.programDir) + "Temp/";
}

namespace {

enum class ArchiveKind { None, Zip, Other };

// By the file's own name, never the folders above it: one ending in another
// format's extension is that format even when ".ZIP" occurs earlier in it;
// otherwise ".ZIP" or ".EXE" anywhere in it makes a ZIP archive (or a
// self-extracting one).
ArchiveKind KindOf(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  if (IsReadableArchiveName(name)) return ArchiveKind::Other;
  std::string upper = UpperCase(name);
  if (upper.find(".ZIP") != std::string::npos ||
      upper.find(".EXE") != std::string::npos)
    return ArchiveKind::Zip;
  return ArchiveKind::None;
}

// Empties Temp of plain files (making it when missing) and gives its path;
// empty when Temp is not a directory of our own.
std::string PrepareTemp(RunContext& ctx) {
  std::string temp = TempDirectory(ctx.state);
  if (!PathExists(temp) && !ForceDirectories(temp))
    throw std::runtime_error("Could not create the temp directory " + temp);
  // Emptying a linked Temp would empty whatever it points at.
  if (!RealDirectoryExists(temp)) {
    LogRunError(ctx, "Temp is not a directory of its own: " + temp);
    return {};
  }
  DeleteFiles(PlainFiles(temp));
  return temp;
}

void LogCountFailed(RunContext& ctx, const std::string& archive) {
  LogRunError(ctx, "UnZip Count Failed. ZipFile: " + archive);
}

void LogExtractFailed(RunContext& ctx, const std::string& archive,
                      const std::string& memberSpec) {
  LogRunError(
      ctx, "UnZip Failed. ZipFile: " + archive + "  fileDesc: " + memberSpec);
}

// Through the unzip component: count, then extract what matches.
bool ExtractFromZip(RunContext& ctx, TUnzipFile& unzip,
                    const std::string& archive, const std::string& memberSpec,
                    const std::string& temp) {
  unzip.lpszDestination.SetText(temp);
  unzip.lpszFileSpec.SetText(memberSpec);
  if (!unzip.Execute(DZ_FUNC_COUNT)) {
    LogCountFailed(ctx, archive);
    return false;
  }
  if (unzip.ReturnCount() == 0) return true;
  if (!unzip.Execute(DZ_FUNC_EXTRACT)) {
    LogExtractFailed(ctx, archive, memberSpec);
    return false;
  }
  return true;
}

// Why the reading of an archive was stopped.
std::string LimitText(ArchiveLimit limit) {
  switch (limit) {
    case ArchiveLimit::Time:
      return "reading it takes more than " + std::to_string(kArchiveSeconds) +
             " seconds";
    case ArchiveLimit::Memory:
      return "reading it needs more than " + std::to_string(kArchiveMemoryMiB) +
             " MiB of memory";
    default:
      return "its reader failed";
  }
}

// Through libarchive, with the same outcomes and log lines: an archive
// that cannot be walked to its end fails like a count, a member that
// cannot be written like an extraction; one that a limit stopped says so.
bool ExtractFromOther(RunContext& ctx, const std::string& archive,
                      const std::string& memberSpec, const std::string& temp) {
  ArchiveExtraction result = ExtractArchiveMembers(archive, memberSpec, temp);
  if (result.limit != ArchiveLimit::None) {
    LogRunError(ctx, "UnZip Stopped. ZipFile: " + archive + ": " +
                         LimitText(result.limit));
    return false;
  }
  if (!result.readable) {
    LogCountFailed(ctx, archive);
    return false;
  }
  if (!result.complete) {
    LogExtractFailed(ctx, archive, memberSpec);
    return false;
  }
  return true;
}

}  // namespace

bool ExtractDescriptionFiles(RunContext& ctx, const std::string& archive,
                             const std::string& memberSpec,
                             std::vector<std::string>& files) {
  const ArchiveKind kind = KindOf(archive);
  if (kind == ArchiveKind::None || ctx.unzip == nullptr) return false;
  if (kind == ArchiveKind::Zip) ctx.unzip->lpszZipFile.SetText(archive);
  const std::string temp = PrepareTemp(ctx);
  if (temp.empty()) return false;
  const std::set<std::string> hiddenBefore = HiddenFiles(temp);
  bool ok = kind == ArchiveKind::Zip
                ? ExtractFromZip(ctx, *ctx.unzip, archive, memberSpec, temp)
                : ExtractFromOther(ctx, archive, memberSpec, temp);
  std::vector<std::string> extracted = ExtractedFiles(temp, hiddenBefore);
  if (!ok) {
    // Members that did come out are of no use without the rest.
    DeleteFiles(extracted);
    return false;
  }
  files.insert(files.end(), extracted.begin(), extracted.end());
  return true;
}

bool DescribeFromArchive(RunContext& ctx, const std::string& path,
                         const std::string& memberSpec,
                         TFullFileRecord& record) {
  ExtractingLabel label(ctx.view);
  std::vector<std::string> files;
  if (!ExtractDescriptionFiles(ctx, path, memberSpec, files) || files.empty())
    return false;
  bool described = false;
  std::vector<std::string> lines;
  if (FileExists(files.front()) && ReadTextLines(files.front(), lines) &&
      !lines.empty()) {
    record.Info.HasLongDescription = 1;
    size_t count = std::min<size_t>(lines.size(), kLongDescLines);
    for (size_t i = 0; i < count; ++i)
      SetFieldText(record.LongDescription[i], lines[i]);
    SetFieldText(record.Info.Description, lines.front());
    described = true;
  }
  DeleteFiles(files);
  return described;
}

}  // namespace qm
