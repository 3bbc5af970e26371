// Archives written byte by byte: LHA and ZOO, which no Debian tool makes,
// and for hostile uploads ARC of a million members and 7z (a solid block
// of gigabytes of zeros in a few hundred KiB, headers naming millions of
// files), which no tool makes in reasonable time.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

// An LHA archive of stored (-lh0-) members under level 0 headers; names
// are bytes.
std::string Lzh(
    const std::vector<std::pair<std::string, std::string>>& members);

// An ARC archive of stored members (names of at most 12 bytes), then
// `emptyFiles` empty ones.
std::string Arc(const std::vector<std::pair<std::string, std::string>>& members,
                size_t emptyFiles = 0);
// A ZOO archive of stored members (names of at most 12 bytes).
std::string Zoo(
    const std::vector<std::pair<std::string, std::string>>& members);

struct SevenZipMember {
  std::string name;  // bytes, taken as Latin-1 for the UTF-16 name
  std::string data;
  uint64_t zeros = 0;  // zero bytes after data (one member at most)
};

// First `emptyFiles` empty files all named `emptyName`, then the members,
// whose bytes form one solid LZMA2 block in their order. The header is
// LZMA2-packed too. Many zeros come out within 2 MiB of the number asked.
void MakeSevenZip(const std::string& path,
                  const std::vector<SevenZipMember>& members,
                  uint64_t emptyFiles = 0, const std::string& emptyName = "a");

}  // namespace qmtest
