// Texts in the fixed-width character fields of records: a text ends at its
// first NUL, and a field always keeps a NUL in its last byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// The field's text: up to its NUL, at most size - 1 bytes.
std::string FieldText(const char* field, size_t size);
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}
// Stores text up to its first NUL, cut to size - 1 bytes, and zero-fills
// the rest of the field.
void SetFieldText(char* field, size_t size, std::string_view text);

template <size_t N>
void SetFieldText(char (&field)[N], std::string_view text) {
  SetFieldText(field, N, text);
}

}  // namespace qm
