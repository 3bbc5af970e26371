// The configuration tool's view of the host's file areas: resolved local
// paths, volumes, drive-letter mapping, the rows a new list starts with and
// the settings the file area setup dialog offers per action.
// Usage: auto rows = qm::FillFromHost(state.homeDir);  // needs a login
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "server/HostVolumes.h"
#include "server/WcApi.h"

namespace qm {

// Texts of the list's "Path", "Volume" and "Offline" columns.
struct ResolvedAreaPath {
  std::string Path;
  std::string Volume;   // the volume's name as the host spells it, or "NA"
  std::string Offline;  // "Yes" or "No"
};

// A host area path (drive path, "[VOLUME]\dir" or relative to homeDir)
// as a local directory. Looks volumes up with the host (needs a login).
ResolvedAreaPath ResolveAreaPath(const std::string& hostPath,
                                 const std::string& homeDir);

// The letter followed by the real path without its first character.
std::string MapDriveLetter(const std::string& letter,
                           const std::string& realPath);

// One "NA" row per host area with a non-empty path, in area order. Gives
// homeDir a trailing separator first (an empty one stays empty).
std::vector<AreaConfigEntry> FillFromHost(std::string& homeDir);

// The host's record of an area; nullopt when the host has no such area.
std::optional<TFileArea> HostArea(int32_t number);

// Move targets: "N:name" for every named host area other than exclude.
std::vector<std::string> MoveTargets(int32_t exclude);

// Texts of the "Offline" column and their meaning when saved.
std::string OfflineText(bool offline);
bool OfflineFromText(const std::string& text);

// What choosing an action in the file area setup dialog sets up.
struct ActionSetup {
  std::vector<std::string> params;  // the first one becomes the choice
  std::optional<std::string> spec;  // nullopt: the file spec is left as it is
  bool descEnabled = false;
  bool outputFile = false;  // "List": the group names the output file
  std::vector<std::string> descActions;  // items of the description combo
  std::string descAction;                // with the description spec below
  std::string descSpec;
  enum class Browse { Unchanged, Shown, Hidden } browse = Browse::Unchanged;
  bool target = false;           // the move target is offered
  bool addedWithinDays = false;  // "List": the day count is offered
};
// The five actions in the dialog's order.
const std::vector<std::string>& FileActions();
// The setup of one of the five actions; nullopt for any other text.
std::optional<ActionSetup> SetupForAction(const std::string& action);
// The clean-up choices of a "Delete" entry's description action.
inline constexpr char kOnlyMissingFiles[] = "Only Missing Files";
inline constexpr char kOnlyOlderThan[] = "Only Older Than";
// Whether reopening the dialog keeps an entry's description fields: always
// for "Add" and "List", for "Delete" only when they hold a clean-up.
bool KeepsDescription(const std::string& action, const std::string& descAction);
// Whether the browse button belongs to this action and parameter.
bool BrowseOffered(const std::string& action, const std::string& param);

// The dialog's values as the tool writes them back into rows.
struct AreaEdit {
  std::string action;
  std::string param;
  std::string target;  // used for "Move"
  std::string spec;
  std::string descAction;
  std::string descSpec;
  std::string path;         // the dialog's path text
  int addedWithinDays = 0;  // kept for "List" alone
};
// FileActionParam as stored: for "Move" with " >to> " and the target.
std::string EditedParam(const AreaEdit& edit);
// One selected row: every edited field and the path.
void ApplyEdit(AreaConfigEntry& entry, const AreaEdit& edit);
// One of several selected rows: the same fields; the path's first
// character becomes the edit's drive letter only when one was mapped.
void ApplyEditToMany(AreaConfigEntry& entry, const AreaEdit& edit,
                     bool driveMapped);

}  // namespace qm
