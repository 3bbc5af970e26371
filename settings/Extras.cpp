#include "settings/Extras.h"

#include <optional>

#include "platform/Paths.h"
#include "run/Archivers.h"
#include "run/Extras.h"

namespace qm {

namespace {

template <typename Enum>
struct Named {
  Enum value;
  const char* text;
};

constexpr Named<DuplicateMode> kDuplicateModes[] = {
    {DuplicateMode::Off, "Off"},
    {DuplicateMode::Report, "Report"},
    {DuplicateMode::Refuse, "Refuse"}};

constexpr Named<bool> kOffOn[] = {{false, "Off"}, {true, "On"}};

constexpr Named<Charset> kCharsets[] = {{Charset::Windows1252, "Windows-1252"},
                                        {Charset::Cp437, "CP437"}};

constexpr Named<AnsiMode> kAnsiModes[] = {{AnsiMode::Keep, "Keep"},
                                          {AnsiMode::Text, "Text"}};

constexpr Named<ListDialects> kListDialects[] = {{ListDialects::Off, "Off"},
                                                 {ListDialects::Auto, "Auto"}};

template <typename Enum, size_t N>
std::string TextOf(const Named<Enum> (&names)[N], Enum value) {
  for (const auto& name : names)
    if (name.value == value) return name.text;
  return names[0].text;
}

template <typename Enum, size_t N>
bool Take(const Named<Enum> (&names)[N], const std::string& text, Enum& value) {
  for (const auto& name : names) {
    if (EqualsNoCase(Trim(text), name.text)) {
      value = name.value;
      return true;
    }
  }
  return false;
}

template <typename Enum, size_t N>
std::vector<std::string> TextsOf(const Named<Enum> (&names)[N]) {
  std::vector<std::string> texts;
  for (const auto& name : names) texts.push_back(name.text);
  return texts;
}

std::optional<int> WholeNumber(const std::string& text, int minimum,
                               int maximum) {
  // Nine digits at most, so the number fits an int.
  const auto digits = DecimalNumber(text, 9);
  if (!digits) return std::nullopt;
  const int value = static_cast<int>(*digits);
  if (value < minimum || value > maximum) return std::nullopt;
  return value;
}

constexpr int kMostUploadCheckSeconds = 86400;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
    const size_t end = text.find_first_of(" \t", at);
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += (text.empty() ? "" : " ") + word;
  return text;
}

// A row whose value is one of names' texts, kept in field.
template <auto Field, const auto& Names>
ExtraKey ChoiceKey(const char* key, const char* group, const char* label,
                   const char* objectName, const char* toolTip) {
  return {key,
          group,
          label,
          objectName,
          toolTip,
          ExtraControl::Choice,
          TextsOf(Names),
          0,
          0,
          [](const ExtrasSettings& e) { return TextOf(Names, e.*Field); },
          [](ExtrasSettings& e, const std::string& text) {
            return Take(Names, text, e.*Field);
          }};
}

// A row whose value is a line of text, kept in field without blanks at
// either end.
template <auto Field>
ExtraKey TextKey(const char* key, const char* group, const char* label,
                 const char* objectName, const char* toolTip) {
  return {key,
          group,
          label,
          objectName,
          toolTip,
          ExtraControl::Text,
          {},
          0,
          0,
          [](const ExtrasSettings& e) { return e.*Field; },
          [](ExtrasSettings& e, const std::string& text) {
            e.*Field = Trim(text);
            return true;
          }};
}

}  // namespace

const std::vector<ExtraKey>& ExtraKeys() {
  using E = ExtrasSettings;
  static const std::vector<ExtraKey> keys = {
      ChoiceKey<&E::duplicates, kDuplicateModes>(
          "Duplicates", "Uploads", "Duplicate uploads:", "cb_Duplicates",
          "An upload whose content a stored file already has is reported in "
          "the run log, or refused."),
      TextKey<&E::uploadCheck>(
          "UploadCheck", "Uploads",
          "Upload check (%f: the file):", "e_UploadCheck",
          "A command run on every upload before it is added, such as a virus "
          "scanner; an upload it does not pass with exit code 0 is refused."),
      {"UploadCheckSeconds",
       "Uploads",
       "Upload check time limit (s):",
       "e_UploadCheckSeconds",
       "An upload check that runs longer is stopped and the upload refused.",
       ExtraControl::Number,
       {},
       1,
       kMostUploadCheckSeconds,
       [](const ExtrasSettings& e) {
         return std::to_string(e.uploadCheckSeconds);
       },
       [](ExtrasSettings& e, const std::string& text) {
         const auto seconds = WholeNumber(text, 1, kMostUploadCheckSeconds);
         if (seconds) e.uploadCheckSeconds = *seconds;
         return seconds.has_value();
       }},
      ChoiceKey<&E::charset, kCharsets>(
          "Charset", "DOS Text", "Text that is not UTF-8:", "cb_Charset",
          "How descriptions that are not UTF-8 are shown in the windows and "
          "written into the HTML and JSON listings. Stored bytes never "
          "change."),
      TextKey<&E::refusedFolder>(
          "RefusedFolder", "Uploads",
          "Folder for refused uploads:", "e_RefusedFolder",
          "Uploads refused as duplicates or by the upload check are moved "
          "into this folder, never replacing a file there. Empty: they stay "
          "where they are."),
      ChoiceKey<&E::ansiDescriptions, kAnsiModes>(
          "AnsiDescriptions", "Descriptions",
          "ANSI descriptions:", "cb_AnsiDescriptions",
          "Text: a description member with ANSI colours and cursor moves is "
          "stored as the text it shows, without the escape sequences and the "
          "SAUCE record."),
      ChoiceKey<&E::filesBbsDialects, kListDialects>(
          "FilesBbsDialects", "Descriptions",
          "FILES.BBS layouts:", "cb_FilesBbsDialects",
          "Auto: a FILES.BBS list written with download counters, sizes or "
          "dates is read in that layout, so these columns stay out of the "
          "descriptions and a listed date becomes the file's date."),
      {"DescriptionFallback",
       "Descriptions",
       "Other description members:",
       "e_DescriptionFallback",
       "Members tried in this order, separated by blanks, when an archive "
       "has no description in the member its entry names "
       "(DESC.SDI FILE_ID.ANS, say).",
       ExtraControl::Text,
       {},
       0,
       0,
       [](const ExtrasSettings& e) { return Joined(e.descriptionFallback); },
       [](ExtrasSettings& e, const std::string& text) {
         e.descriptionFallback = Words(text);
         return true;
       }},
      ChoiceKey<&E::newFilesListings, kOffOn>(
          "NewFilesListings", "Listings",
          "Listings of new files:", "cb_NewFilesListings",
          "On: the File Area Setup dialog lets a List entry list only the "
          "files added in the last days."),
      TextKey<&E::archivers>(
          "Archivers", "Archives", "Archivers (names):", "e_Archivers",
          "Archive programs to read descriptions from formats the program "
          "does not read itself, by name: ARJ ARC PAK ZOO ACE, or a section "
          "[Archiver NAME] of the settings file."),
  };
  return keys;
}

std::string DefaultText(const ExtraKey& row) {
  return row.text(ExtrasSettings{});
}

std::vector<ArchiverSection> ReadArchiverSections(const IniFile& settings) {
  std::vector<ArchiverSection> sections;
  const std::string prefix = "Archiver ";
  for (const std::string& name : settings.SectionNames()) {
    if (name.size() <= prefix.size() ||
        !EqualsNoCase(name.substr(0, prefix.size()), prefix))
      continue;
    ArchiverSection section;
    section.name = Trim(name.substr(prefix.size()));
    section.signature = settings.ReadFromAnySection(name, "Signature");
    section.list = settings.ReadFromAnySection(name, "List");
    section.extract = settings.ReadFromAnySection(name, "Extract");
    sections.push_back(std::move(section));
  }
  return sections;
}

ExtrasSettings ReadExtras(const IniFile& settings) {
  ExtrasSettings extras;
  for (const ExtraKey& row : ExtraKeys()) {
    const auto text = settings.ReadFromAnySection(kExtrasSection, row.key);
    // An empty value is the key left blank: its default.
    if (!text || Trim(*text).empty() || row.take(extras, *text)) continue;
    extras.notUnderstood.push_back(
        std::string("Extras setting not understood: ") + row.key + "=" + *text +
        " (" + row.text(extras) + " used)");
  }
  extras.archiverSections = ReadArchiverSections(settings);
  (void)ArchiversInEffect(extras, &extras.notUnderstood);
  return extras;
}

void WriteExtras(IniFile& settings, const ExtrasSettings& extras) {
  const ExtrasSettings stored = ReadExtras(settings);
  const ExtrasSettings defaults;
  for (const ExtraKey& row : ExtraKeys()) {
    const std::string text = row.text(extras);
    const bool present =
        settings.ReadFromAnySection(kExtrasSection, row.key).has_value();
    if (text != row.text(present ? stored : defaults))
      settings.WriteString(kExtrasSection, row.key, text);
  }
}

}  // namespace qm
