// Stored 8-bit texts (names, descriptions: bytes in any code page) as
// Unicode characters, for the windows and the web listings. Valid UTF-8 is
// taken as such; other bytes are taken in the chosen code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum class Charset { Windows1252, Cp437 };

struct ShownChar {
  char32_t point = 0;
  bool byte = false;  // stands for one stored byte that is not UTF-8
};

// Windows-1252: each byte outside a valid UTF-8 sequence is shown as its
// Windows Latin-1 character. CP437: a text that is not valid UTF-8 as a whole
// is drawn as DOS drew it, every byte but NUL as its code page 437 character.
// byteWise, when not 0, is a code point whose UTF-8 bytes are taken byte by
// byte even where they are valid.
std::vector<ShownChar> ShowStored(std::string_view bytes, Charset charset,
                                  char32_t byteWise = 0);
// The lines of one stored text (a description) as a listing shows them.
// Windows-1252: each line as ShowStored shows it. CP437: the text is read
// as UTF-8 only when all its lines are, and its control bytes are drawn as
// DOS drew them in UTF-8 text too, but CR and LF stay line breaks.
std::vector<std::vector<ShownChar>> ShowStoredLines(
    const std::vector<std::string>& lines, Charset charset);
// The byte a character with byte set stands for, or -1.
int StoredByteOf(char32_t point, Charset charset);

// The code point of a valid, shortest UTF-8 sequence at the start of bytes
// and its length; length 0 when the bytes there are not one.
struct Utf8Char {
  char32_t point = 0;
  size_t length = 0;
};
Utf8Char DecodeUtf8(std::string_view bytes);
void AppendUtf8(std::string& out, char32_t point);

// Shown characters as UTF-8.
std::string ShownToUtf8(const std::vector<ShownChar>& shown);

}  // namespace qm
