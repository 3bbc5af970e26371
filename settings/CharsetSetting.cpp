#include "settings/CharsetSetting.h"

namespace qm {

namespace {
constexpr const char* kSection = "Extras";
constexpr const char* kKey = "Charset";
}  // namespace

Charset ReadCharset(const IniFile& settings) {
  return CharsetFromText(settings.ReadString(kSection, kKey, ""));
}

void WriteCharset(IniFile& settings, Charset charset) {
  // Left off, the extra leaves the settings file as it was.
  if (charset == Charset::Windows1252 &&
      settings.ReadString(kSection, kKey, "").empty())
    return;
  settings.WriteString(kSection, kKey, CharsetText(charset));
}

}  // namespace qm
