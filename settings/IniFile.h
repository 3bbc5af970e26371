// The settings store: private-profile semantics over a Windows-style ini
// file. Every operation goes to the file at once; lines it does not change
// are kept byte for byte.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm {

class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;  // "Unable to write to <path>"
};

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // At most 1023 characters come back; the default when missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // The key's value in the first section of that name that holds it.
  std::optional<std::string> ReadFromAnySection(const std::string& section,
                                                const std::string& key) const;
  // Throws SettingsWriteError when the file cannot be written. The value
  // reads back as written, up to its first line break.
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value);
  // "0x"/"0X" (more than 2 characters) or "$" mark hexadecimal; anything
  // that is not an integer gives the default.
  int ReadInteger(const std::string& section, const std::string& key,
                  int defaultValue) const;
  void WriteInteger(const std::string& section, const std::string& key,
                    int value);
  // The names of the file's sections in their order, each once.
  std::vector<std::string> SectionNames() const;

 private:
  std::optional<std::string> Read(const std::string& section,
                                  const std::string& key,
                                  bool everySection) const;

  std::string path_;
};

// Settings of the main window and the setup dialog: the executable's file
// name up to its first dot, then ".ini", in the program's directory.
std::string MainSettingsPath(const std::string& programDir,
                             const std::string& exeName);
// Settings of the configuration tool: "quillmar.ini" there.
std::string ConfigToolSettingsPath(const std::string& programDir);

}  // namespace qm
