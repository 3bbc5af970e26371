// Fixed-width text columns: padding, fitting and fitting with carry.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

// Pads text with fill to width, on the left or the right; longer text stays.
inline std::string PadText(const std::string& text, std::size_t width,
                           char fill = ' ', bool padLeft = false) {
  if (text.size() >= width) return text;
  const std::string padding(width - text.size(), fill);
  return padLeft ? padding + text : text + padding;
}

// Cuts text to width or pads it there.
inline std::string FitText(const std::string& text, std::size_t width,
                           char fill = ' ', bool padLeft = false) {
  if (text.size() > width) return text.substr(0, width);
  return PadText(text, width, fill, padLeft);
}

// As FitText (right padding); what was cut off becomes the carry.
inline std::string FitWithCarry(const std::string& text, std::size_t width,
                                std::string& carry) {
  carry = text.size() > width ? text.substr(width) : std::string();
  return FitText(text, width);
}

}  // namespace qm
