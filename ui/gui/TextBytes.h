// The one conversion between stored 8-bit texts (area names, paths, specs,
// descriptions: bytes in any code page) and the text the windows show.
// Valid UTF-8 is shown as such; every other byte is shown as its Windows
// Latin-1 character followed by an invisible mark, by which it finds its way
// back. ToBytes(ToText(b)) == b for every byte string; what is typed is
// stored as UTF-8.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qm::gui {

QString ToText(std::string_view bytes);
std::string ToBytes(const QString& text);

}  // namespace qm::gui
