// Reading the host's fixed-width records: their texts and the volume an
// area's path names.
// Usage: if (auto v = qm::VolumeOfAreaPath(qm::HostText(area.Path))) ...
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "server/WcApi.h"

namespace qm {

// A fixed-width host field's text, up to its NUL or the field's end.
std::string HostText(const char* field, size_t size);
template <size_t N>
std::string HostText(const char (&field)[N]) {
  return HostText(field, N);
}

// The first host volume whose name equals name without regard to case.
std::optional<TFileVolume> FindVolume(const std::string& name);

// The volume an area path "[VOLUME]\dir" names; nullopt for a drive or
// relative path and for a volume the host does not have.
std::optional<TFileVolume> VolumeOfAreaPath(const std::string& hostPath);

}  // namespace qm
