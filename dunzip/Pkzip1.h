// Decoders for the PKZIP 1 compression methods that libzip does not read:
// shrink (1), reduce (2 to 5) and implode (6), as the ZIP application note
// describes them. Output stops at the member's declared size.
#pragma once

#include <cstdint>
#include <string>

namespace dz {

bool IsPkzip1Method(int32_t method);

// Decodes a member's compressed bytes into exactly `size` bytes (the
// caller caps it); false with a reason when the data runs out or is
// inconsistent. `flags` is the member's general-purpose bit flag.
bool DecodePkzip1(int32_t method, uint16_t flags, const std::string& packed,
                  size_t size, std::string& out, std::string& reason);

}  // namespace dz
