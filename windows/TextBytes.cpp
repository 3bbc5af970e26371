#include "windows/TextBytes.h"

namespace qm::gui {

namespace {

// A variation selector: drawn as nothing, and with no meaning after a Latin
// letter, so it cannot stand for anything a stored text means to say.
constexpr char32_t kByteMark = 0xFE00;

qm::Charset shownCharset = qm::Charset::Windows1252;

}  // namespace

void SetShownCharset(qm::Charset charset) { shownCharset = charset; }
qm::Charset ShownCharset() { return shownCharset; }

QString ToText(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  // A stored mark is itself shown byte by byte, so that every mark in the
  // window stands for exactly one byte.
  for (const qm::ShownChar& c :
       qm::ShowStored(bytes, shownCharset, kByteMark)) {
    text.append(QString::fromUcs4(&c.point, 1));
    if (c.byte) text.append(QChar(static_cast<char16_t>(kByteMark)));
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
      if (const int byte = qm::StoredByteOf(point, shownCharset); byte >= 0) {
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
    qm::AppendUtf8(bytes, point);
  }
  return bytes;
}

}  // namespace qm::gui
