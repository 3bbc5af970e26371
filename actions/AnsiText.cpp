#include "actions/AnsiText.h"

#include <algorithm>

namespace qm {

namespace {

constexpr size_t kSauceSize = 128;
constexpr std::string_view kSauceId = "SAUCE00";
constexpr size_t kCommentCountAt = 104;
constexpr std::string_view kCommentId = "COMNT";
constexpr size_t kCommentLineSize = 64;
constexpr char kEscape = 0x1B;
constexpr char kEndOfFile = 0x1A;
constexpr size_t kLastColumn = 79;  // of an 80-column screen
constexpr size_t kMaxMove = 1000;

bool IsIntermediate(char c) { return c >= 0x20 && c <= 0x2F; }
bool IsParameter(char c) { return c >= 0x30 && c <= 0x3F; }

bool EndsInSauce(std::string_view bytes) {
  return bytes.size() >= kSauceSize &&
         bytes.substr(bytes.size() - kSauceSize, kSauceId.size()) == kSauceId;
}

// The bytes before the SAUCE record and its comment block. Only a record
// that fills the last 128 bytes counts: "SAUCE00" anywhere else is text.
std::string_view WithoutSauce(std::string_view bytes) {
  if (!EndsInSauce(bytes)) return bytes;
  const size_t record = bytes.size() - kSauceSize;
  const size_t lines =
      static_cast<unsigned char>(bytes[record + kCommentCountAt]);
  const size_t block = kCommentId.size() + lines * kCommentLineSize;
  if (lines > 0 && record >= block &&
      bytes.substr(record - block, kCommentId.size()) == kCommentId)
    return bytes.substr(0, record - block);
  return bytes.substr(0, record);
}

class Screen {
 public:
  std::string Finish() {
    EndLine();
    return std::move(text_);
  }

  void Put(char c) {
    if (c == '\r' || c == '\n') {
      EndLine();
      text_ += c;
      lineStart_ = text_.size();
    } else if (c != '\a' && c != '\b') {
      text_ += c == '\0' ? ' ' : c;
    }
  }

  // The cursor stops at the screen's right edge.
  void Forward(size_t count) {
    const size_t column = text_.size() - lineStart_;
    if (column < kLastColumn)
      text_.append(std::min(count, kLastColumn - column), ' ');
  }

 private:
  void EndLine() {
    size_t end = text_.size();
    while (end > lineStart_ &&
           (text_[end - 1] == ' ' || text_[end - 1] == '\t'))
      --end;
    text_.resize(end);
  }

  std::string text_;
  size_t lineStart_ = 0;
};

// Reads the escape sequence at text[at] (an ESC) and gives the position
// after it. A sequence broken by another byte ends before that byte, which
// is read as text; one cut off by the end of the text is dropped.
size_t SkipEscape(std::string_view text, size_t at, Screen& screen) {
  const size_t n = text.size();
  size_t i = at + 1;
  if (i < n && text[i] == '[') {
    const size_t params = ++i;
    while (i < n && IsParameter(text[i])) ++i;
    const size_t paramEnd = i;
    while (i < n && IsIntermediate(text[i])) ++i;
    if (i >= n) return n;
    const char final = text[i];
    if (final < 0x40 || final > 0x7E) return i;
    if (final == 'C' && paramEnd == i) {
      size_t count = 0;
      for (size_t k = params; k < paramEnd && text[k] >= '0' && text[k] <= '9';
           ++k)
        count = std::min(count * 10 + (text[k] - '0'), kMaxMove);
      screen.Forward(std::max<size_t>(count, 1));
    }
    return i + 1;
  }
  while (i < n && IsIntermediate(text[i])) ++i;
  if (i >= n) return n;
  return text[i] >= 0x30 && text[i] <= 0x7E ? i + 1 : i;
}

}  // namespace

bool CarriesAnsi(std::string_view bytes) {
  return bytes.find(kEscape) != std::string_view::npos || EndsInSauce(bytes);
}

std::string AnsiToText(std::string_view bytes) {
  std::string_view text = WithoutSauce(bytes);
  text = text.substr(0, text.find(kEndOfFile));
  Screen screen;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == kEscape) {
      i = SkipEscape(text, i, screen);
    } else {
      screen.Put(text[i]);
      ++i;
    }
  }
  return screen.Finish();
}

}  // namespace qm
