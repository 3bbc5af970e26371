#include "platform/FieldText.h"

#include <algorithm>
#include <cstring>

namespace qm {

std::string FieldText(const char* field, size_t size) {
  if (size == 0) return {};
  return std::string(field, strnlen(field, size - 1));
}

void SetFieldText(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  text = text.substr(0, text.find('\0'));
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
}

}  // namespace qm
