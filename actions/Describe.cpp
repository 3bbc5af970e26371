#include "actions/Describe.h"

#include <algorithm>
#include <stdexcept>

#include "actions/AnsiText.h"
#include "actions/ArchiveReader.h"
#include "actions/ExternalArchive.h"
#include "actions/UnzipFile.h"
#include "platform/FieldText.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"
#include "run/DescriptionExtras.h"
#include "run/RunLog.h"

namespace qm {

namespace {

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
  return TrailingBackslash(StateFolder(state)) + "Temp/";
}

void LogTempUnusable(RunContext& ctx, const std::string& why) {
  LogRunError(ctx, "Temp cannot be used: " + TempDirectory(ctx.state) + " (" +
                       why + ")");
}

namespace {

enum class ArchiveKind { None, Zip, Other, External };

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

}  // namespace

bool MakeWorkFolder(RunContext& ctx, PrivateFolder& folder) {
  const std::string temp = TempDirectory(ctx.state);
  std::string reason;
  switch (folder.Make(temp, reason)) {
    case PrivateFolder::Outcome::Made:
      return true;
    case PrivateFolder::Outcome::NoTemp:
      throw std::runtime_error("Could not create the temp directory " + temp);
    case PrivateFolder::Outcome::NotOwn:
      LogRunError(ctx, "Temp is not a directory of its own: " + temp);
      return false;
    case PrivateFolder::Outcome::Unusable:
      LogTempUnusable(ctx, reason);
      return false;
  }
  return false;
}

namespace {

// The archive opened once, never through a link and never blocking on a
// special file; readers that want a path get one that names this file
// whatever is renamed meanwhile.
class OpenedArchive {
 public:
  explicit OpenedArchive(const std::string& path) {
    const std::string found = ResolveExisting(path);
    if (found.empty()) return;
    Result<File> opened =
        File::Open(found, OpenFlags::Read | OpenFlags::NoFollow);
    if (opened) file_ = std::move(*opened);
  }
  bool ok() const { return file_.IsOpen(); }
  std::string Path() const { return file_.ProcPath(); }
  // The archiver in effect that reads it (ExternalArchive.h).
  const Archiver* ArchiverOf(RunContext& ctx, bool afterStub) {
    return ok() ? ArchiverFor(ctx, file_, afterStub) : nullptr;
  }

 private:
  File file_;
};

void LogCountFailed(RunContext& ctx, const std::string& archive) {
  LogRunError(ctx, "UnZip Count Failed. ZipFile: " + archive);
}

void LogExtractFailed(RunContext& ctx, const std::string& archive,
                      const std::string& memberSpec) {
  LogRunError(
      ctx, "UnZip Failed. ZipFile: " + archive + "  fileDesc: " + memberSpec);
}

bool ExtractFromOther(RunContext& ctx, const std::string& archive,
                      const std::string& readFrom,
                      const std::string& memberSpec, const std::string& temp,
                      const Archiver* archiver = nullptr);

// Through the unzip component: count, then extract what matches. One it
// cannot count may be a self-extracting archive of another format; the
// other reader looks for one. A member that could not be written is Temp's
// fault, not the archive's.
bool ExtractFromZip(RunContext& ctx, TUnzipFile& unzip, OpenedArchive& opened,
                    const std::string& archive, const std::string& readFrom,
                    const std::string& memberSpec, const std::string& temp) {
  unzip.lpszDestination.SetText(temp);
  unzip.lpszFileSpec.SetText(memberSpec);
  if (!unzip.Execute(DZ_FUNC_COUNT))
    return ExtractFromOther(ctx, archive, readFrom, memberSpec, temp,
                            opened.ArchiverOf(ctx, true));
  if (unzip.ReturnCount() == 0) return true;
  if (!unzip.Execute(DZ_FUNC_EXTRACT)) {
    if (unzip.ReturnCode() == DZ_ERR_DESTINATION)
      LogTempUnusable(ctx, unzip.InfoText());
    else
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
// that cannot be walked to its end (or none found after a program stub)
// fails like a count, a member that cannot be written like an extraction;
// one that a limit stopped says so.
bool ExtractFromOther(RunContext& ctx, const std::string& archive,
                      const std::string& readFrom,
                      const std::string& memberSpec, const std::string& temp,
                      const Archiver* archiver) {
  ArchiveExtraction result =
      archiver ? ExtractWithArchiver(*archiver, archive, readFrom, memberSpec,
                                     temp, TempDirectory(ctx.state))
               : ExtractArchiveMembers(archive, memberSpec, temp, readFrom);
  if (result.limit != ArchiveLimit::None) {
    LogRunError(ctx, "UnZip Stopped. ZipFile: " + archive + ": " +
                         LimitText(result.limit));
    return false;
  }
  if (!result.readable) {
    LogCountFailed(ctx, archive);
    return false;
  }
  if (result.unwritable) {
    LogTempUnusable(ctx, "a member could not be written");
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
                             std::vector<ExtractedMember>& files,
                             const std::string& readFrom) {
  ArchiveKind kind = KindOf(archive);
  if (ctx.unzip == nullptr) return false;
  if (kind == ArchiveKind::None && !ArchiversOn(ctx.state)) return false;
  OpenedArchive opened(readFrom.empty() ? archive : readFrom);
  // Another name is an archive when an archiver in effect reads its bytes.
  const Archiver* archiver = nullptr;
  if (kind == ArchiveKind::None) {
    archiver = opened.ArchiverOf(ctx, false);
    if (archiver == nullptr) return false;
    kind = ArchiveKind::External;
  }
  if (kind == ArchiveKind::Zip)
    ctx.unzip->lpszZipFile.SetText(opened.ok() ? opened.Path() : archive);
  PrivateFolder folder;
  if (!MakeWorkFolder(ctx, folder)) return false;
  // One that is not there (or no file) reads as no archive.
  const std::string source = opened.ok() ? opened.Path() : archive;
  bool ok = kind == ArchiveKind::Zip
                ? ExtractFromZip(ctx, *ctx.unzip, opened, archive, source,
                                 memberSpec, folder.Path())
                : ExtractFromOther(ctx, archive, source, memberSpec,
                                   folder.Path(), archiver);
  // Members that did come out are of no use without the rest.
  if (!ok) return false;
  for (const std::string& name : folder.Names()) {
    ExtractedMember member{name, {}};
    if (folder.Read(name, member.bytes)) files.push_back(std::move(member));
  }
  return true;
}

namespace {

// The entry's member, then the fallbacks; an entry that names none ("NA")
// wants no description at all.
std::vector<std::string> MemberSpecs(const RunContext& ctx,
                                     const std::string& memberSpec) {
  std::vector<std::string> specs{memberSpec};
  if (!EqualsNoCase(Trim(memberSpec), "NA"))
    for (const std::string& spec :
         ctx.state.descriptionExtras.descriptionFallback)
      specs.push_back(spec);
  return specs;
}

std::vector<std::string> DescriptionLines(const RunContext& ctx,
                                          const std::string& bytes) {
  if (ctx.state.descriptionExtras.ansiDescriptions == AnsiMode::Text &&
      CarriesAnsi(bytes))
    return TextLines(AnsiToText(bytes));
  return TextLines(bytes);
}

}  // namespace

bool DescribeFromArchive(RunContext& ctx, const std::string& path,
                         const std::string& memberSpec, TFullFileRecord& record,
                         const std::string& readFrom) {
  ExtractingLabel label(ctx.view);
  for (const std::string& spec : MemberSpecs(ctx, memberSpec)) {
    std::vector<ExtractedMember> files;
    // An archive that cannot be read has nothing for the next spec either.
    if (!ExtractDescriptionFiles(ctx, path, spec, files, readFrom))
      return false;
    if (files.empty()) continue;
    const std::vector<std::string> lines =
        DescriptionLines(ctx, files.front().bytes);
    if (lines.empty()) continue;
    record.Info.HasLongDescription = 1;
    size_t count = std::min<size_t>(lines.size(), kLongDescLines);
    for (size_t i = 0; i < count; ++i)
      SetFieldText(record.LongDescription[i], lines[i]);
    SetFieldText(record.Info.Description, lines.front());
    return true;
  }
  return false;
}

}  // namespace qm
