#include "server/HostVolumes.h"

#include "platform/FieldText.h"
#include "platform/Paths.h"

namespace qm {

std::optional<TFileVolume> FindVolume(const std::string& name) {
  const int32_t count = MwGetFileVolumeCount();
  for (int32_t i = 0; i < count; ++i) {
    TFileVolume volume{};
    if (!MwGetFileVolumes(i, 1, &volume)) continue;
    if (EqualsNoCase(FieldText(volume.Name), name)) return volume;
  }
  return std::nullopt;
}

std::optional<TFileVolume> VolumeOfAreaPath(const std::string& hostPath) {
  if (hostPath.empty() || hostPath[0] != '[') return std::nullopt;
  const size_t close = hostPath.find(']');
  if (close == std::string::npos) return std::nullopt;
  return FindVolume(hostPath.substr(1, close - 1));
}

}  // namespace qm
