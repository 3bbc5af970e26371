// The extras' settings in the settings file's section [Extras].
#pragma once

#include <string>

#include "run/Extras.h"
#include "settings/IniFile.h"

namespace qm {

inline constexpr char kExtrasSection[] = "Extras";

// "Off", "Report", "Refuse"; any other text is Off.
std::string DuplicateModeText(DuplicateMode mode);
DuplicateMode DuplicateModeFromText(const std::string& text);

// A missing key, or a value that makes no sense, gives its default.
ExtrasSettings ReadExtras(const IniFile& settings);
// Writes a key only when its value changes what the file says, so a file
// without [Extras] stays as it is while every extra stays off. Throws
// SettingsWriteError.
void WriteExtras(IniFile& settings, const ExtrasSettings& extras);

}  // namespace qm
