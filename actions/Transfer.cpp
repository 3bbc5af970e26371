#include "actions/Transfer.h"

#include <filesystem>
#include <memory>

#include "actions/Describe.h"
#include "actions/MatchRule.h"
#include "platform/FaultInjection.h"
#include "platform/FieldText.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "server/Session.h"

namespace qm {

namespace {

constexpr uint32_t kBlockSize = 4096;
// The records' size fields are signed 32-bit.
constexpr uint64_t kSizeLimit = 0x80000000ull;
constexpr size_t kMaxHostPathLength = 99;
// What WcGetFileSize gives when it fails.
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;

void TooLargeLine(RunContext& ctx, const std::string& path) {
  LogRunError(ctx, "File: " + path +
                       " is 2 GB or larger: too large for a file area record");
}

// The file a transfer reads: a stored file or a local one.
class SourceFile {
 public:
  ~SourceFile() {
    if (handle_ > 0) WcCloseHandle(handle_);
  }
  bool Open(const std::string& path) {
    if (IsHostPath(path)) {
      handle_ = WcCreateFile(path.c_str(), WC_GENERIC_READ, WC_FILE_SHARE_READ,
                             WC_OPEN_EXISTING);
      if (handle_ <= 0) return false;
      size_ = WcGetFileSize(handle_);
      return size_ != kInvalidFileSize;
    }
    // Links are no uploads: one put in the file's place is not followed.
    if (!reader_.Open(path, false)) return false;
    size_ = reader_.Size();
    return true;
  }
  bool Read(void* buffer, uint32_t count, uint32_t& done) {
    if (handle_ > 0) return WcReadFile(handle_, buffer, count, done) != 0;
    return reader_.Read(buffer, count, done);
  }
  uint64_t Size() const { return size_; }

 private:
  WcHandle handle_ = 0;
  LocalReader reader_;
  uint64_t size_ = 0;
};

// The file a transfer writes. Nothing replaces the target until Commit();
// destroying it uncommitted discards what was written.
class TargetFile {
 public:
  ~TargetFile() {
    if (handle_ > 0) WcAbandonFile(handle_);
  }
  // addedFrom: the upload this write adds, for the host's adds journal.
  bool Open(const std::string& path, const std::string& addedFrom) {
    if (IsHostPath(path)) {
      handle_ =
          WcCreateFile(path.c_str(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
      return handle_ > 0 &&
             (addedFrom.empty() || WcJournalAdd(handle_, addedFrom.c_str()));
    }
    return writer_.Open(path);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t& done) {
    if (handle_ > 0) return WcWriteFile(handle_, buffer, count, done) != 0;
    return writer_.Write(buffer, count, done);
  }
  bool Commit() {
    fault::Point("transfer commit");
    if (handle_ > 0) {
      WcHandle handle = handle_;
      handle_ = 0;
      if (WcCloseHandle(handle)) return true;
      const uint32_t why = WcGetLastError();
      WcAbandonFile(handle);  // a refused close may have left it open
      WcSetLastError(why);
      return false;
    }
    return writer_.Commit();
  }

 private:
  WcHandle handle_ = 0;
  AtomicWriter writer_;
};

std::string HostErrorText() {
  return " (" + WcErrorName(WcGetLastError()) + ")";
}

// Reads back what the host stored for a record just added and freshens it.
bool ReadBackAndFreshen(RunContext& ctx, TFullFileRecord& record,
                        uint64_t fileTime = 0) {
  const std::string name = RecordName(record.Info);
  TFileRecord stored{};
  uint32_t position = 0;
  if (!GetFileRecByAreaName(record.Info.Area, name.c_str(), stored, position))
    return false;
  if (!GetFullFileRec(stored, record)) return false;
  return FreshenFileRecord(ctx, record, fileTime);
}

bool CopyBlocks(SourceFile& source, TargetFile& target,
                ProgressView* progress) {
  char buffer[kBlockSize];
  uint64_t total = 0;
  for (;;) {
    uint32_t read = 0;
    if (!source.Read(buffer, kBlockSize, read)) return false;
    if (read == 0) return true;
    total += read;
    if (progress) progress->SetPosition(static_cast<int>(total / kBlockSize));
    uint32_t written = 0;
    if (!target.Write(buffer, read, written) || written != read) return false;
    if (progress && progress->Cancelled()) return false;
  }
}

// The journal's note of an upload must find it from any directory.
std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  const std::string cwd = CurrentDirectory();
  return cwd.empty() ? path : TrailingBackslash(cwd) + path;
}

std::string CopyFailedLine(const std::string& localPath) {
  return "Error copying file: " + localPath + " to filearea server path";
}

// An add never replaces a stored file, whoever put it there and when.
std::string HeldNameLine(const std::string& localPath, int32_t area) {
  return CopyFailedLine(localPath) + ": file area #" + std::to_string(area) +
         " already holds a file of that name (it stays as it is)";
}

}  // namespace

std::string HostPath(int32_t area, const std::string& name) {
  return "wc:\\file\\area(" + std::to_string(area) + ")\\" + name;
}

bool IsHostPath(const std::string& path) {
  return path.size() >= 4 && EqualsNoCase(path.substr(0, 4), "wc:\\");
}

bool StoredNameFits(RunContext& ctx, const std::string& name) {
  if (name.size() <= static_cast<size_t>(kMaxStoredNameLength)) return true;
  LogRunError(ctx, name + " filename too long. 14 or less chars only.");
  return false;
}

bool LocalFileFitsRecord(RunContext& ctx, const std::string& path) {
  std::string found = ResolveExisting(path);
  std::error_code error;
  uintmax_t size =
      std::filesystem::file_size(found.empty() ? path : found, error);
  if (error || size < kSizeLimit) return true;
  TooLargeLine(ctx, path);
  return false;
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < ' ' || c == 127 || c == '\\' || c == '/' || c == ':') return false;
  return true;
}

std::string LocalFileName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

bool LocalFileAccepted(RunContext& ctx, const std::string& localPath,
                       int32_t area) {
  const std::string name = LocalFileName(localPath);
  if (!IsPlainName(name)) {
    LogRunError(ctx, "Could not add file: " + name + " from path: " +
                         localPath.substr(0, localPath.size() - name.size()) +
                         " to file area #" + std::to_string(area));
    return false;
  }
  return StoredNameFits(ctx, name) && LocalFileFitsRecord(ctx, localPath);
}

bool StorageTakes(int32_t area, const std::string& name) {
  return WcExistFile(HostPath(area, name).c_str()) ||
         WcGetLastError() == WC_ITEM_NOT_FOUND;
}

bool TransferFile(RunContext& ctx, const std::string& source,
                  const std::string& target, const std::string& caption,
                  const std::string& addedFrom) {
  SourceFile in;
  if (!in.Open(source)) return false;
  if (in.Size() >= kSizeLimit) {
    TooLargeLine(ctx, addedFrom.empty() ? source : addedFrom);
    return false;
  }
  TargetFile out;
  if (!out.Open(target, addedFrom)) return false;

  std::unique_ptr<ProgressView> progress = ctx.view.OpenProgress(caption);
  if (progress) {
    progress->SetPosition(0);
    progress->SetMaximum(static_cast<int>(in.Size() / kBlockSize));
  }
  bool ok = CopyBlocks(in, out, progress.get()) && out.Commit();
  progress.reset();
  return ok;
}

bool AddFileToArea(RunContext& ctx, const std::string& localPath, int32_t area,
                   bool transfer, const std::string& descSpec, bool describe,
                   const std::string& contentPath) {
  if (!LocalFileAccepted(ctx, localPath, area)) return false;
  const std::string name = LocalFileName(localPath);
  const std::string found = ResolveExisting(localPath);
  const std::string& upload = found.empty() ? localPath : found;
  // What is stored and described: a private copy of the upload when one was
  // made (the one that was checked), else the upload itself.
  const std::string& content = contentPath.empty() ? upload : contentPath;

  const std::string areaText = std::to_string(area);
  if (transfer) {
    // Copying over a stored file that has a record would change that
    // record's file behind its back.
    TFileRecord existing{};
    switch (LookUpRecord(area, name, existing)) {
      case Lookup::Found:
        LogRunError(ctx, "File: " + name + " is already in file area #" +
                             areaText + ": not copied from " + localPath);
        return false;
      case Lookup::Failed:
        LogRunError(ctx, "File: " + name +
                             " could not be looked up in file area #" +
                             areaText + HostErrorText() + ": not copied from " +
                             localPath);
        return false;
      case Lookup::NotFound:
        break;
    }
    fault::Point("before transfer");
    WcSetLastError(0);
    if (!TransferFile(ctx, content, HostPath(area, name),
                      "Copy File to FileArea #" + areaText,
                      AbsolutePath(upload))) {
      const uint32_t why = WcGetLastError();
      const bool held =
          why == WC_ITEM_ALREADY_EXISTS || why == WC_DUPLICATE_RECORD;
      LogRunError(ctx, held ? HeldNameLine(localPath, area)
                            : CopyFailedLine(localPath));
      return false;
    }
  }

  // Storage never keeps a copy the host has no record of.
  auto unrecorded = [&](std::string line) {
    if (transfer)
      line += WcDeleteFile(HostPath(area, name).c_str())
                  ? ": the copy was removed"
                  : ": the copy could not be removed" + HostErrorText();
    LogRunError(ctx, line);
  };
  const std::string noRecord =
      "Could not add a record for file: " + name + " to file area #" + areaText;
  TFullFileRecord record{};
  record.Info.Area = area;
  SetFieldText(record.Info.Name, kFileNameSize, name);
  if (describe) {
    try {
      DescribeFromArchive(ctx, upload, descSpec, record, content);
    } catch (...) {
      // The run stops (Temp cannot be made, say) before the record.
      unrecorded(noRecord + ": the run stopped");
      throw;
    }
  }
  if (!AddFileRec(record)) {
    unrecorded(noRecord + HostErrorText());
    return false;
  }
  ++ctx.state.counts.added;
  return ReadBackAndFreshen(ctx, record);
}

void ReportAddRepairs(RunContext& ctx) {
  TRepairNote note{};
  // Told before it is done with: a crash in between tells it twice, never
  // not at all.
  while (WcGetRepairNote(note)) {
    const std::string source = FieldText(note.Source, sizeof note.Source);
    LogRunError(ctx, "Repaired after a stopped run: FA# " +
                         std::to_string(note.Area) + ": " +
                         FieldText(note.Name, sizeof note.Name) +
                         " was stored without a record; " +
                         (note.Recorded ? "it was recorded without a "
                                          "description, its upload " +
                                              source + " is gone or changed"
                                        : "the copy was removed, its upload " +
                                              source + " is still there"));
    if (!WcRepairNoteDone(note.Id)) break;
  }
}

bool TransferForeseen(RunContext& ctx, const std::string& localPath,
                      int32_t area) {
  if (WcExistFile(HostPath(area, LocalFileName(localPath)).c_str())) {
    LogRunError(ctx, HeldNameLine(localPath, area));
    return false;
  }
  if (WcGetLastError() != WC_ITEM_NOT_FOUND) {
    LogRunError(ctx, CopyFailedLine(localPath));
    return false;
  }
  return true;
}

Lookup LookUpRecord(int32_t area, const std::string& name,
                    TFileRecord& record) {
  uint32_t position = 0;
  if (GetFileRecByAreaName(area, name.c_str(), record, position))
    return Lookup::Found;
  return WcGetLastError() == WC_RECORD_NOT_FOUND ? Lookup::NotFound
                                                 : Lookup::Failed;
}

bool AddAndFreshenRecord(RunContext& ctx, TFullFileRecord& record,
                         uint64_t fileTime) {
  if (!AddFileRec(record)) return false;
  ++ctx.state.counts.added;
  return ReadBackAndFreshen(ctx, record, fileTime);
}

bool FreshenFileRecord(RunContext& ctx, const TFullFileRecord& record,
                       uint64_t fileTime) {
  TFullFileRecord copy = record;
  const std::string name = RecordName(copy.Info);
  const std::string failed = "Could not Freshen file: " + name + " in FA# " +
                             std::to_string(copy.Info.Area);
  std::string path = HostPath(copy.Info.Area, name);
  if (path.size() > kMaxHostPathLength) path.resize(kMaxHostPathLength);

  if (!WcExistFile(path.c_str())) {
    LogRunError(ctx, failed);
    return false;
  }
  WcHandle handle = WcCreateFile(path.c_str(), WC_GENERIC_READ,
                                 WC_FILE_SHARE_READ, WC_OPEN_EXISTING);
  if (handle <= 0) return false;
  bool ok = false;
  uint64_t utc = 0, local = 0;
  uint32_t size = kInvalidFileSize;
  // A size the host could not tell is no better than a time it could not.
  if (WcGetFileTime(handle, utc) && FileTimeToLocalFileTime(utc, local) &&
      (size = WcGetFileSize(handle)) != kInvalidFileSize) {
    copy.Info.FileTime = fileTime != 0 ? fileTime : local;
    copy.Info.Size = static_cast<int32_t>(size);
    ok = UpdateFullFileRec(copy) != 0;
    if (!ok) LogRunError(ctx, failed);
  }
  WcCloseHandle(handle);
  return ok;
}

}  // namespace qm
