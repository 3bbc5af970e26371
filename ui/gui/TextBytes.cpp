#include "ui/gui/TextBytes.h"

namespace qm::gui {

namespace {

// A variation selector: drawn as nothing, and with no meaning after a Latin
// letter, so it cannot stand for anything a stored text means to say.
constexpr char32_t kByteMark = 0xFE00;

// How a byte that is no UTF-8 is shown: its Windows Latin-1 character
// (Latin-1 from 0xA0; the five bytes that code page leaves out as they are).
constexpr char16_t kShown80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Shown(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kShown80[byte - 0x80] : byte;
}

// The byte a character followed by the mark stands for, or -1.
int ShownByte(char16_t shown) {
  if (shown >= 0xA0 && shown <= 0xFF) return shown;
  for (int i = 0; i < 32; ++i)
    if (kShown80[i] == shown) return 0x80 + i;
  return -1;
}

// The code point of a valid, shortest UTF-8 sequence at the start of bytes,
// and its length; 0 when the bytes there are not one.
struct Decoded {
  char32_t point = 0;
  size_t length = 0;
};

Decoded DecodeUtf8(std::string_view bytes) {
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

}  // namespace

QString ToText(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  while (!bytes.empty()) {
    const Decoded decoded = DecodeUtf8(bytes);
    // A stored mark is itself shown byte by byte, so that every mark in
    // the window stands for exactly one byte.
    if (decoded.length > 0 && decoded.point != kByteMark) {
      text.append(QString::fromUcs4(&decoded.point, 1));
      bytes.remove_prefix(decoded.length);
    } else {
      text.append(QChar(Shown(static_cast<unsigned char>(bytes.front()))));
      text.append(QChar(static_cast<char16_t>(kByteMark)));
      bytes.remove_prefix(1);
    }
  }
  return text;
}

std::string ToBytes(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    char32_t point = text[i].unicode();
    if (i + 1 < size && text[i + 1].unicode() == kByteMark) {
      if (const int byte = ShownByte(text[i].unicode()); byte >= 0) {
        bytes.push_back(static_cast<char>(byte));
        ++i;
        continue;
      }
    }
    if (text[i].isHighSurrogate() && i + 1 < size &&
        text[i + 1].isLowSurrogate()) {
      point = QChar::surrogateToUcs4(text[i], text[i + 1]);
      ++i;
    } else if (text[i].isSurrogate()) {
      point = QChar::ReplacementCharacter;  // typed or pasted half a pair
    }
    AppendUtf8(bytes, point);
  }
  return bytes;
}

}  // namespace qm::gui
