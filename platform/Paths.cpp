#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

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

namespace {

bool OnlyRootMayChange(const struct stat& st) {
  return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The pointer's text, or why it cannot be trusted.
bool ReadPointer(const std::string& path, std::string& text,
                 std::string& problem) {
  const int fd =
      open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular || !OnlyRootMayChange(st)) {
    close(fd);
    problem = regular ? "must be root's and writable by root alone"
                      : "is not a regular file";
    return false;
  }
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  close(fd);
  if (n < 0) {
    problem = "cannot be read";
    return false;
  }
  text.assign(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace

ProgramFolders FindProgramFolders(const std::string& programDir) {
  ProgramFolders folders;
  folders.files = TrailingBackslash(programDir);
  const std::string pointer = folders.files + kStatePointerName;
  struct stat st {};
  if (lstat(pointer.c_str(), &st) != 0 && errno == ENOENT) {
    folders.state = folders.files;
    return folders;
  }
  std::string text, problem;
  struct stat dir {};
  if (stat(folders.files.c_str(), &dir) != 0 || !OnlyRootMayChange(dir)) {
    problem = "is in a folder that is not root's alone";
  } else if (ReadPointer(pointer, text, problem)) {
    std::string named;
    size_t from = 0;
    while (from < text.size() && named.empty()) {
      size_t end = text.find('\n', from);
      if (end == std::string::npos) end = text.size();
      const std::string line = Trim(text.substr(from, end - from));
      if (!line.empty() && line[0] != '#') named = line;
      from = end + 1;
    }
    struct stat state {};
    if (named.empty() || named[0] != '/')
      problem = "must name a folder by its absolute path";
    else if (stat(named.c_str(), &state) != 0 || !S_ISDIR(state.st_mode))
      problem = "names " + named + ", which is not a folder";
    else
      folders.state = TrailingBackslash(named);
  }
  if (folders.state.empty())
    folders.refused = pointer + " is not used: it " + problem;
  return folders;
}

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

std::optional<uint64_t> DecimalNumber(const std::string& text,
                                      size_t mostDigits) {
  const std::string digits = Trim(text);
  if (digits.empty() || digits.size() > mostDigits ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  uint64_t value = 0;
  for (const char digit : digits)
    value = value * 10 + static_cast<uint64_t>(digit - '0');
  return value;
}

}  // namespace qm
