// Path texts as the program handles them: "\", "/" and ":" all split a
// path, and a trailing separator is added as "/" on this platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qm {

// Appends a separator unless the text is empty or already ends in one.
std::string TrailingBackslash(const std::string& path);
// The text after the last "\", "/" or ":".
std::string FileNamePart(const std::string& path);
// Up to and including the last "\", "/" or ":"; empty when there is none.
std::string DirectoryPart(const std::string& path);
// The file-name part cut before its first dot.
std::string PathWithoutExtension(const std::string& path);
// A path that names a drive ("X:...") or starts at the root ("/...").
bool IsDrivePath(const std::string& path);
// Joins a relative path to base (with a separator); absolute paths stay.
std::string ResolveAgainst(const std::string& base, const std::string& path);
// The directory of the running executable, with a trailing separator.
std::string ProgramDirectory();
// The running executable's file name (no directory).
std::string ProgramFileName();

// The file beside the program that names its state folder.
inline constexpr char kStatePointerName[] = "quillmar.state";

// Where the program's own files are (the ZIP library, Help/) and where its
// state is (settings, jobs, logs, Temp/, the duplicate index). The state is
// in the program directory itself unless kStatePointerName there names
// another folder: its first line that is neither blank nor a "#" comment,
// an absolute path. The pointer is used only when it is a regular file and
// it and the program directory are root's and writable by no one else:
// whoever could change it could choose what root's runs read and write.
struct ProgramFolders {
  std::string files;    // with a trailing separator
  std::string state;    // with a trailing separator
  std::string refused;  // why a pointer there is not used; then state is ""
};
ProgramFolders FindProgramFolders(const std::string& programDir);

std::string UpperCase(std::string text);  // ASCII letters only
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string Trim(const std::string& text);  // blanks and control characters
// Text of 1 to mostDigits decimal digits and nothing else, blanks and
// control characters around them aside.
std::optional<uint64_t> DecimalNumber(const std::string& text,
                                      size_t mostDigits);

}  // namespace qm
