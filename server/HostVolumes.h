// The host's volumes: the one an area's path "[VOLUME]\dir" names.
// Usage: if (auto v = qm::VolumeOfAreaPath(qm::FieldText(area.Path))) ...
#pragma once

#include <optional>
#include <string>

#include "server/WcApi.h"

namespace qm {

// The first host volume whose name equals name without regard to case.
std::optional<TFileVolume> FindVolume(const std::string& name);

// The volume an area path "[VOLUME]\dir" names; nullopt for a drive or
// relative path and for a volume the host does not have.
std::optional<TFileVolume> VolumeOfAreaPath(const std::string& hostPath);

}  // namespace qm
