// The configuration file: record decoding, the marker test and the reader
// with its host check, on arbitrary bytes.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "fuzz/FuzzSupport.h"

using qmfuzz::Check;

namespace {

// Areas the host has; records naming others are skipped by the reader.
const std::set<int32_t> kHostAreas = {0, 1, 5, 12};

bool NoNul(const std::string& text) {
  return text.find('\0') == std::string::npos;
}

void CheckDecoded(const qm::AreaConfigEntry& e) {
  Check(e.AreaName.size() <= 32 && e.FileAction.size() <= 33 &&
            e.FileActionParam.size() <= 33 && e.FileActionSpec.size() <= 261 &&
            e.DescAction.size() <= 33 && e.DescActionSpec.size() <= 261 &&
            e.Path.size() <= 261 && e.Volume.size() <= 16,
        "decoded texts stay inside their fields");
  Check(NoNul(e.AreaName) && NoNul(e.FileAction) && NoNul(e.FileActionParam) &&
            NoNul(e.FileActionSpec) && NoNul(e.DescAction) &&
            NoNul(e.DescActionSpec) && NoNul(e.Path) && NoNul(e.Volume),
        "decoded texts stop at their first NUL");

  // Writing a decoded entry keeps what fits the written field.
  const qm::AreaConfigEntry w = qm::DecodeEntry(qm::EncodeEntry(e));
  Check(w.AreaNum == e.AreaNum && w.Offline == e.Offline &&
            w.AreaName == e.AreaName && w.Volume == e.Volume &&
            w.FileActionParam == e.FileActionParam &&
            w.FileAction == e.FileAction.substr(0, 32) &&
            w.FileActionSpec == e.FileActionSpec.substr(0, 260) &&
            w.DescAction == e.DescAction.substr(0, 32) &&
            w.DescActionSpec == e.DescActionSpec.substr(0, 260) &&
            w.Path == e.Path.substr(0, 260),
        "encode then decode keeps every field that fits");
  const qm::ConfigRecord record = qm::EncodeEntry(w);
  Check(qm::DecodeEntry(record).Path == w.Path && record[9] == '\r' &&
            record[10] == 0,
        "a written record decodes to itself and carries the marker");

  // The run driver looks values up by key, whatever the value holds.
  const std::vector<std::string> lines = qm::EntryKeyLines(e);
  // A ninth names the days of a new-files listing, only when there are any.
  Check(lines.size() == (e.AddedWithinDays != 0 ? 9u : 8u),
        "eight key lines, a ninth with days");
  Check(qm::KeyValue(lines, "areanum") == std::to_string(e.AreaNum) &&
            qm::KeyValue(lines, "AREANAME") == e.AreaName &&
            qm::KeyValue(lines, "FileAction") == e.FileAction &&
            qm::KeyValue(lines, "fileactionparam") == e.FileActionParam &&
            qm::KeyValue(lines, "FileActionSpec") == e.FileActionSpec &&
            qm::KeyValue(lines, "DescAction") == e.DescAction &&
            qm::KeyValue(lines, "DescActionSpec") == e.DescActionSpec &&
            qm::KeyValue(lines, "Path") == e.Path,
        "key lines give back every field");

  const qm::MoveParam move = qm::SplitMoveParam(e.FileActionParam);
  if (move.hasTarget) {
    Check(qm::JoinMoveParam(move.mode, move.target) == e.FileActionParam,
          "a split move parameter joins back");
    Check(move.mode.find(qm::kMoveSeparator) == std::string::npos,
          "the move value ends at the first separator");
  } else {
    Check(move.mode == e.FileActionParam, "no separator: all is the value");
  }
}

// The first line, up to CR or control-Z, is the marker in any letter case.
bool MarkerModel(const std::string& bytes) {
  const std::string line = bytes.substr(0, bytes.find_first_of("\r\x1a"));
  const std::string marker = "[FileCHK]";
  if (line.size() != marker.size()) return false;
  for (size_t i = 0; i < line.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(marker[i])))
      return false;
  return true;
}

void CheckFile(const std::string& bytes) {
  static const std::string path = qmfuzz::Workspace() + "/nightly.cfg";
  qmtest::WriteFile(path, bytes);

  bool ioError = true;
  Check(qm::IsConfigFile(path, &ioError) == MarkerModel(bytes), "marker test");
  Check(!ioError, "no I/O error on a readable file");

  const int n = static_cast<int>(bytes.size() / qm::kConfigRecordSize);
  int expected = 0;
  for (int k = 1; k <= n; ++k) {
    const auto* r = reinterpret_cast<const uint8_t*>(bytes.data()) +
                    size_t(k - 1) * qm::kConfigRecordSize;
    if (kHostAreas.contains(qm::DecodeEntry(r).AreaNum)) ++expected;
  }
  qm::RecordFile file;
  int lastK = 0, handed = 0, asked = 0;
  const qm::ReadResult result = qm::ReadConfigFile(
      file, path,
      [&](const qm::AreaConfigEntry& entry, int k) {
        Check(k > lastK && k <= n, "entries come in record order");
        Check(kHostAreas.count(entry.AreaNum) == 1,
              "only entries of areas the host has are handed on");
        lastK = k;
        ++handed;
        return true;
      },
      [&](int k) {
        Check(k == asked + 1, "every record position is looked at");
        asked = k;
        return true;
      });
  Check(result.opened && result.recordCount == n && asked == n,
        "record count is the size divided by 1064");
  Check(result.entriesRead == expected && handed == expected,
        "every record naming a host area is read");
  Check(!file.IsOpen(), "the reader closes the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader only asks whether areas exist: one login serves every input.
  // It is never destroyed, since the host's own state may be gone before
  // it at exit.
  static const auto* session =
      new qmfuzz::HostSession(qmfuzz::FuzzHost({{0, "Uploads", "files0"},
                                                {1, "Games", "files1"},
                                                {5, "Utilities", "files5"},
                                                {12, "Archive", "files12"}}));
  (void)session;
  for (size_t at = 0; at + qm::kConfigRecordSize <= size;
       at += qm::kConfigRecordSize)
    CheckDecoded(qm::DecodeEntry(data + at));
  CheckFile(qmfuzz::Bytes(data, size));
  return 0;
}
