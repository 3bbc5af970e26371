#include "settings/Extras.h"

#include "platform/Paths.h"

namespace qm {

namespace {

// No value read from a file can hold this byte.
constexpr char kMissing[] = "\n";

bool HasKey(const IniFile& settings, const char* key) {
  return settings.ReadString(kExtrasSection, key, kMissing) != kMissing;
}

}  // namespace

std::string DuplicateModeText(DuplicateMode mode) {
  switch (mode) {
    case DuplicateMode::Report:
      return "Report";
    case DuplicateMode::Refuse:
      return "Refuse";
    case DuplicateMode::Off:
      break;
  }
  return "Off";
}

DuplicateMode DuplicateModeFromText(const std::string& text) {
  if (EqualsNoCase(text, "Report")) return DuplicateMode::Report;
  if (EqualsNoCase(text, "Refuse")) return DuplicateMode::Refuse;
  return DuplicateMode::Off;
}

ExtrasSettings ReadExtras(const IniFile& settings) {
  ExtrasSettings extras;
  extras.duplicates = DuplicateModeFromText(
      settings.ReadString(kExtrasSection, "Duplicates", "Off"));
  extras.uploadCheck =
      Trim(settings.ReadString(kExtrasSection, "UploadCheck", ""));
  const int seconds = settings.ReadInteger(kExtrasSection, "UploadCheckSeconds",
                                           kDefaultUploadCheckSeconds);
  extras.uploadCheckSeconds =
      seconds > 0 ? seconds : kDefaultUploadCheckSeconds;
  return extras;
}

void WriteExtras(IniFile& settings, const ExtrasSettings& extras) {
  const ExtrasSettings stored = ReadExtras(settings);
  const ExtrasSettings defaults;
  auto write = [&](const char* key, bool differsFromStored,
                   bool differsFromDefault, const std::string& text) {
    if (HasKey(settings, key) ? differsFromStored : differsFromDefault)
      settings.WriteString(kExtrasSection, key, text);
  };
  write("Duplicates", extras.duplicates != stored.duplicates,
        extras.duplicates != defaults.duplicates,
        DuplicateModeText(extras.duplicates));
  write("UploadCheck", extras.uploadCheck != stored.uploadCheck,
        !extras.uploadCheck.empty(), extras.uploadCheck);
  write("UploadCheckSeconds",
        extras.uploadCheckSeconds != stored.uploadCheckSeconds,
        extras.uploadCheckSeconds != defaults.uploadCheckSeconds,
        std::to_string(extras.uploadCheckSeconds));
}

}  // namespace qm
