#include "config/ConfigFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FieldText.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "server/WcApi.h"

namespace qm {

namespace {

constexpr char kMarker[] = "[FileCHK]";

// Field offsets and the characters each may hold on writing.
constexpr int kAreaNumAt = 16;
constexpr int kAreaNameAt = 20, kAreaNameMax = 32;
constexpr int kFileActionAt = 56, kShortFieldMax = 32;
constexpr int kParamAt = 89, kParamWriteMax = 65, kParamReadMax = 33;
constexpr int kFileSpecAt = 155, kLongFieldMax = 260;
constexpr int kAddedWithinDaysAt = 416;
constexpr int kDescActionAt = 420;
constexpr int kDescSpecAt = 519;
constexpr int kPathAt = 780;
constexpr int kVolumeAt = 1041, kVolumeMax = 16;
constexpr int kOfflineAt = 1060;

void PutInt32(uint8_t* record, int offset, int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) record[offset + i] = (bits >> (8 * i)) & 0xFF;
}

int32_t GetInt32(const uint8_t* record, int offset) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= uint32_t{record[offset + i]} << (8 * i);
  return static_cast<int32_t>(bits);
}

// A field of at most maxChars characters and the NUL after them.
void PutText(uint8_t* record, int offset, const std::string& text,
             int maxChars) {
  SetFieldText(reinterpret_cast<char*>(record + offset),
               static_cast<size_t>(maxChars) + 1, text);
}

std::string GetText(const uint8_t* record, int offset, int maxChars) {
  return FieldText(reinterpret_cast<const char*>(record + offset),
                   static_cast<size_t>(maxChars) + 1);
}

// A name the program reads may differ from the name on disk in letter case.
std::string ExistingOrGiven(const std::string& fileName) {
  const std::string found = ResolveExisting(fileName);
  return found.empty() ? fileName : found;
}

}  // namespace

// --- RecordFile ------------------------------------------------------------

RecordFile::~RecordFile() { Close(); }

bool RecordFile::Open(const std::string& fileName, bool createFlag) {
  if (file_.IsOpen()) return false;
  const bool exists = PathFacts(fileName).ok();
  OpenFlags flags = OpenFlags::ReadWrite;
  if (createFlag || !exists)
    flags = flags | OpenFlags::Create | OpenFlags::Truncate;
  Result<File> opened = File::Open(fileName, flags);
  if (!opened) return false;
  file_ = std::move(*opened);
  RecordCount();
  return true;
}

bool RecordFile::OpenForReading(const std::string& fileName) {
  if (file_.IsOpen()) return false;
  Result<File> opened = File::Open(ExistingOrGiven(fileName), OpenFlags::Read);
  if (!opened) return false;
  file_ = std::move(*opened);
  RecordCount();
  return true;
}

int RecordFile::RecordCount() {
  count_ = 0;
  if (!file_.IsOpen() || recordSize_ <= 0) return count_;
  const Result<FileFacts> facts = file_.Facts();
  if (facts)
    count_ = static_cast<int>(facts->size / static_cast<uint64_t>(recordSize_));
  return count_;
}

bool RecordFile::Read(int k, void* buffer) {
  if (!file_.IsOpen() || k < 1 || recordSize_ <= 0) return false;
  const uint64_t at = uint64_t(k - 1) * recordSize_;
  const Result<size_t> got = file_.ReadAt(buffer, recordSize_, at);
  const bool full = got && *got == size_t(recordSize_);
  RecordCount();
  return full;
}

int RecordFile::Append(const void* buffer) {
  if (!file_.IsOpen() || recordSize_ <= 0) return 0;
  if (!file_.SeekToEnd()) return 0;
  if (!file_.Write(buffer, recordSize_)) return 0;
  return RecordCount();
}

bool RecordFile::Close() {
  if (!file_.IsOpen()) return false;
  (void)file_.Close();
  count_ = 0;
  return true;
}

// --- Entries ---------------------------------------------------------------

ConfigRecord EncodeEntry(const AreaConfigEntry& entry) {
  ConfigRecord record{};
  uint8_t* r = record.data();
  std::memcpy(r, kMarker, 9);
  r[9] = '\r';  // r[10] stays the NUL
  PutInt32(r, kAreaNumAt, entry.AreaNum);
  PutText(r, kAreaNameAt, entry.AreaName, kAreaNameMax);
  PutText(r, kFileActionAt, entry.FileAction, kShortFieldMax);
  // The parameter may run on into the reserved field after it.
  PutText(r, kParamAt, entry.FileActionParam, kParamWriteMax);
  PutText(r, kFileSpecAt, entry.FileActionSpec, kLongFieldMax);
  PutInt32(r, kAddedWithinDaysAt, entry.AddedWithinDays);
  PutText(r, kDescActionAt, entry.DescAction, kShortFieldMax);
  PutText(r, kDescSpecAt, entry.DescActionSpec, kLongFieldMax);
  PutText(r, kPathAt, entry.Path, kLongFieldMax);
  PutText(r, kVolumeAt, entry.Volume, kVolumeMax);
  PutInt32(r, kOfflineAt, entry.Offline ? 1 : 0);
  return record;
}

AreaConfigEntry DecodeEntry(const uint8_t* r) {
  AreaConfigEntry entry;
  entry.AreaNum = GetInt32(r, kAreaNumAt);
  entry.AreaName = GetText(r, kAreaNameAt, kAreaNameMax);
  entry.FileAction = GetText(r, kFileActionAt, kShortFieldMax + 1);
  entry.FileActionParam = GetText(r, kParamAt, kParamReadMax);
  entry.FileActionSpec = GetText(r, kFileSpecAt, kLongFieldMax + 1);
  entry.DescAction = GetText(r, kDescActionAt, kShortFieldMax + 1);
  entry.DescActionSpec = GetText(r, kDescSpecAt, kLongFieldMax + 1);
  entry.Path = GetText(r, kPathAt, kLongFieldMax + 1);
  entry.Volume = GetText(r, kVolumeAt, kVolumeMax);
  entry.Offline = GetInt32(r, kOfflineAt) > 0;
  entry.AddedWithinDays = GetInt32(r, kAddedWithinDaysAt);
  return entry;
}

AreaConfigEntry DecodeEntry(const ConfigRecord& record) {
  return DecodeEntry(record.data());
}

bool IsConfigFile(const std::string& fileName, bool* ioError) {
  if (ioError) *ioError = false;
  Result<File> file = File::Open(ExistingOrGiven(fileName), OpenFlags::Read);
  if (!file) {
    if (ioError) *ioError = true;
    return false;
  }
  // Only the first line matters, and it can match only when it is exactly
  // as long as the marker: read one character more than that.
  constexpr size_t kMarkerLength = sizeof(kMarker) - 1;
  char head[kMarkerLength + 1];
  const Result<size_t> read = file->ReadUpTo(head, sizeof(head));
  const size_t got = read ? *read : 0;
  if (!read) {
    if (ioError) *ioError = true;
    return false;
  }
  size_t lineEnd = 0;
  while (lineEnd < got && head[lineEnd] != '\r' && head[lineEnd] != 0x1A) {
    ++lineEnd;
  }
  return EqualsNoCase(std::string(head, lineEnd), kMarker);
}

std::vector<std::string> EntryKeyLines(const AreaConfigEntry& entry) {
  std::vector<std::string> lines = {
      "AreaNum=" + std::to_string(entry.AreaNum),
      "AreaName=" + entry.AreaName,
      "FileAction=" + entry.FileAction,
      "FileActionParam=" + entry.FileActionParam,
      "FileActionSpec=" + entry.FileActionSpec,
      "DescAction=" + entry.DescAction,
      "DescActionSpec=" + entry.DescActionSpec,
      "Path=" + entry.Path,
  };
  if (entry.AddedWithinDays != 0)
    lines.push_back(std::string(kAddedWithinDaysKey) + "=" +
                    std::to_string(entry.AddedWithinDays));
  return lines;
}

std::string KeyValue(const std::vector<std::string>& lines,
                     const std::string& key) {
  for (const std::string& line : lines) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && EqualsNoCase(line.substr(0, eq), key)) {
      return line.substr(eq + 1);
    }
  }
  return {};
}

MoveParam SplitMoveParam(const std::string& param) {
  MoveParam result;
  const size_t at = param.find(kMoveSeparator);
  if (at == std::string::npos) {
    result.mode = param;
    return result;
  }
  result.hasTarget = true;
  result.mode = param.substr(0, at);
  result.target = param.substr(at + std::strlen(kMoveSeparator));
  return result;
}

std::string JoinMoveParam(const std::string& mode, const std::string& target) {
  return mode + kMoveSeparator + target;
}

// --- Whole files -----------------------------------------------------------

bool WriteConfigFile(const std::string& fileName,
                     const std::vector<AreaConfigEntry>& entries,
                     std::string& message) {
  const std::string cannotSave = "Could not save config file: " + fileName;
  // Replacing the file must not get round a file the operator protected.
  const std::string existing = ResolveExisting(fileName);
  if (!existing.empty()) {
    if (!File::Open(existing, OpenFlags::Write)) {
      message = cannotSave;
      return false;
    }
  }
  AtomicWriter writer;
  if (!writer.Open(fileName)) {
    message = cannotSave;
    return false;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ConfigRecord record = EncodeEntry(entries[i]);
    uint32_t done = 0;
    if (!writer.Write(record.data(), kConfigRecordSize, done) ||
        done != kConfigRecordSize) {
      writer.Abandon();
      message = "Error Adding record #" + std::to_string(i);
      return false;
    }
  }
  if (!writer.Commit()) {
    message = cannotSave;
    return false;
  }
  return true;
}

ReadResult ReadConfigFile(
    RecordFile& file, const std::string& fileName,
    const std::function<bool(const AreaConfigEntry&, int k)>& onEntry,
    const std::function<bool(int k)>& beforeRecord) {
  ReadResult result;
  if (!file.OpenForReading(fileName)) return result;
  result.opened = true;
  // An error escaping a handler still closes the file.
  struct Closer {
    RecordFile& file;
    ~Closer() { file.Close(); }
  } closer{file};

  result.recordCount = file.RecordCount();
  for (int k = 1; k <= result.recordCount; ++k) {
    if (beforeRecord && !beforeRecord(k)) break;
    ConfigRecord record{};
    if (!file.Read(k, record.data())) continue;
    const AreaConfigEntry entry = DecodeEntry(record);
    // The host must still have the area the record names.
    TFileArea area{};
    if (!MwGetFileAreas(entry.AreaNum, 1, &area)) continue;
    ++result.entriesRead;
    if (onEntry && !onEntry(entry, k)) break;
  }
  return result;
}

}  // namespace qm
