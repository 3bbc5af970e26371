// The area configuration file: fixed 1064-byte records, one per file area.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/File.h"

namespace qm {

constexpr int kConfigRecordSize = 1064;
using ConfigRecord = std::array<uint8_t, kConfigRecordSize>;

struct AreaConfigEntry {
  int32_t AreaNum = 0;
  std::string AreaName;
  std::string FileAction;
  std::string FileActionParam;
  std::string FileActionSpec;
  std::string DescAction;
  std::string DescActionSpec;
  std::string Path;
  std::string Volume;
  bool Offline = false;
  // "List": only files added within this many days; 0: all. Kept in the
  // 4 reserved bytes before DescAction, which are 0 in every other file.
  int32_t AddedWithinDays = 0;
};

// Fixed-size record file: at most one open file per instance.
class RecordFile {
 public:
  explicit RecordFile(int recordSize = kConfigRecordSize)
      : recordSize_(recordSize) {}
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // createFlag true: create anew (truncating). false: open an existing
  // file read-write; a missing one is created empty.
  bool Open(const std::string& fileName, bool createFlag);
  // Opens an existing file for reading only; never creates one.
  bool OpenForReading(const std::string& fileName);
  int RecordCount();
  bool Read(int k, void* buffer);  // records numbered from 1
  int Append(const void* buffer);  // new record count, 0 on failure
  bool Close();
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  File file_;
  int recordSize_;
  int count_ = 0;
};

ConfigRecord EncodeEntry(const AreaConfigEntry& entry);
AreaConfigEntry DecodeEntry(const ConfigRecord& record);
AreaConfigEntry DecodeEntry(const uint8_t* record);

// Marker test: the first line (up to CR or 0x1A) is "[FileCHK]" without
// regard to case. ioError is set when the file cannot be opened or read.
bool IsConfigFile(const std::string& fileName, bool* ioError = nullptr);

// The eight key lines; a List entry's day count, when set, as a ninth.
inline constexpr char kAddedWithinDaysKey[] = "AddedWithinDays";
std::vector<std::string> EntryKeyLines(const AreaConfigEntry& entry);
// Value of a key in key lines, key compared without regard to case.
std::string KeyValue(const std::vector<std::string>& lines,
                     const std::string& key);

// Move parameter: value + " >to> " + number + ":" + name.
constexpr const char* kMoveSeparator = " >to> ";
struct MoveParam {
  bool hasTarget = false;  // " >to> " found
  std::string mode;        // text before the separator (or all of it)
  std::string target;      // text after the separator
};
MoveParam SplitMoveParam(const std::string& param);
std::string JoinMoveParam(const std::string& mode, const std::string& target);

// Writes entries as a configuration file. The records go to a temporary
// file beside it that replaces the file only when complete, so a failed save
// leaves the old file as it was. On failure message holds the warning text
// ("Could not save config file: ..." or "Error Adding record #N").
bool WriteConfigFile(const std::string& fileName,
                     const std::vector<AreaConfigEntry>& entries,
                     std::string& message);

// Reads a configuration file record by record (opened for reading only),
// handing on each entry whose own AreaNum the host reports. beforeRecord is
// called before record k is looked at; false from it or from onEntry stops
// the walk. The file is closed on every way out.
struct ReadResult {
  bool opened = false;  // false: the file could not be opened for reading
  int recordCount = 0;  // N
  int entriesRead = 0;  // entries handed on
};
ReadResult ReadConfigFile(
    RecordFile& file, const std::string& fileName,
    const std::function<bool(const AreaConfigEntry&, int k)>& onEntry,
    const std::function<bool(int k)>& beforeRecord = {});

}  // namespace qm
