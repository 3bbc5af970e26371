#include "config/AreaPaths.h"

#include "platform/FieldText.h"
#include "platform/Paths.h"
#include "run/EntryActions.h"
#include "run/ListModes.h"

namespace qm {

ResolvedAreaPath ResolveAreaPath(const std::string& hostPath,
                                 const std::string& homeDir) {
  const ResolvedAreaPath unchanged{hostPath, "NA", "No"};
  if (IsDrivePath(hostPath)) return unchanged;
  if (!hostPath.empty() && hostPath[0] == '[') {
    auto volume = VolumeOfAreaPath(hostPath);
    if (!volume) return unchanged;
    const size_t close = hostPath.find(']');
    // The separator after "]" is dropped: the volume's path brings its own.
    const std::string rest =
        close + 2 < hostPath.size() ? hostPath.substr(close + 2) : "";
    return {FieldText(volume->Path) + rest, FieldText(volume->Name),
            OfflineText(volume->Offline != 0)};
  }
  return {homeDir + hostPath, "NA", "No"};
}

std::string MapDriveLetter(const std::string& letter,
                           const std::string& realPath) {
  return letter + (realPath.empty() ? "" : realPath.substr(1));
}

std::optional<TFileArea> HostArea(int32_t number) {
  TFileArea area{};
  if (!MwGetFileAreas(number, 1, &area)) return std::nullopt;
  return area;
}

std::vector<AreaConfigEntry> FillFromHost(std::string& homeDir) {
  homeDir = TrailingBackslash(homeDir);
  std::vector<AreaConfigEntry> rows;
  const int32_t count = GetFileAreaCount();
  for (int32_t n = 0; n < count; ++n) {
    auto area = HostArea(n);
    if (!area) continue;
    const std::string path = FieldText(area->Path);
    if (path.empty()) continue;
    AreaConfigEntry entry;
    entry.AreaNum = n;
    entry.AreaName = FieldText(area->Name);
    entry.FileAction = entry.FileActionParam = entry.FileActionSpec = "NA";
    entry.DescAction = entry.DescActionSpec = "NA";
    const ResolvedAreaPath resolved = ResolveAreaPath(path, homeDir);
    entry.Path = resolved.Path;
    entry.Volume = resolved.Volume;
    entry.Offline = OfflineFromText(resolved.Offline);
    rows.push_back(std::move(entry));
  }
  return rows;
}

std::vector<std::string> MoveTargets(int32_t exclude) {
  std::vector<std::string> targets;
  const int32_t count = GetFileAreaCount();
  for (int32_t n = 0; n < count; ++n) {
    if (n == exclude) continue;
    auto area = HostArea(n);
    if (!area) continue;
    const std::string name = FieldText(area->Name);
    if (!name.empty()) targets.push_back(std::to_string(n) + ":" + name);
  }
  return targets;
}

std::string OfflineText(bool offline) { return offline ? "Yes" : "No"; }

bool OfflineFromText(const std::string& text) {
  return UpperCase(text).find('Y') != std::string::npos;
}

const std::vector<std::string>& FileActions() {
  static const std::vector<std::string> actions = [] {
    std::vector<std::string> names;
    for (const EntryActionRow& row : kEntryActions) names.push_back(row.name);
    return names;
  }();
  return actions;
}

std::optional<ActionSetup> SetupForAction(const std::string& action) {
  const EntryActionRow* row = FindEntryAction(action);
  if (row == nullptr) return std::nullopt;
  ActionSetup setup;
  setup.descActions = {"NA", "Extract from ZIP"};
  setup.descAction = setup.descSpec = "NA";
  switch (row->action) {
    case EntryAction::None:
      setup.params = {"NA"};
      setup.spec = "NA";
      break;
    case EntryAction::Add:
      setup.params = {"Scan For New", "From File List"};
      setup.spec = "*.*";
      setup.descEnabled = true;
      setup.descAction = "Extract from ZIP";
      setup.descSpec = "file_id.diz";
      break;
    case EntryAction::Delete:
      setup.params = {"Delete and Remove", "Just Delete Files",
                      "Just Remove Records"};
      setup.spec = "*.*";
      setup.browse = ActionSetup::Browse::Shown;
      // Clean-up: the description fields, unused by the delete itself.
      setup.descEnabled = true;
      setup.descActions = {"NA", kOnlyMissingFiles, kOnlyOlderThan};
      break;
    case EntryAction::List:
      for (const ListModeRow& mode : kListModes)
        setup.params.push_back(mode.name);
      setup.spec = "*.*";
      setup.descEnabled = true;
      setup.outputFile = true;
      setup.descActions = {"Per File Area", "All Files List"};
      setup.descAction = "Per File Area";
      setup.descSpec = "Files.BBS";
      setup.browse = ActionSetup::Browse::Hidden;
      setup.addedWithinDays = true;
      break;
    case EntryAction::Move:
      setup.params = {"Files and Records", "Just Copy Files"};
      setup.browse = ActionSetup::Browse::Shown;
      setup.target = true;
      break;
  }
  return setup;
}

bool KeepsDescription(const std::string& action,
                      const std::string& descAction) {
  const EntryAction kind = StoredEntryAction(action);
  if (kind == EntryAction::Add || kind == EntryAction::List) return true;
  return kind == EntryAction::Delete &&
         (descAction == kOnlyMissingFiles || descAction == kOnlyOlderThan);
}

bool BrowseOffered(const std::string& action, const std::string& param) {
  const EntryAction kind = StoredEntryAction(action);
  return kind == EntryAction::Move || kind == EntryAction::Delete ||
         param == "From File List";
}

std::string EditedParam(const AreaEdit& edit) {
  if (StoredEntryAction(edit.action) == EntryAction::Move)
    return JoinMoveParam(edit.param, edit.target);
  return edit.param;
}

namespace {

void ApplyActionFields(AreaConfigEntry& entry, const AreaEdit& edit) {
  entry.FileAction = edit.action;
  entry.FileActionParam = EditedParam(edit);
  entry.FileActionSpec = edit.spec;
  entry.DescAction = edit.descAction;
  entry.DescActionSpec = edit.descSpec;
  entry.AddedWithinDays = StoredEntryAction(edit.action) == EntryAction::List
                              ? edit.addedWithinDays
                              : 0;
}

}  // namespace

void ApplyEdit(AreaConfigEntry& entry, const AreaEdit& edit) {
  ApplyActionFields(entry, edit);
  entry.Path = edit.path;
}

void ApplyEditToMany(AreaConfigEntry& entry, const AreaEdit& edit,
                     bool driveMapped) {
  ApplyActionFields(entry, edit);
  if (driveMapped && !edit.path.empty() && !entry.Path.empty())
    entry.Path = MapDriveLetter(edit.path.substr(0, 1), entry.Path);
}

}  // namespace qm
