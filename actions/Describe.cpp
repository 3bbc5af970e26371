#include "actions/Describe.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include "actions/UnzipFile.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "runner/RunLog.h"

namespace qm {

namespace {

// Copies text into a zero-terminated field, cut to the field's size - 1.
template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
  size_t length = std::min(text.size(), N - 1);
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), length);
}

std::vector<std::string> PlainFiles(const std::string& directory) {
  std::vector<std::string> paths;
  for (const FoundFile& file : FindFiles(directory + "*.*"))
    paths.push_back(directory + file.name);
  return paths;
}

// Hidden files of the directory; a member whose name starts with a dot comes
// out hidden here although it is an ordinary file in the archive.
std::set<std::string> HiddenFiles(const std::string& directory) {
  std::set<std::string> names;
  for (const FoundFile& file : FindFiles(directory + "*", true))
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

bool ExtractDescriptionFiles(RunContext& ctx, const std::string& archive,
                             const std::string& memberSpec,
                             std::vector<std::string>& files) {
  if (ctx.unzip == nullptr) return false;
  std::string upper = UpperCase(archive);
  if (upper.find(".ZIP") == std::string::npos &&
      upper.find(".EXE") == std::string::npos)
    return false;
  TUnzipFile& unzip = *ctx.unzip;
  unzip.lpszZipFile.SetText(archive);

  std::string temp = TempDirectory(ctx.state);
  if (!PathExists(temp) && !ForceDirectories(temp))
    throw std::runtime_error("Could not create the temp directory " + temp);
  // Emptying a linked Temp would empty whatever it points at.
  if (!RealDirectoryExists(temp)) {
    LogRunError(ctx, "Temp is not a directory of its own: " + temp);
    return false;
  }
  DeleteFiles(PlainFiles(temp));

  const std::set<std::string> hiddenBefore = HiddenFiles(temp);

  unzip.lpszDestination.SetText(temp);
  unzip.lpszFileSpec.SetText(memberSpec);
  if (!unzip.Execute(DZ_FUNC_COUNT)) {
    LogRunError(ctx, "UnZip Count Failed. ZipFile: " + archive);
    return false;
  }
  if (unzip.ReturnCount() == 0) return true;
  if (!unzip.Execute(DZ_FUNC_EXTRACT)) {
    LogRunError(
        ctx, "UnZip Failed. ZipFile: " + archive + "  fileDesc: " + memberSpec);
    // Members that did come out are of no use without the rest.
    DeleteFiles(ExtractedFiles(temp, hiddenBefore));
    return false;
  }
  std::vector<std::string> extracted = ExtractedFiles(temp, hiddenBefore);
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
      SetField(record.LongDescription[i], lines[i]);
    SetField(record.Info.Description, lines.front());
    described = true;
  }
  DeleteFiles(files);
  return described;
}

}  // namespace qm
