#include "platform/StoredText.h"

#include <algorithm>

namespace qm {

namespace {

// Windows Latin-1 from 0x80 to 0x9F (Latin-1 from 0xA0; the five bytes that
// code page leaves out as they are).
constexpr char16_t kWindows80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 437 from 0x80: letters, box drawing, blocks, Greek and maths.
constexpr char16_t kDos80[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA,
    0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6,
    0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC,
    0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC,
    0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561,
    0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B,
    0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568,
    0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518,
    0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2,
    0x25A0, 0x00A0};

// The glyphs DOS drew for the control bytes 0x00 to 0x1F (NUL stays NUL).
constexpr char16_t kDosControls[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
constexpr char16_t kDosDelete = 0x2302;

char32_t WindowsChar(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kWindows80[byte - 0x80] : byte;
}

char32_t DosChar(unsigned char byte) {
  if (byte >= 0x80) return kDos80[byte - 0x80];
  if (byte < 0x20) return kDosControls[byte];
  return byte == 0x7F ? kDosDelete : byte;
}

bool IsUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t length = DecodeUtf8(bytes).length;
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

// A byte as DOS drew it; with breaks, CR and LF stay line breaks.
void AppendDos(std::vector<ShownChar>& shown, unsigned char byte, bool breaks) {
  const bool lineBreak = breaks && (byte == '\r' || byte == '\n');
  const char32_t point = lineBreak ? byte : DosChar(byte);
  shown.push_back({point, point != byte});
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view bytes) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(bytes[i]);
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t point = 0, lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, point = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, point = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, point = lead & 0x07, lowest = 0x10000;
  } else {
    return {};
  }
  if (bytes.size() < length) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    point = (point << 6) | (byte(i) & 0x3F);
  }
  if (point < lowest || point > 0x10FFFF ||
      (point >= 0xD800 && point <= 0xDFFF))
    return {};
  return {point, length};
}

void AppendUtf8(std::string& out, char32_t point) {
  const auto put = [&](unsigned value) {
    out.push_back(static_cast<char>(value));
  };
  if (point < 0x80) {
    put(point);
  } else if (point < 0x800) {
    put(0xC0 | (point >> 6));
    put(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    put(0xE0 | (point >> 12));
    put(0x80 | ((point >> 6) & 0x3F));
    put(0x80 | (point & 0x3F));
  } else {
    put(0xF0 | (point >> 18));
    put(0x80 | ((point >> 12) & 0x3F));
    put(0x80 | ((point >> 6) & 0x3F));
    put(0x80 | (point & 0x3F));
  }
}

std::vector<ShownChar> ShowStored(std::string_view bytes, Charset charset,
                                  char32_t byteWise) {
  std::vector<ShownChar> shown;
  shown.reserve(bytes.size());
  if (charset == Charset::Cp437 && !IsUtf8(bytes)) {
    for (const char c : bytes)
      AppendDos(shown, static_cast<unsigned char>(c), false);
    return shown;
  }
  const auto asByte = charset == Charset::Cp437 ? DosChar : WindowsChar;
  while (!bytes.empty()) {
    const Utf8Char decoded = DecodeUtf8(bytes);
    if (decoded.length > 0 && (byteWise == 0 || decoded.point != byteWise)) {
      shown.push_back({decoded.point, false});
      bytes.remove_prefix(decoded.length);
    } else {
      shown.push_back(
          {asByte(static_cast<unsigned char>(bytes.front())), true});
      bytes.remove_prefix(1);
    }
  }
  return shown;
}

std::vector<std::vector<ShownChar>> ShowStoredLines(
    const std::vector<std::string>& lines, Charset charset) {
  std::vector<std::vector<ShownChar>> shown;
  const bool utf8 =
      std::all_of(lines.begin(), lines.end(),
                  [](const std::string& line) { return IsUtf8(line); });
  for (const std::string& line : lines) {
    if (charset != Charset::Cp437) {
      shown.push_back(ShowStored(line, charset));
      continue;
    }
    std::vector<ShownChar>& drawn = shown.emplace_back();
    if (!utf8) {
      for (const char c : line)
        AppendDos(drawn, static_cast<unsigned char>(c), true);
      continue;
    }
    for (const ShownChar& c : ShowStored(line, charset)) {
      if (c.point < 0x20 || c.point == 0x7F)
        AppendDos(drawn, static_cast<unsigned char>(c.point), true);
      else
        drawn.push_back(c);
    }
  }
  return shown;
}

int StoredByteOf(char32_t point, Charset charset) {
  for (int byte = 1; byte < 256; ++byte) {
    const auto b = static_cast<unsigned char>(byte);
    const char32_t shown =
        charset == Charset::Cp437 ? DosChar(b) : WindowsChar(b);
    // Only bytes that are shown as another character come back this way.
    const bool drawn = charset == Charset::Cp437 ? shown != b : b >= 0x80;
    if (drawn && shown == point) return byte;
  }
  return -1;
}

std::string ShownToUtf8(const std::vector<ShownChar>& shown) {
  std::string text;
  text.reserve(shown.size());
  for (const ShownChar& c : shown) AppendUtf8(text, c.point);
  return text;
}

}  // namespace qm
