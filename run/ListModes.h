// The layouts a "List" entry can write, in the order the configuration
// tool offers them. A stored mode no row names writes "Double", as it
// always has. Each row needs its writer: a web layout in
// actions/WebListing.cpp or a text layout in actions/ListAction.cpp.
#pragma once

#include <string>

namespace qm {

enum class ListMode { Single, Double, Full, Html, Json };

struct ListModeRow {
  const char* name;  // as stored in FileActionParam and offered by the tool
  ListMode mode;
};

inline constexpr ListModeRow kListModes[] = {
    {"Single", ListMode::Single}, {"Double", ListMode::Double},
    {"Full", ListMode::Full},     {"HTML", ListMode::Html},
    {"JSON", ListMode::Json},
};

// A listing may hold only the files added within this many days before the
// run's start (0: every file).
inline constexpr int kMostAddedWithinDays = 36500;

inline ListMode StoredListMode(const std::string& name) {
  for (const ListModeRow& row : kListModes)
    if (name == row.name) return row.mode;
  return ListMode::Double;
}

}  // namespace qm
