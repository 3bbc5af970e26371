// "[Extras] Charset": the code page in which text that is not UTF-8 is shown
// in the windows and written into the web listings (Windows-1252 unless set).
#pragma once

#include "platform/StoredText.h"
#include "settings/IniFile.h"

namespace qm {

Charset ReadCharset(const IniFile& settings);
// Writes nothing for the default when the key is absent. Throws
// SettingsWriteError when the file cannot be written.
void WriteCharset(IniFile& settings, Charset charset);

}  // namespace qm
