// The one conversion between stored 8-bit texts (area names, paths, specs,
// descriptions: bytes in any code page) and the text the windows show.
// Valid UTF-8 is shown as such; every other byte is shown as its character
// in the chosen code page (Windows Latin-1 unless DOS text is chosen)
// followed by an invisible mark, by which it finds its way back.
// ToBytes(ToText(b)) == b for every byte string; what is typed is stored as
// UTF-8.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/StoredText.h"

namespace qm::gui {

QString ToText(std::string_view bytes);
std::string ToBytes(const QString& text);

// The code page of the windows, for the whole process.
void SetShownCharset(qm::Charset charset);
qm::Charset ShownCharset();

}  // namespace qm::gui
