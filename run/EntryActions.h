// The actions a configuration entry can name, in the order the
// configuration tool offers them, with the label a run lights for each.
// The tool's setup (config/AreaPaths.cpp) and the run's dispatch
// (runner/RunDriver.cpp) switch on the enum.
#pragma once

#include <string>

namespace qm {

enum class ActionLabel { None, Add, Delete, Move };

enum class EntryAction { None, Add, Delete, List, Move };

struct EntryActionRow {
  const char* name;  // as stored in FileAction
  EntryAction action;
  ActionLabel label;
};

inline constexpr EntryActionRow kEntryActions[] = {
    {"NA", EntryAction::None, ActionLabel::None},
    {"Add", EntryAction::Add, ActionLabel::Add},
    {"Delete", EntryAction::Delete, ActionLabel::Delete},
    {"List", EntryAction::List, ActionLabel::None},
    {"Move", EntryAction::Move, ActionLabel::Move},
};

// The row of a stored action; null for a text no row names.
inline const EntryActionRow* FindEntryAction(const std::string& name) {
  for (const EntryActionRow& row : kEntryActions)
    if (name == row.name) return &row;
  return nullptr;
}

// The action of a stored text; None for a text no row names.
inline EntryAction StoredEntryAction(const std::string& name) {
  const EntryActionRow* row = FindEntryAction(name);
  return row != nullptr ? row->action : EntryAction::None;
}

}  // namespace qm
