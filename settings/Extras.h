// The extras' settings in the settings file's section [Extras]: one row per
// key, which the setup dialog's Extras page shows as its control says.
#pragma once

#include <string>
#include <vector>

#include "settings/IniFile.h"

namespace qm {

struct ExtrasSettings;   // run/Extras.h
struct ArchiverSection;  // run/DescriptionExtras.h

inline constexpr char kExtrasSection[] = "Extras";

enum class ExtraControl {
  Choice,  // one of the row's value texts
  Text,    // a line of text
  Number,  // a whole number from minimum to maximum
};

struct ExtraKey {
  const char* key;
  const char* group;       // the box on the Extras page that holds it
  const char* label;       // beside its control
  const char* objectName;  // of its control
  const char* toolTip;
  ExtraControl control;
  std::vector<std::string> choices;  // Choice: the value texts
  int minimum = 0, maximum = 0;      // Number
  // The value as the settings file holds it.
  std::string (*text)(const ExtrasSettings& extras);
  // Takes a value from the file; false, changing nothing, when it is not
  // understood.
  bool (*take)(ExtrasSettings& extras, const std::string& text);
};

// In the order the Extras page shows them.
const std::vector<ExtraKey>& ExtraKeys();
// The value a row has when the settings file does not give it.
std::string DefaultText(const ExtraKey& row);

// A key may stand in any [Extras] section of the file; a missing key, or a
// value not understood, gives its default (the latter with a line in
// notUnderstood).
ExtrasSettings ReadExtras(const IniFile& settings);
// The settings file's [Archiver NAME] sections.
std::vector<ArchiverSection> ReadArchiverSections(const IniFile& settings);
// Writes a key only when its value changes what the file says, so a file
// without [Extras] stays as it is while every extra stays off. Throws
// SettingsWriteError.
void WriteExtras(IniFile& settings, const ExtrasSettings& extras);

}  // namespace qm
