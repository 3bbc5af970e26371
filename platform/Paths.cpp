#include "platform/Paths.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace qm {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
  return std::string::npos;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::string TrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\' || path.back() == '/') return path;
  return path + "/";
}

std::string FileNamePart(const std::string& path) {
  size_t at = LastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string DirectoryPart(const std::string& path) {
  size_t at = LastSeparator(path);
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string PathWithoutExtension(const std::string& path) {
  std::string name = FileNamePart(path);
  return name.substr(0, name.find('.'));
}

bool IsDrivePath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') ||
         (!path.empty() && path[0] == '/');
}

std::string ResolveAgainst(const std::string& base, const std::string& path) {
  if (path.empty() || IsDrivePath(path) || base.empty()) return path;
  return TrailingBackslash(base) + path;
}

std::string ProgramDirectory() {
  return TrailingBackslash(DirectoryPart(ExecutablePath()));
}

std::string ProgramFileName() { return FileNamePart(ExecutablePath()); }

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

std::string Trim(const std::string& text) {
  auto blank = [](unsigned char c) { return c <= ' '; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace qm
